// The section reader: its transitions and rejections, the statement it builds, and the hooks it calls
// when a section closes; the record builders: balance intervals filed under account numbers, and the
// 53-field document record with its failure texts.
#include <algorithm>
#include <functional>
#include <random>
#include <sstream>

#include "mirtle/accounts.hpp"
#include "records/src/builders.hpp"
#include "support.hpp"

namespace mirtle::testing {
namespace {

const std::string kX = "1CClientBankExchange\n", kAcc = "СекцияРасчСчет\nРасчСчет=1\n",
                  kAccount = "СекцияРасчСчет\nРасчСчет=40702810000000000001\nДатаНачала=01.03.2024\n"
                             "НачальныйОстаток=100.00\nКонецРасчСчет\n",
                  kMin(kMinimalDocument);

// Each state, the lines that lead to it, and where each kind of line leads from there ("" for a
// rejection); a closing КонецФайла names the state reached, or ends the statement ("ok").
TEST(Reader, TransitionsAndRejections) {
  const std::vector<std::string> lines = {"1CClientBankExchange", "СекцияРасчСчет", "КонецРасчСчет",
                                          "СекцияДокумент=Платежное поручение", "КонецДокумента", "КонецФайла"};
  const std::string doc = kX + "СекцияДокумент=x\n", start = "ДатаНачала=01.01.2024\n";
  const std::vector<std::tuple<std::string, std::string, std::vector<std::string>>> table = {
      {"header", kX, {"", "account", "", "document", "", "", "header"}},
      {"account", kX + kAcc + start + "НачальныйОстаток=0\n", {"", "", "ok", "", "", "", "account"}},
      {"document", doc, {"", "", "", "", "ok", "", "document"}},
      {"read_next_section", doc + "КонецДокумента\n", {"", "account", "", "document", "", "finished", ""}},
      {"finished", doc + "КонецДокумента\nКонецФайла\n", {"", "", "", "", "", "", ""}}};
  Rows rows;
  for (const auto& [state, prefix, next] : table) {
    const auto at = std::count(prefix.begin(), prefix.end(), '\n') + 1;  // the line under test
    const std::string n = std::to_string(at), end = "UnexpectedSection(" + std::to_string(at + 1) + ", КонецФайла, ";
    for (std::size_t k = 0; k < 7; ++k)
      rows.push_back({prefix + (k < 6 ? lines[k] : " Ключ = Значение ") + "\nКонецФайла\n",
                      next[k] == "ok"    ? "ok"
                      : !next[k].empty() ? end + next[k] + ")"
                      : k == 6           ? "UnexpectedAttribute(" + n + ", Ключ, Значение)"
                                         : "UnexpectedSection(" + n + ", " + lines[k] + ", " + state + ")"});
  }
  // Statements that stop short, and accounts that cannot be filed: the interval is built first.
  const std::string head = kX + "ВерсияФормата=1.03\n\n";
  for (const auto& row : Rows{
           {head + kAccount + "\n\n", "Unfinished"}, {head + "СекцияДокумент=x\n" + kMin, "Unfinished"},
           {head + "СекцияРасчСчет\n" + start + "НачальныйОстаток=1\n\nКонецРасчСчет\n",
            "MissingField(8, РасчСчет, account)"},
           {head + kAcc + start + "КонецРасчСчет\n", "AccountParseError(7, missing field `НачальныйОстаток`)"},
           {head + "СекцияДокумент=x\nКонецДокумента\n" + kAcc + start + "НачальныйОстаток=1,5\nКонецРасчСчет\n",
            "AccountParseError(10, " + invalid_amount("1,5") + ")"}})
    rows.push_back(row);
  check_rows(rows, [](const std::string& input) { return summary(parse(input)); });
}

const std::string kMixed =
    kX + "А=1\nБ=2\nА=3\nВ=\nСекцияДокумент=Платежное поручение\n" + kMin + "Номер=99\nСумма=7\nКонецДокумента\n" +
    "СекцияРасчСчет\nРасчСчет=2\nДатаНачала=01.02.2024\nНачальныйОстаток=5\nДатаНачала=01.03.2024\nКонецРасчСчет\n" +
    "СекцияДокумент=Банковский ордер\nНомер=2\nКонецДокумента\n" +  // lines 28 to 30
    "СекцияРасчСчет\nРасчСчет=1\nДатаНачала=01.01.2024\nНачальныйОстаток=-0.00\nКонечныйОстаток=5e2\nДатаКонца=\n" +
    "ВсегоСписано=5.5\nВсегоПоступило=7\nКонецРасчСчет\nСекцияДокумент=Мемориальный ордер\n" + kMin + "Дата=\n" +
    "КонецДокумента\nСекцияРасчСчет\nРасчСчет=2\nДатаКонца=31.03.2024\nДатаНачала=01.01.2024\nНачальныйОстаток=9\n" +
    "КонецРасчСчет\nСекцияРасчСчет\nРасчСчет=2\nДатаНачала=01.03.2024\nНачальныйОстаток=5.00\nКонецРасчСчет\n" +
    "СекцияДокумент=x\n" + kMin + "Номер=\nПлательщикКПП=\nДатаСписано=\nНеизвестный=1\nКонецДокумента\nКонецФайла\n";

// Logs its calls as "name:Type{attrs} header", then changes the section, or refuses it.
struct TestHook : Hook {
  TestHook(std::vector<std::string>* to, std::string called, std::function<void(AttributeMap&)> change = {},
           std::string refused = "")
      : log(to), name(std::move(called)), refuse(std::move(refused)), edit(std::move(change)) {}
  HookOutcome on_section(SectionType t, AttributeMap& a, const AttributeMap& h) noexcept override {
    const bool account = t == SectionType::Account;
    auto render = [](const AttributeMap& m, std::string out = "") {
      for (const auto& [k, v] : m.entries()) out += (out.empty() ? "" : ",") + k + "=" + v;
      return out;
    };
    if (log)
      log->push_back(name + (account ? ":Account{" : ":Document{") + render(a) + (h.empty() ? "}" : "} ") + render(h));
    if (edit) edit(a);
    const bool fails = refuse == "all" || (refuse == "accounts" && account);
    return fails ? HookOutcome::failure("отказ: счет") : HookOutcome::ok();
  }
  std::vector<std::string>* log;
  std::string name, refuse;
  std::function<void(AttributeMap&)> edit;
};

TEST(Hooks, CalledInListOrderUntilOneFails) {
  const std::string head = kX + "\n", doc = "СекцияДокумент=x\nНомер=4\nНомер=5\nКонецДокумента\n",
                    a = "Account{РасчСчет=40702810000000000001,ДатаНачала=01.03.2024,НачальныйОстаток=100.00",
                    d = "Document{Номер=5}", v = " Версия=2,Отправитель=Банк";
  // Input, the sections the middle hook refuses, the outcome, and the calls of the hooks around it. The
  // middle one renumbers the account, which is filed under the new number.
  const std::vector<std::tuple<std::string, std::string, std::string, std::vector<std::string>>> cases = {
      {kX + "Версия=1\nВерсия=2\nОтправитель=Банк\n" + kAccount + doc + "КонецФайла\n", "", "ok, filed under 3",
       {"before:" + a + "}" + v, "after:Account{РасчСчет=3" + a.substr(a.find(',')) + "}" + v, "before:" + d + v,
        "after:Document{Номер=5,РасчСчет=3}" + v}},
      {head + kAccount + "КонецФайла\n", "all", "HookError(7, отказ: счет)", {"before:" + a + "}"}},
      {head + doc + "КонецФайла\n", "all", "HookError(6, отказ: счет)", {"before:" + d}},
      {head + doc + kAccount + "КонецФайла\n", "accounts", "HookError(11, отказ: счет)",
       {"before:" + d, "after:Document{Номер=5,РасчСчет=3}", "before:" + a + "}"}},
      // Sections that never close are never handed to a hook.
      {head + kAcc + "КонецФайла\n", "all", "UnexpectedSection(5, КонецФайла, account)", {}},
      {head + "СекцияДокумент=x\nмусор\nКонецДокумента\n", "all", "UnrecognizedLine(4, мусор)", {}}};
  for (const auto& [input, refused, expected, expected_log] : cases) {
    std::vector<std::string> log;
    TestHook before(&log, "before"), after(&log, "after"), middle(nullptr, "", [](AttributeMap& m) {
      m.set(std::string_view("РасчСчет"), "3");
    }, refused);
    const auto r = parse(input, {&before, &middle, &after});
    EXPECT_EQ(summary(r) + (r ? ", filed under " + r->accounts.at(0).number : ""), expected) << input;
    EXPECT_EQ(log, expected_log) << input;
  }
}

// The records in their order, repeated keys taking the last value; hooks that change nothing give the
// same statement.
TEST(Reader, RecordsInTheirOrderWithOrWithoutHooks) {
  std::vector<std::string> log;
  TestHook none(nullptr, ""), rec(&log, "r");
  const auto r = parse(kMixed), hooked = parse(kMixed, {&none, &rec, &none});
  ASSERT_TRUE(r && hooked) << summary(r) << summary(hooked);
  EXPECT_EQ(dump(*hooked), dump(*r));
  EXPECT_EQ(log.size(), 8u);
  std::string got = dump(*r);
  for (std::size_t at; (at = got.find("|Оплата по счету 5")) != std::string::npos;)  // the other document fields
    got.erase(at, got.find('\n', at) - at);
  EXPECT_EQ(got,
            "utf-8\nH А=3\nH Б=2\nH В=\n"
            "A 2 2024-01-01 2024-03-31 9 - - -\nA 2 2024-03-01 - 5 - - -\n"  // sorted; a repeat by value dropped
            "A 1 2024-01-01 - 0.00 500 7 5.5\n"                              // accounts in first-seen order
            "D 2024-03-05 7 - -|99|Платежное поручение~~\n"
            "D 2024-03-05 1500.00 - -||x~~\n"  // empty, not absent
            "W 30 missing field `Дата`\nW 54 empty string is not a valid date");
}

// "key=value" lines as a builder sees them: owned pairs, handed on as views.
struct Section {
  explicit Section(std::string_view lines) {
    for (std::size_t at = 0, end; at < lines.size(); at = end + 1) {
      end = std::min(lines.find('\n', at), lines.size());
      const std::size_t eq = lines.find('=', at);
      pairs.emplace_back(lines.substr(at, eq - at), lines.substr(eq + 1, end - eq - 1));
    }
    for (const auto& [k, v] : pairs) views.push_back({k, v});
  }
  std::vector<std::pair<std::string, std::string>> pairs;
  std::vector<AttributeView> views;
};

// Accounts in first-seen order, intervals sorted by start with equal starts in filing order, repeats by
// value dropped; enough filings for any index to take over from a scan, small pools for many repeats.
TEST(Intervals, ManyFilingsFollowTheRule) {
  std::mt19937_64 rng(1251);
  const std::vector<std::string> amounts = {"0", "-0.00", "1", "1.0", "1.00", "2", "-1", "-1.000", "1e2", "100"};
  std::uniform_int_distribution<std::size_t> pick(0, amounts.size() - 1);
  std::uniform_int_distribution<int> day(1, 6), account(0, 39), coin(0, 3);
  for (int round = 0; round < 4; ++round) {
    AccountBook book;
    std::vector<Account> expected;
    for (int i = 0; i < 3000; ++i) {
      const std::string number = "4070281000000000" + std::to_string(1000 + account(rng));
      std::string lines = "ДатаНачала=" + std::to_string(day(rng)) + ".01.2024\nНачальныйОстаток=" + amounts[pick(rng)];
      if (coin(rng) == 0) lines += "\nКонечныйОстаток=" + amounts[pick(rng)];
      if (coin(rng) == 0) lines += "\nВсегоПоступило=" + amounts[pick(rng)];
      if (coin(rng) == 0) lines += "\nДатаКонца=" + std::to_string(day(rng)) + ".02.2024";
      const Section section(lines);  // a failure points into the section
      const auto in = build_interval(section.views);
      ASSERT_TRUE(in) << message(in.error());
      book.add_interval(number, *in);
      auto a = std::find_if(expected.begin(), expected.end(), [&](const Account& x) { return x.number == number; });
      auto& list = (a == expected.end() ? expected.insert(a, Account{number, {}}) : a)->intervals;
      auto later = [&](const Interval& x) { return in->date_start < x.date_start; };
      if (std::none_of(list.begin(), list.end(), [&](const Interval& x) { return x.same_value(*in); }))
        list.insert(std::find_if(list.begin(), list.end(), later), *in);
    }
    Statement got, want;  // as text, written forms included
    got.accounts = book.finish();
    want.accounts = expected;
    EXPECT_EQ(dump(got), dump(want));
  }
}

// The twelve required lines besides the type, without the given keys.
std::string without(std::initializer_list<std::string_view> keys) {
  std::string out;
  for (const auto& [k, v] : Section(kMinimalDocument).pairs)
    if (std::find(keys.begin(), keys.end(), k) == keys.end()) out += k + "=" + v + "\n";
  return out;
}

// Each key fills its own field and no other; optional fields stay absent, texts stay texts.
TEST(Documents, EveryKeyFillsItsOwnField) {
  std::istringstream keys(
      "Номер СекцияДокумент ВидОплаты Дата НазначениеПлатежа Очередность Сумма ПлательщикИНН ПлательщикКПП "
      "ПлательщикБИК ПлательщикБанк1 ПлательщикСчет Плательщик Плательщик1 ДатаСписано ПлательщикРасчСчет "
      "ПлательщикКорсчет ПолучательИНН Получатель ПолучательСчет ПолучательКПП ПолучательБИК ПолучательБанк1 "
      "ПолучательРасчСчет ПолучательКорсчет ДатаПоступило Плательщик2 Плательщик3 Плательщик4 ПлательщикБанк2 "
      "Получатель1 Получатель2 Получатель3 Получатель4 ПолучательБанк2 ВидПлатежа СрокПлатежа Код КодНазПлатежа "
      "НазначениеПлатежа1 НазначениеПлатежа2 НазначениеПлатежа3 НазначениеПлатежа4 НазначениеПлатежа5 "
      "НазначениеПлатежа6 СтатусСоставителя ПоказательКБК ОКАТО ПоказательОснования ПоказательПериода "
      "ПоказательНомера ПоказательДаты ПоказательТипа");
  const auto& fields = document_fields();
  TextBlocks blocks;  // shared by the documents, as in a parse
  std::size_t i = 0;
  for (std::string key; keys >> key; ++i) {
    ASSERT_EQ(find_document_field(key), static_cast<DocField>(i)) << key;
    if (key == "СекцияДокумент") continue;  // always the type
    const bool text = fields[i].kind == FieldKind::Text || fields[i].kind == FieldKind::OptionalText;
    const std::string value = text ? "31.02.2024 №" + std::to_string(i) : key == "Сумма" ? "-12.340" : "29.02.2000";
    const Section section(key + "=" + value + "\n" + without({key}));
    const auto r = build_document(section.views, "Тип", blocks);
    ASSERT_TRUE(r) << message(r.error());
    for (std::size_t j = 0; j < kDocFieldCount; ++j) {
      const auto t = r->text(static_cast<DocField>(j));
      EXPECT_TRUE(t.has_value() == (fields[j].kind == FieldKind::Text || (j == i && text)) &&
                  (t && *t == value) == (j == i && text))
          << key << " " << j;
    }
    auto leap = [&](const std::optional<Date>& d, const char* k) { return (d == Date{2000, 2, 29}) == (key == k); };
    EXPECT_TRUE(leap(r->doc_date, "Дата") && leap(r->income_date, "ДатаПоступило") &&
                leap(r->outcome_date, "ДатаСписано") && *r->text(DocField::Type) == "Тип" &&
                format_amount(r->amount) == (key == "Сумма" ? "-12.340" : "1500.00"))
        << key;
  }
  EXPECT_EQ(i, kDocFieldCount);
  // "Хомер": one letter off a key; "НазначениеПЛатежа1": off only in the
  // middle, away from both ends the lookup hashes; "Кот", "Ко": short keys.
  for (const char* key : {"", "номер", "Номер ", "Номерр", "НазначениеПлатежа7", "ПлательщикИнн", "Хомер",
                          "НазначениеПЛатежа1", "Кот", "Ко", "К"})
    EXPECT_FALSE(find_document_field(key)) << key;
  EXPECT_FALSE(find_document_field(std::string_view("Сумма\0", 11)));
  // Every key with any one byte changed is no key of the table, or another one.
  for (std::size_t f = 0; f < kDocFieldCount; ++f) {
    std::string key(fields[f].key);
    for (std::size_t at = 0; at < key.size(); ++at) {
      key[at] ^= 0x01;
      const auto found = find_document_field(key);
      EXPECT_TRUE(!found || document_fields()[static_cast<std::size_t>(*found)].key == key) << key;
      key[at] ^= 0x01;
    }
  }
}

// The builder converts exactly the fields the table does not keep as texts.
TEST(Documents, TypedFieldsAreThoseNotKeptAsText) {
  std::uint64_t typed = 0;
  for (std::size_t f = 0; f < kDocFieldCount; ++f) {
    const FieldKind kind = document_fields()[f].kind;
    if (kind != FieldKind::Text && kind != FieldKind::OptionalText) typed |= std::uint64_t{1} << f;
  }
  EXPECT_EQ(typed, kTypedFields);
}

TEST(Documents, FailureTextsAndTheirPrecedence) {
  const std::string m(kMinimalDocument), dup = "duplicate field `", e = "empty string is not a valid date",
                    bare = without({"Номер", "Сумма", "Дата"}), type = "СекцияДокумент=x\n",
                    no_date = without({"Дата"}), no_sum = without({"Сумма"}), neither = without({"Дата", "Сумма"});
  Rows rows = {
      {"", "missing field `Номер`"}, {without({"Номер", "Сумма"}), "missing field `Номер`"},  // table order decides
      {without({"ПолучательБанк1", "ПлательщикИНН"}), "missing field `ПлательщикИНН`"},
      {without({"ПолучательБанк1", "ПолучательСчет"}), "missing field `ПолучательСчет`"},
      {no_sum + "сумма=1\nСумма =1", "missing field `Сумма`"}, {no_date + "Дата=", e}, {no_date + "Дата=  ", e},
      {no_sum + "Сумма=", invalid_amount("")}, {no_sum + "Сумма=12,50", invalid_amount("12,50")},
      {m + "ДатаСписано=01.13.2024", "input is out of range"}, {m + "ДатаПоступило=1.2", "premature end of input"},
      {m + "ДатаПоступило=1.2.2024 ", "trailing input"}, {m + "ДатаСписано=a", "input contains invalid characters"},
      {bare + "Дата=31.02.2024", "input is out of range"},  // a bad value wins over missing keys
      {bare + "ДатаСписано=x", "input contains invalid characters"}, {neither + "Сумма=x\nДата=", invalid_amount("x")},
      {neither + "Дата=\nСумма=x", e}, {m + "Номер=18", dup + "Номер`"},
      {m + "Дата=xx", dup + "Дата`"},  // a repeat is found before its value is read
      {no_date + "Дата=xx\nДата=01.01.2024", "input contains invalid characters"},
      {m + "ПлательщикКПП=\nПлательщикКПП=", dup + "ПлательщикКПП`"}, {m + "СекцияДокумент=x", dup + "СекцияДокумент`"},
      {type + m, dup + "СекцияДокумент`"}, {type + without({"Номер"}), dup + "СекцияДокумент`"},  // the type is last
      {type + no_sum + "Сумма=x", invalid_amount("x")}, {without({"Номер"}) + "Номер=1\nДата=x", dup + "Дата`"},
      {m + "Неизвестный=1\nНеизвестный=2\nДатаНачала=x\n=", "built"}};
  for (const auto& [k, v] : Section(kMinimalDocument).pairs)  // each required key alone
    rows.push_back({without({k}), "missing field `" + k + "`"});
  check_rows(rows, [](const std::string& lines) {
    const Section section(lines);
    TextBlocks blocks;
    const auto r = build_document(section.views, "Платежное поручение", blocks);
    return r ? "built" : message(r.error());
  });
}

}  // namespace
}  // namespace mirtle::testing
