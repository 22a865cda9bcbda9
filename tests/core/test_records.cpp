// Record builders: balance intervals and their filing under account
// numbers, and the 53-field document record with its failure texts.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "records/builders.hpp"
#include "support.hpp"

namespace mirtle {
namespace {

using testing::describe;
using testing::parse;
using testing::show;

std::string invalid_amount(std::string_view value) {
  return "invalid value: string \"" + std::string(value) +
         "\", expected a Decimal type representing a fixed-point number";
}

// Owned pairs, handed to the builders as views.
using Pairs = std::vector<std::pair<std::string, std::string>>;

std::vector<AttributeView> views(const Pairs& pairs) {
  std::vector<AttributeView> out;
  for (const auto& [k, v] : pairs) out.push_back({k, v});
  return out;
}

std::string render(const Interval& i) {
  return format_date(i.date_start) + " " + show(i.date_end) + " " + format_amount(i.start_amount) + " " +
         show(i.end_amount) + " " + show(i.total_income) + " " + show(i.total_expense);
}

// ---------------------------------------------------------------------------
// Balance intervals.

std::string interval_outcome(const Pairs& pairs) {
  const auto v = views(pairs);
  auto r = build_interval(v);
  return r ? render(*r) : r.error();
}

TEST(BuildInterval, FieldsRequiredKeysAndFailureOrder) {
  struct Case {
    Pairs attrs;
    std::string expected;
    const char* why;
  };
  const std::vector<Case> cases = {
      {{}, "missing field `ДатаНачала`", "empty section"},
      {{{"РасчСчет", "1"}, {"НачальныйОстаток", "1"}}, "missing field `ДатаНачала`", "no start date"},
      {{{"ДатаНачала", "01.01.2024"}}, "missing field `НачальныйОстаток`", "no opening balance"},
      {{{"КонечныйОстаток", "1"}}, "missing field `ДатаНачала`", "the start date is checked first"},
      {{{"РасчСчет", "1"}, {"ДатаНачала", "01.03.2024"}, {"НачальныйОстаток", "100.00"}},
       "2024-03-01 - 100.00 - - -", "required keys only: the optional fields are absent"},
      {{{"ВсегоСписано", "5.5"},
        {"ВсегоПоступило", "7"},
        {"КонечныйОстаток", "101.50"},
        {"НачальныйОстаток", "100.00"},
        {"ДатаКонца", "31.03.2024"},
        {"ДатаНачала", "01.03.2024"}},
       "2024-03-01 2024-03-31 100.00 101.50 7 5.5", "all six, in any order"},
      {{{"ДатаНачала", "01.03.2024"}, {"НачальныйОстаток", "-0.00"}, {"ДатаКонца", ""}},
       "2024-03-01 - 0.00 - - -", "a blank end date is absent"},
      {{{"ДатаНачала", "01.03.2024"}, {"НачальныйОстаток", "1e3"}, {"ДатаКонца", " \t"}},
       "2024-03-01 - 1000 - - -", "a white-space end date is absent"},
      {{{"ДатаНачала", "01.03.2024"}, {"НачальныйОстаток", "1"}, {"ВсегоСписано", ""}}, invalid_amount(""),
       "an empty optional amount fails"},
      {{{"ДатаНачала", "01.03.2024"}, {"НачальныйОстаток", ""}}, invalid_amount(""), "an empty opening balance"},
      {{{"ДатаНачала", ""}, {"НачальныйОстаток", "1"}}, "empty string is not a valid date", "a blank start date"},
      {{{"ДатаНачала", "01.03.2024"}, {"НачальныйОстаток", "1"}, {"ДатаКонца", "31.02.2024"}},
       "input is out of range", "an impossible end date"},
      {{{"ВсегоПоступило", "x"}}, invalid_amount("x"), "a bad value wins over a missing key"},
      {{{"ДатаКонца", "01.02"}}, "premature end of input", "a bad end date wins over a missing key"},
      {{{"ДатаНачала", "31.02.2024"}, {"ВсегоСписано", "1,5"}}, "input is out of range", "the first bad value wins"},
      {{{"ВсегоСписано", "1,5"}, {"ДатаНачала", "31.02.2024"}}, invalid_amount("1,5"), "the first bad value wins"},
      {{{"КонечныйОстаток", "1 5"}, {"ДатаНачала", "01.01.2024"}, {"НачальныйОстаток", "1"}}, invalid_amount("1 5"),
       "a bad value before good ones"},
      {{{"РасчСчет", ""},
        {"Дата", "вчера"},
        {"Сумма", "много"},
        {"датаначала", "x"},
        {"ДатаНачала ", "x"},
        {"", "x"},
        {"ДатаНачала", "01.01.2024"},
        {"НачальныйОстаток", "0"}},
       "2024-01-01 - 0 - - -", "other keys are ignored without looking at their values"},
      {{{"датаначала", "01.01.2024"}, {"НачальныйОстаток", "0"}}, "missing field `ДатаНачала`",
       "keys are compared byte for byte"},
      {{{"ДатаНачала", "\t1. 2.+20240"}, {"НачальныйОстаток", "12.3e-1"}}, "+20240-02-01 - 1.23 - - -",
       "values go through the value rules"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(interval_outcome(c.attrs), c.expected);
  }
}

Interval make_interval(const std::string& start, const std::string& balance, std::optional<std::string> end_amount = {},
                       std::optional<std::string> end_date = {}) {
  Pairs attrs = {{"ДатаНачала", start}, {"НачальныйОстаток", balance}};
  if (end_amount) attrs.push_back({"КонечныйОстаток", *end_amount});
  if (end_date) attrs.push_back({"ДатаКонца", *end_date});
  const auto v = views(attrs);
  auto r = build_interval(v);
  EXPECT_TRUE(r) << r.error();
  return r ? *r : Interval{};
}

std::string render(const std::vector<Account>& accounts) {
  std::string out;
  for (const Account& a : accounts) {
    out += a.number + ":";
    for (const Interval& i : a.intervals) out += " [" + render(i) + "]";
    out += "\n";
  }
  return out;
}

TEST(AddInterval, OrderingAndRepeats) {
  struct Filing {
    std::string number;
    Interval interval;
  };
  struct Case {
    std::vector<Filing> filings;
    std::string expected;
    const char* why;
  };
  const std::vector<Case> cases = {
      {{{"1", make_interval("01.03.2024", "1")}, {"1", make_interval("01.02.2024", "2")}},
       "1: [2024-02-01 - 2 - - -] [2024-03-01 - 1 - - -]\n", "sorted by start date"},
      {{{"1", make_interval("01.03.2024", "100.00")}, {"1", make_interval("01.03.2024", "100")}},
       "1: [2024-03-01 - 100.00 - - -]\n", "a repeat by value is dropped; the first written form stays"},
      {{{"1", make_interval("01.03.2024", "0")}, {"1", make_interval("01.03.2024", "-0.00")}},
       "1: [2024-03-01 - 0 - - -]\n", "zero and negative zero are equal"},
      {{{"1", make_interval("01.03.2024", "5", "1.0")}, {"1", make_interval("01.03.2024", "5.00", "1")}},
       "1: [2024-03-01 - 5 1.0 - -]\n", "optional amounts compare by value"},
      {{{"1", make_interval("01.03.2024", "5", "7")}, {"1", make_interval("01.03.2024", "5", "8")}},
       "1: [2024-03-01 - 5 7 - -] [2024-03-01 - 5 8 - -]\n", "same start, different closing balance: file order"},
      {{{"1", make_interval("01.03.2024", "5", "8")},
        {"1", make_interval("01.01.2024", "5")},
        {"1", make_interval("01.03.2024", "5", "7")},
        {"1", make_interval("01.03.2024", "5", "8.0")},
        {"1", make_interval("01.02.2024", "5")}},
       "1: [2024-01-01 - 5 - - -] [2024-02-01 - 5 - - -] [2024-03-01 - 5 8 - -] [2024-03-01 - 5 7 - -]\n",
       "equal starts keep their filing order among sorted ones; a repeat anywhere in the run is dropped"},
      {{{"1", make_interval("01.03.2024", "5")}, {"1", make_interval("01.03.2024", "5", "5")}},
       "1: [2024-03-01 - 5 - - -] [2024-03-01 - 5 5 - -]\n", "an absent amount differs from a present one"},
      {{{"1", make_interval("01.03.2024", "5")}, {"1", make_interval("01.03.2024", "5", {}, "31.03.2024")}},
       "1: [2024-03-01 - 5 - - -] [2024-03-01 2024-03-31 5 - - -]\n", "an absent end date differs from a present one"},
      {{{"1", make_interval("01.03.2024", "5", {}, "31.03.2024")},
        {"1", make_interval("01.03.2024", "5", {}, "30.03.2024")}},
       "1: [2024-03-01 2024-03-31 5 - - -] [2024-03-01 2024-03-30 5 - - -]\n", "different end dates"},
      {{{"1", make_interval("01.03.2024", "5")}, {"1", make_interval("01.03.2023", "5")}},
       "1: [2023-03-01 - 5 - - -] [2024-03-01 - 5 - - -]\n", "same balance, different start"},
      {{{"4070281000000000000A", make_interval("01.03.2024", "1")},
        {"4070281000000000000a", make_interval("01.03.2024", "1")},
        {"040702810000000000001", make_interval("01.03.2024", "1")},
        {"40702810000000000001", make_interval("01.03.2024", "1")},
        {"4070281000000000000A", make_interval("01.03.2024", "1.0")}},
       "4070281000000000000A: [2024-03-01 - 1 - - -]\n"
       "4070281000000000000a: [2024-03-01 - 1 - - -]\n"
       "040702810000000000001: [2024-03-01 - 1 - - -]\n"
       "40702810000000000001: [2024-03-01 - 1 - - -]\n",
       "numbers compare byte for byte; accounts in first-seen order"},
      {{{"9", make_interval("01.01.2024", "1")},
        {"1", make_interval("01.01.2024", "1")},
        {"5", make_interval("01.01.2024", "1")},
        {"1", make_interval("01.01.2023", "1")}},
       "9: [2024-01-01 - 1 - - -]\n1: [2023-01-01 - 1 - - -] [2024-01-01 - 1 - - -]\n5: [2024-01-01 - 1 - - -]\n",
       "accounts are not sorted"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    AccountBook book;
    for (const Filing& f : c.filings) book.add_interval(f.number, f.interval);
    EXPECT_EQ(render(book.finish()), c.expected);
  }
}

// The filing rule written out step by step: binary search for the first
// start not earlier, scan the run of equal starts for a repeat, insert
// after the run.
void file_by_the_rule(std::vector<Account>& accounts, const std::string& number, const Interval& interval) {
  auto account = std::find_if(accounts.begin(), accounts.end(), [&](const Account& a) { return a.number == number; });
  if (account == accounts.end()) {
    accounts.push_back(Account{number, {interval}});
    return;
  }
  auto& list = account->intervals;
  auto p = std::lower_bound(list.begin(), list.end(), interval.date_start,
                            [](const Interval& i, const Date& d) { return i.date_start < d; });
  auto q = p;
  for (; q != list.end() && q->date_start == interval.date_start; ++q)
    if (q->same_value(interval)) return;
  list.insert(q, interval);
}

TEST(AddInterval, ManyFilingsFollowTheRule) {
  // Enough accounts and intervals per account for any lookup structure to
  // take over from a scan; small value pools make repeats and equal starts
  // frequent, and varied scales make repeats that differ in written form.
  std::mt19937_64 rng(1251);
  const std::vector<std::string> amounts = {"0", "-0.00", "1", "1.0", "1.00", "2", "-1", "-1.000", "1e2", "100"};
  std::uniform_int_distribution<std::size_t> pick(0, amounts.size() - 1);
  std::uniform_int_distribution<int> day(1, 6), account(0, 39), coin(0, 3);
  for (int round = 0; round < 4; ++round) {
    AccountBook book;
    std::vector<Account> expected;
    for (int i = 0; i < 3000; ++i) {
      const std::string number = "4070281000000000" + std::to_string(1000 + account(rng));
      Pairs attrs = {{"ДатаНачала", std::to_string(day(rng)) + ".01.2024"}, {"НачальныйОстаток", amounts[pick(rng)]}};
      if (coin(rng) == 0) attrs.push_back({"КонечныйОстаток", amounts[pick(rng)]});
      if (coin(rng) == 0) attrs.push_back({"ВсегоПоступило", amounts[pick(rng)]});
      if (coin(rng) == 0) attrs.push_back({"ДатаКонца", std::to_string(day(rng)) + ".02.2024"});
      const auto v = views(attrs);
      auto interval = build_interval(v);
      ASSERT_TRUE(interval) << interval.error();
      book.add_interval(number, *interval);
      file_by_the_rule(expected, number, *interval);
    }
    const std::vector<Account> got = book.finish();
    ASSERT_EQ(got.size(), expected.size());
    for (std::size_t a = 0; a < got.size(); ++a) {
      ASSERT_EQ(got[a].number, expected[a].number);
      ASSERT_EQ(got[a].intervals.size(), expected[a].intervals.size()) << got[a].number;
      for (std::size_t i = 0; i < got[a].intervals.size(); ++i)
        ASSERT_TRUE(got[a].intervals[i].identical(expected[a].intervals[i]))
            << got[a].number << " #" << i << ": " << render(got[a].intervals[i]) << " vs "
            << render(expected[a].intervals[i]);
    }
  }
}

TEST(AddInterval, ThroughAStatement) {
  auto section = [](const std::string& number, const std::string& start, const std::string& balance) {
    return "СекцияРасчСчет\nРасчСчет=" + number + "\nДатаНачала=" + start + "\nНачальныйОстаток=" + balance +
           "\nКонецРасчСчет\n";
  };
  auto r = parse("1CClientBankExchange\n" + section("2", "01.03.2024", "100.00") + section("1", "01.03.2024", "1") +
                 section("2", "01.02.2024", "5") + section("2", "01.03.2024", "100") + "КонецФайла\n");
  ASSERT_TRUE(r) << describe(r);
  EXPECT_EQ(render(r->accounts), "2: [2024-02-01 - 5 - - -] [2024-03-01 - 100.00 - - -]\n1: [2024-03-01 - 1 - - -]\n");
  EXPECT_TRUE(r->warnings.empty());
}

// ---------------------------------------------------------------------------
// Documents.

// The record's fields in their order: key, kind, required.
struct FieldRow {
  std::string_view key;
  FieldKind kind;
  bool required;
};

using K = FieldKind;
const std::vector<FieldRow> kFieldTable = {
    {"Номер", K::Text, true},
    {"СекцияДокумент", K::Text, true},
    {"ВидОплаты", K::OptionalText, false},
    {"Дата", K::Date, true},
    {"НазначениеПлатежа", K::Text, true},
    {"Очередность", K::OptionalText, false},
    {"Сумма", K::Amount, true},
    {"ПлательщикИНН", K::Text, true},
    {"ПлательщикКПП", K::OptionalText, false},
    {"ПлательщикБИК", K::Text, true},
    {"ПлательщикБанк1", K::Text, true},
    {"ПлательщикСчет", K::Text, true},
    {"Плательщик", K::OptionalText, false},
    {"Плательщик1", K::OptionalText, false},
    {"ДатаСписано", K::OptionalDate, false},
    {"ПлательщикРасчСчет", K::OptionalText, false},
    {"ПлательщикКорсчет", K::OptionalText, false},
    {"ПолучательИНН", K::Text, true},
    {"Получатель", K::OptionalText, false},
    {"ПолучательСчет", K::Text, true},
    {"ПолучательКПП", K::OptionalText, false},
    {"ПолучательБИК", K::Text, true},
    {"ПолучательБанк1", K::Text, true},
    {"ПолучательРасчСчет", K::OptionalText, false},
    {"ПолучательКорсчет", K::OptionalText, false},
    {"ДатаПоступило", K::OptionalDate, false},
    {"Плательщик2", K::OptionalText, false},
    {"Плательщик3", K::OptionalText, false},
    {"Плательщик4", K::OptionalText, false},
    {"ПлательщикБанк2", K::OptionalText, false},
    {"Получатель1", K::OptionalText, false},
    {"Получатель2", K::OptionalText, false},
    {"Получатель3", K::OptionalText, false},
    {"Получатель4", K::OptionalText, false},
    {"ПолучательБанк2", K::OptionalText, false},
    {"ВидПлатежа", K::OptionalText, false},
    {"СрокПлатежа", K::OptionalText, false},
    {"Код", K::OptionalText, false},
    {"КодНазПлатежа", K::OptionalText, false},
    {"НазначениеПлатежа1", K::OptionalText, false},
    {"НазначениеПлатежа2", K::OptionalText, false},
    {"НазначениеПлатежа3", K::OptionalText, false},
    {"НазначениеПлатежа4", K::OptionalText, false},
    {"НазначениеПлатежа5", K::OptionalText, false},
    {"НазначениеПлатежа6", K::OptionalText, false},
    {"СтатусСоставителя", K::OptionalText, false},
    {"ПоказательКБК", K::OptionalText, false},
    {"ОКАТО", K::OptionalText, false},
    {"ПоказательОснования", K::OptionalText, false},
    {"ПоказательПериода", K::OptionalText, false},
    {"ПоказательНомера", K::OptionalText, false},
    {"ПоказательДаты", K::OptionalText, false},
    {"ПоказательТипа", K::OptionalText, false},
};

DocField field_at(std::size_t i) { return static_cast<DocField>(i); }

// The twelve required keys besides the type, in a section's usual order.
const Pairs kRequired = {
    {"Номер", "17"},
    {"Дата", "05.03.2024"},
    {"Сумма", "1500.00"},
    {"НазначениеПлатежа", "Оплата по счету 5"},
    {"ПлательщикИНН", "7701000000"},
    {"ПлательщикБИК", "044525000"},
    {"ПлательщикБанк1", "АО Банк"},
    {"ПлательщикСчет", "40702810000000000001"},
    {"ПолучательИНН", "7702000000"},
    {"ПолучательСчет", "40702810000000000002"},
    {"ПолучательБИК", "044525001"},
    {"ПолучательБанк1", "ПАО Банк"},
};

Result<Document, std::string> build(const Pairs& pairs, std::string_view type = "Платежное поручение") {
  const auto v = views(pairs);
  return build_document(v, type);
}

std::string failure_of(const Pairs& pairs, std::string_view type = "Платежное поручение") {
  auto r = build(pairs, type);
  return r ? "built" : r.error();
}

Pairs without(Pairs pairs, std::initializer_list<std::string_view> keys) {
  std::erase_if(pairs, [&](const auto& p) { return std::find(keys.begin(), keys.end(), p.first) != keys.end(); });
  return pairs;
}

Pairs with(Pairs pairs, const Pairs& more) {
  pairs.insert(pairs.end(), more.begin(), more.end());
  return pairs;
}

TEST(DocumentFields, TableOfTheRecord) {
  ASSERT_EQ(kFieldTable.size(), kDocFieldCount);
  const auto& fields = document_fields();
  std::size_t required = 0;
  for (std::size_t i = 0; i < kDocFieldCount; ++i) {
    SCOPED_TRACE(kFieldTable[i].key);
    EXPECT_EQ(fields[i].key, kFieldTable[i].key);
    EXPECT_EQ(fields[i].kind, kFieldTable[i].kind);
    EXPECT_EQ(fields[i].required, kFieldTable[i].required);
    required += kFieldTable[i].required ? 1 : 0;
    const auto found = find_document_field(kFieldTable[i].key);
    ASSERT_TRUE(found);
    EXPECT_EQ(*found, field_at(i));
  }
  EXPECT_EQ(required, 13u);
}

TEST(DocumentFields, OnlyExactKeysAreFound) {
  for (const std::string key :
       {"", "номер", "НОМЕР", "Номер ", " Номер", "Номе", "Номерр", "НазначениеПлатежа7", "НазначениеПлатежа0",
        "Плательщик5", "ПлательщикБанк3", "Получатель5", "ПлательщикИнн", "ОКАТО1", "OKATO", "Kод", "Код ",
        "СекцияДокумент=", "ДатаНачала", "РасчСчет", "ДатаКонца", "Nomer"}) {
    SCOPED_TRACE(key);
    EXPECT_FALSE(find_document_field(key));
  }
  // A key with the same length and last bytes as a table key.
  EXPECT_FALSE(find_document_field("Хомер"));
  EXPECT_FALSE(find_document_field(std::string_view("Сумма\0", 11)));
}

TEST(BuildDocument, MinimalSectionLeavesEveryOptionalFieldAbsent) {
  auto r = build(kRequired);
  ASSERT_TRUE(r) << r.error();
  const Document& d = *r;
  EXPECT_EQ(format_date(d.doc_date), "2024-03-05");
  EXPECT_EQ(format_amount(d.amount), "1500.00");
  EXPECT_FALSE(d.outcome_date);
  EXPECT_FALSE(d.income_date);
  std::size_t absent = 0;
  for (std::size_t i = 0; i < kDocFieldCount; ++i) {
    SCOPED_TRACE(kFieldTable[i].key);
    const auto text = d.text(field_at(i));
    const bool is_text = kFieldTable[i].kind == K::Text || kFieldTable[i].kind == K::OptionalText;
    if (kFieldTable[i].kind == K::Text) {
      ASSERT_TRUE(text);
    } else {
      EXPECT_FALSE(text);
    }
    if (!kFieldTable[i].required) ++absent;
    if (!is_text) continue;
    if (i == 1) {
      EXPECT_EQ(*text, "Платежное поручение");
    } else if (kFieldTable[i].required) {
      const auto given = std::find_if(kRequired.begin(), kRequired.end(),
                                      [&](const auto& p) { return p.first == kFieldTable[i].key; });
      ASSERT_NE(given, kRequired.end());
      EXPECT_EQ(*text, given->second);
    }
  }
  EXPECT_EQ(absent, 40u);
}

TEST(BuildDocument, EveryKeyFillsItsOwnField) {
  for (std::size_t i = 0; i < kDocFieldCount; ++i) {
    const FieldRow& row = kFieldTable[i];
    if (row.key == "СекцияДокумент") continue;  // always the type
    SCOPED_TRACE(row.key);
    std::string value;
    switch (row.kind) {
      case K::Text:
      case K::OptionalText: value = "значение " + std::to_string(i); break;
      case K::Date:
      case K::OptionalDate: value = "29.02.2000"; break;
      case K::Amount: value = "-12.340"; break;
    }
    Pairs pairs = without(kRequired, {row.key});
    pairs.insert(pairs.begin() + static_cast<std::ptrdiff_t>(i % pairs.size()), {std::string(row.key), value});
    auto r = build(pairs);
    ASSERT_TRUE(r) << r.error();
    for (std::size_t j = 0; j < kDocFieldCount; ++j) {
      const auto text = r->text(field_at(j));
      if (j == i && (row.kind == K::Text || row.kind == K::OptionalText)) {
        ASSERT_TRUE(text);
        EXPECT_EQ(*text, value);
      } else if (text) {
        EXPECT_EQ(text->find("значение"), std::string_view::npos) << "field " << j << " took the value";
      }
    }
    const Date leap_day{2000, 2, 29};
    EXPECT_EQ(r->doc_date == leap_day, row.key == "Дата");
    EXPECT_EQ(r->outcome_date == leap_day, row.key == "ДатаСписано");
    EXPECT_EQ(r->income_date == leap_day, row.key == "ДатаПоступило");
    EXPECT_EQ(format_amount(r->amount), row.key == "Сумма" ? "-12.340" : "1500.00");
  }
}

TEST(BuildDocument, EmptyAndBlankValues) {
  auto r = build(with(without(kRequired, {"Номер"}),
                      {{"Номер", ""}, {"ПлательщикКПП", ""}, {"ДатаСписано", ""}, {"ДатаПоступило", " "}, {"Код", " "}}),
                 "");
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(r->text(DocField::Number), "");
  EXPECT_EQ(r->text(DocField::Type), "");
  EXPECT_EQ(r->text(DocField::PayerKpp), "");  // empty, not absent
  EXPECT_EQ(r->text(DocField::Uin), " ");      // texts are kept as they stand
  EXPECT_FALSE(r->outcome_date);
  EXPECT_FALSE(r->income_date);
  EXPECT_FALSE(r->text(DocField::PayeeKpp));
}

TEST(BuildDocument, DateLikeTextsStayTexts) {
  auto r = build(with(kRequired, {{"СрокПлатежа", "05.03.2024"}, {"ПоказательДаты", "31.02.2024"},
                                  {"ПоказательПериода", "МС.03.2024"}, {"Очередность", "5"}}));
  ASSERT_TRUE(r) << r.error();
  EXPECT_EQ(r->text(DocField::PaymentDeadline), "05.03.2024");
  EXPECT_EQ(r->text(DocField::TaxDate), "31.02.2024");
  EXPECT_EQ(r->text(DocField::TaxPeriod), "МС.03.2024");
  EXPECT_EQ(r->text(DocField::Ordering), "5");
}

TEST(BuildDocument, MissingRequiredKeys) {
  struct Case {
    Pairs attrs;
    std::string expected;
    const char* why;
  };
  std::vector<Case> cases = {
      {{}, "missing field `Номер`", "nothing but the type"},
      {without(kRequired, {"Номер", "Сумма"}), "missing field `Номер`", "table order decides"},
      {without(kRequired, {"ПолучательБанк1", "ПлательщикИНН"}), "missing field `ПлательщикИНН`",
       "table order, not section order"},
      {without(kRequired, {"ПолучательБанк1", "ПолучательСчет"}), "missing field `ПолучательСчет`",
       "table order among payee keys"},
      {with(without(kRequired, {"Сумма"}), {{"сумма", "1"}, {"Сумма ", "1"}}), "missing field `Сумма`",
       "keys differing in case or spacing are unknown"},
  };
  // Each required key alone.
  for (const FieldRow& row : kFieldTable) {
    if (!row.required || row.key == "СекцияДокумент") continue;
    cases.push_back({without(kRequired, {row.key}), "missing field `" + std::string(row.key) + "`", "one key"});
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    SCOPED_TRACE(c.expected);
    EXPECT_EQ(failure_of(c.attrs), c.expected);
  }
}

TEST(BuildDocument, FailureTextsAndTheirPrecedence) {
  struct Case {
    Pairs attrs;
    std::string expected;
    const char* why;
  };
  const Pairs bare = without(kRequired, {"Номер", "Сумма"});
  const std::vector<Case> cases = {
      {with(without(kRequired, {"Дата"}), {{"Дата", ""}}), "empty string is not a valid date", "blank Дата"},
      {with(without(kRequired, {"Дата"}), {{"Дата", "  "}}), "empty string is not a valid date", "white-space Дата"},
      {with(without(kRequired, {"Сумма"}), {{"Сумма", ""}}), invalid_amount(""), "empty Сумма"},
      {with(without(kRequired, {"Сумма"}), {{"Сумма", "12,50"}}), invalid_amount("12,50"), "bad Сумма"},
      {with(kRequired, {{"ДатаСписано", "01.13.2024"}}), "input is out of range", "bad ДатаСписано"},
      {with(kRequired, {{"ДатаПоступило", "1.2"}}), "premature end of input", "bad ДатаПоступило"},
      {with(kRequired, {{"ДатаПоступило", "1.2.2024 "}}), "trailing input", "trailing ДатаПоступило"},
      {with(kRequired, {{"ДатаСписано", "a"}}), "input contains invalid characters", "letters for a date"},
      {with(without(bare, {"Дата"}), {{"Дата", "31.02.2024"}}), "input is out of range",
       "a bad value wins over missing keys"},
      {with(without(bare, {"Дата"}), {{"ДатаСписано", "x"}}), "input contains invalid characters",
       "a bad optional date wins over a missing Дата"},
      {with(without(kRequired, {"Дата", "Сумма"}), {{"Сумма", "x"}, {"Дата", ""}}), invalid_amount("x"),
       "the earlier bad value wins"},
      {with(without(kRequired, {"Дата", "Сумма"}), {{"Дата", ""}, {"Сумма", "x"}}),
       "empty string is not a valid date", "the earlier bad value wins"},
      {with(kRequired, {{"Номер", "18"}}), "duplicate field `Номер`", "a repeated text key"},
      {with(kRequired, {{"Дата", "xx"}}), "duplicate field `Дата`", "a repeat is found before its value is read"},
      {with(without(kRequired, {"Дата"}), {{"Дата", "xx"}, {"Дата", "01.01.2024"}}),
       "input contains invalid characters", "a bad first value wins over the repeat"},
      {with(kRequired, {{"ПлательщикКПП", ""}, {"ПлательщикКПП", ""}}), "duplicate field `ПлательщикКПП`",
       "a repeated optional key"},
      {with(kRequired, {{"СекцияДокумент", "Платежное поручение"}}), "duplicate field `СекцияДокумент`",
       "the type given among the attributes"},
      {with({{"СекцияДокумент", "x"}}, kRequired), "duplicate field `СекцияДокумент`",
       "the type pair comes last, whatever the position of the other"},
      {with(with({{"СекцияДокумент", "x"}}, without(kRequired, {"Сумма"})), {{"Сумма", "x"}}), invalid_amount("x"),
       "a bad value in the attributes wins over the type's repeat"},
      {with({{"СекцияДокумент", "x"}}, without(kRequired, {"Номер"})), "duplicate field `СекцияДокумент`",
       "the repeat of the type wins over a missing key"},
      {with(without(kRequired, {"Номер"}), {{"Номер", "1"}, {"Дата", "x"}}), "duplicate field `Дата`",
       "pairs are read in order"},
      {with(kRequired, {{"Неизвестный", "1"}, {"Неизвестный", "2"}, {"ДатаНачала", "x"}, {"", ""}}), "built",
       "unknown keys, repeated or not, are ignored"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(failure_of(c.attrs), c.expected);
  }
}

TEST(BuildDocument, RecordOwnsItsTexts) {
  std::vector<std::string> storage;
  std::vector<std::string> keys;
  for (const auto& pair : kRequired) {
    keys.push_back(pair.first);
    storage.push_back(pair.second + " " + std::string(64, 'x'));
  }
  std::optional<Document> doc;
  {
    std::vector<AttributeView> attrs;
    for (std::size_t i = 0; i < keys.size(); ++i) attrs.push_back({keys[i], storage[i]});
    attrs[1].value = "05.03.2024";
    attrs[2].value = "1";
    std::string type = "Платежное поручение " + std::string(64, 'y');
    auto r = build_document(attrs, type);
    ASSERT_TRUE(r) << r.error();
    doc = std::move(r).value();
    for (std::string& s : storage) s.assign(s.size(), '#');
    type.assign(type.size(), '#');
  }
  storage.clear();
  EXPECT_EQ(doc->text(DocField::Number), "17 " + std::string(64, 'x'));
  EXPECT_EQ(doc->text(DocField::Type), "Платежное поручение " + std::string(64, 'y'));
  EXPECT_EQ(doc->text(DocField::PayeeBank1), "ПАО Банк " + std::string(64, 'x'));
  const Document copy = *doc;
  doc.reset();
  EXPECT_EQ(copy.text(DocField::PayerBank1), "АО Банк " + std::string(64, 'x'));
}

TEST(BuildDocument, FailedDocumentInAStatementIsOneWarning) {
  const std::string ok = "СекцияДокумент=Платежное поручение\n" + std::string(testing::kMinimalDocument) +
                         "КонецДокумента\n";
  auto r = parse("1CClientBankExchange\n" + ok +
                 "СекцияДокумент=Платежное поручение\nДата=31.02.2024\nКонецДокумента\n" +  // lines 16-18
                 "СекцияРасчСчет\nРасчСчет=1\nДатаНачала=01.01.2024\nНачальныйОстаток=1\nКонецРасчСчет\n" + ok +
                 "КонецФайла\n");
  ASSERT_TRUE(r) << describe(r);
  ASSERT_EQ(r->warnings.size(), 1u);
  EXPECT_EQ(r->warnings[0].lineno, 18u);
  EXPECT_EQ(r->warnings[0].message, "input is out of range");
  EXPECT_EQ(r->documents.size(), 2u);
  EXPECT_EQ(r->accounts.size(), 1u);
}

}  // namespace
}  // namespace mirtle
