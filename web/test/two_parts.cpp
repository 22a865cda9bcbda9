// Under WebAssembly without threads, a parse asked to read in two parts
// must fall back to one thread and give the very same statement, errors
// and warnings included.  Run by module.test.mjs with Node.js; prints
// "same" for each case that agrees.
#include <cstdio>
#include <string>

#include "mirtle/statement.hpp"

namespace {

std::string statement(int documents, bool damaged) {
  std::string text =
      "1CClientBankExchange\nВерсияФормата=1.03\nКодировка=UTF-8\n"
      "СекцияРасчСчет\nДатаНачала=01.03.2024\nРасчСчет=40702810000000000001\nНачальныйОстаток=10.00\nКонецРасчСчет\n";
  for (int i = 0; i < documents; ++i) {
    text += "СекцияДокумент=Платежное поручение\nНомер=" + std::to_string(i) +
            "\nДата=04.03.2024\nСумма=" + (i == documents / 2 ? std::string("1,5") : std::to_string(i) + ".25") +
            "\nНазначениеПлатежа=оплата\nПлательщикСчет=40702810000000000001\nКонецДокумента\n";
  }
  if (damaged) text += "не строка выписки\n";
  return text + "КонецФайла\n";
}

bool same(const mirtle::ParseResult& a, const mirtle::ParseResult& b) {
  if (a.has_value() != b.has_value()) return false;
  if (!a) return a.error().lineno == b.error().lineno && a.error().kind == b.error().kind;
  return a.value() == b.value();
}

}  // namespace

int main() {
  for (const bool damaged : {false, true}) {
    const std::string text = statement(20000, damaged);
    mirtle::ParseOptions one, two;
    one.threads = 1;
    two.threads = 2;
    two.split_from = 1;
    const auto whole = mirtle::parse_statement({}, text, one);
    const auto parts = mirtle::parse_statement({}, text, two);
    std::printf("%s %s\n", damaged ? "damaged" : "sound", same(whole, parts) ? "same" : "different");
  }
}
