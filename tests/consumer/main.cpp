// Parses a small statement through the installed headers and libraries; exits 0 when the records,
// the section stream, the JSON and the balance checks come out as written.
#include <cstdio>
#include <string>
#include <mirtle/balances.hpp>
#include <mirtle/export.hpp>
#include <mirtle/sections.hpp>
#include <mirtle/statement.hpp>

int main() {
  const char text[] =
      "1CClientBankExchange\nСекцияРасчСчет\nРасчСчет=40702810000000000001\nДатаНачала=01.03.2024\n"
      "НачальныйОстаток=100.50\nКонецРасчСчет\nКонецФайла\n";
  const auto statement = mirtle::parse_statement({}, text);
  if (!statement || statement->accounts.size() != 1 ||
      mirtle::format_amount(statement->accounts[0].intervals[0].start_amount) != "100.50") {
    std::puts("parse_statement failed");
    return 1;
  }
  const auto raw = mirtle::read_sections(text);
  if (!raw || raw->sections.size() != 1 || raw->sections[0].attributes.size() != 3) {
    std::puts("read_sections failed");
    return 1;
  }
  mirtle::StringSink json;
  mirtle::write_json(*statement, json);
  if (json.bytes.find("\"start_amount\":\"100.50\"") == std::string::npos) {
    std::puts("write_json failed");
    return 1;
  }
  const auto rows = mirtle::check_balances(*statement);
  if (rows.size() != 1 || rows[0].arithmetic_ok.has_value()) {
    std::puts("check_balances failed");
    return 1;
  }
  if (mirtle::xlsx_available()) {
    mirtle::StringSink book;
    mirtle::write_xlsx(*statement, book, {});
    if (book.bytes.substr(0, 2) != "PK") {
      std::puts("write_xlsx failed");
      return 1;
    }
  }
  std::puts("ok");
  return 0;
}
