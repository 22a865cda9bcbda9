// The balance checks against a computation of the test's own: amounts as
// scaled integers, dates as day numbers, documents matched to periods by
// brute force.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "exact.hpp"
#include "mirtle/balances.hpp"
#include "mirtle/statement.hpp"

namespace mirtle {
namespace {

using Cents = __int128;  // every amount below has at most two decimals

std::string cents_text(Cents c) {
  const bool negative = c < 0;
  if (negative) c = -c;
  std::string digits;
  do {
    digits.insert(digits.begin(), static_cast<char>('0' + static_cast<int>(c % 10)));
    c /= 10;
  } while (c != 0);
  while (digits.size() < 3) digits.insert(digits.begin(), '0');
  digits.insert(digits.end() - 2, '.');
  return (negative ? "-" : "") + digits;
}

// Day n of March 2024 (n = 1..31) and on into April.
struct Day {
  int n;
  std::string text() const {
    const int month = n <= 31 ? 3 : 4;
    const int day = n <= 31 ? n : n - 31;
    return std::string(day < 10 ? "0" : "") + std::to_string(day) + (month == 3 ? ".03.2024" : ".04.2024");
  }
};

struct TestInterval {
  std::string account;
  int start, end;  // days
  Cents opening, income, expense, closing;
};
struct TestDocument {
  std::string payer, payee;
  std::optional<int> debited, credited;  // days
  Cents amount;
};

std::string statement_text(const std::vector<TestInterval>& intervals, const std::vector<TestDocument>& documents) {
  std::string s = "1CClientBankExchange\nВерсияФормата=1.03\nКодировка=UTF-8\n";
  for (const TestInterval& i : intervals) {
    s += "СекцияРасчСчет\nДатаНачала=" + Day{i.start}.text() + "\nДатаКонца=" + Day{i.end}.text() +
         "\nРасчСчет=" + i.account + "\nНачальныйОстаток=" + cents_text(i.opening) +
         "\nВсегоПоступило=" + cents_text(i.income) + "\nВсегоСписано=" + cents_text(i.expense) +
         "\nКонечныйОстаток=" + cents_text(i.closing) + "\nКонецРасчСчет\n";
  }
  for (const TestDocument& d : documents) {
    s += "СекцияДокумент=Платежное поручение\nНомер=1\nДата=01.03.2024\nСумма=" + cents_text(d.amount) +
         "\nПлательщикСчет=" + d.payer + "\nДатаСписано=" + (d.debited ? Day{*d.debited}.text() : "") +
         "\nПлательщикИНН=1\nПлательщикБИК=1\nПлательщикБанк1=Б\nПолучательСчет=" + d.payee +
         "\nДатаПоступило=" + (d.credited ? Day{*d.credited}.text() : "") +
         "\nПолучательИНН=2\nПолучательБИК=2\nПолучательБанк1=Б\nНазначениеПлатежа=x\nКонецДокумента\n";
  }
  return s + "КонецФайла\n";
}

Cents cents_of(const std::optional<Decimal>& d) {
  EXPECT_TRUE(d.has_value());
  if (!d) return 0;
  Cents v = (static_cast<Cents>(d->hi) << 64) | d->lo;
  for (unsigned s = d->scale; s < 2; ++s) v *= 10;
  for (unsigned s = d->scale; s > 2; --s) v /= 10;
  return d->negative ? -v : v;
}

// What the rows must say, computed here for intervals that are distinct,
// one account's given in date order.
struct Expected {
  bool arithmetic;
  std::optional<bool> continuity;
  Cents credited, debited;
};
std::vector<Expected> expected_rows(const std::vector<TestInterval>& intervals,
                                    const std::vector<TestDocument>& documents) {
  std::vector<Expected> rows;
  std::map<std::string, const TestInterval*> previous;
  for (const TestInterval& i : intervals) {
    Expected e{i.opening + i.income - i.expense == i.closing, std::nullopt, 0, 0};
    if (const auto p = previous.find(i.account); p != previous.end() && p->second->end + 1 == i.start)
      e.continuity = p->second->closing == i.opening;
    previous[i.account] = &i;
    for (const TestDocument& d : documents) {
      if (d.payee == i.account && d.credited && i.start <= *d.credited && *d.credited <= i.end) e.credited += d.amount;
      if (d.payer == i.account && d.debited && i.start <= *d.debited && *d.debited <= i.end) e.debited += d.amount;
    }
    rows.push_back(e);
  }
  return rows;
}

// Rows by account in first-seen order, as Statement::accounts has them.
std::vector<TestInterval> in_account_order(const std::vector<TestInterval>& intervals) {
  std::vector<std::string> order;
  for (const TestInterval& i : intervals)
    if (std::find(order.begin(), order.end(), i.account) == order.end()) order.push_back(i.account);
  std::vector<TestInterval> out;
  for (const std::string& a : order)
    for (const TestInterval& i : intervals)
      if (i.account == a) out.push_back(i);
  return out;
}

// Each interval's СекцияРасчСчет line in the text statement_text makes.
std::map<std::pair<std::string, int>, LineNo> start_lines(const std::vector<TestInterval>& intervals) {
  std::map<std::pair<std::string, int>, LineNo> lines;
  LineNo line = 4;
  for (const TestInterval& i : intervals) {
    lines.emplace(std::pair(i.account, i.start), line);
    line += 9;
  }
  return lines;
}

void expect_rows(const std::vector<BalanceRow>& rows, const std::vector<TestInterval>& intervals,
                 const std::vector<TestDocument>& documents, bool with_lines) {
  const std::vector<TestInterval> ordered = in_account_order(intervals);
  const std::vector<Expected> expected = expected_rows(ordered, documents);
  const auto lines = start_lines(intervals);
  ASSERT_EQ(rows.size(), ordered.size());
  for (std::size_t r = 0; r < rows.size(); ++r) {
    SCOPED_TRACE("row " + std::to_string(r));
    EXPECT_EQ(rows[r].account, ordered[r].account);
    EXPECT_EQ(rows[r].arithmetic_ok, expected[r].arithmetic);
    EXPECT_EQ(rows[r].continuity_ok, expected[r].continuity);
    EXPECT_EQ(cents_of(rows[r].documents_income), expected[r].credited);
    EXPECT_EQ(cents_of(rows[r].documents_expense), expected[r].debited);
    EXPECT_EQ(cents_of(rows[r].income_difference), ordered[r].income - expected[r].credited);
    EXPECT_EQ(cents_of(rows[r].expense_difference), ordered[r].expense - expected[r].debited);
    EXPECT_EQ(cents_of(rows[r].expected_closing), ordered[r].opening + ordered[r].income - ordered[r].expense);
    if (with_lines) {
      EXPECT_EQ(rows[r].lineno, lines.at({ordered[r].account, ordered[r].start}));
    }
  }
}

std::vector<BalanceRow> streamed(const std::string& text, bool give_input) {
  BalanceCollector collector(give_input ? std::string_view(text) : std::string_view());
  EXPECT_TRUE(parse_records({}, text, collector));
  return collector.finish();
}

TEST(Balances, RandomStatementsAgreeWithTheTestsOwnSums) {
  std::mt19937_64 rng(11);
  const std::vector<std::string> accounts = {"40702810900000000001", "40702810900000000002", "40702810500000000003"};
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    std::vector<TestInterval> intervals;
    for (std::size_t a = 0; a < 2; ++a) {
      Cents balance = static_cast<Cents>(rng() % 10'000'000);
      for (int start = 1; start < 50;) {
        const int end = start + static_cast<int>(rng() % 12);
        const Cents income = static_cast<Cents>(rng() % 500'000), expense = static_cast<Cents>(rng() % 500'000);
        Cents closing = balance + income - expense;
        if (rng() % 5 == 0) closing += 1;  // does not add up
        intervals.push_back({accounts[a], start, end, balance, income, expense, closing});
        balance = rng() % 6 == 0 ? closing + 100 : closing;  // sometimes does not follow on
        start = end + 1 + (rng() % 7 == 0 ? 2 : 0);           // sometimes a gap
      }
    }
    std::vector<TestDocument> documents;
    for (int d = 0; d < 40; ++d) {
      auto pick = [&] { return accounts[rng() % accounts.size()]; };
      auto day = [&]() -> std::optional<int> {
        if (rng() % 4 == 0) return std::nullopt;
        return static_cast<int>(1 + rng() % 60);
      };
      documents.push_back({pick(), pick(), day(), day(), static_cast<Cents>(1 + rng() % 100'000)});
    }
    // Both accounts' periods interleaved in date order.
    std::stable_sort(intervals.begin(), intervals.end(),
                     [](const TestInterval& a, const TestInterval& b) { return a.start < b.start; });
    const std::string text = statement_text(intervals, documents);
    auto parsed = parse_statement({}, text);
    ASSERT_TRUE(parsed);
    expect_rows(streamed(text, true), intervals, documents, true);
    expect_rows(streamed(text, false), intervals, documents, true);
    expect_rows(check_balances(*parsed), intervals, documents, false);
  }
}

TEST(Balances, DocumentsBeforeTheAccountsAreSummed) {
  // The accounts come last: the documents before them count all the same.
  const std::vector<TestInterval> intervals = {{"1", 1, 31, 0, 500, 0, 500}};
  const std::vector<TestDocument> documents = {{"2", "1", 3, 3, 300}, {"2", "1", std::nullopt, 4, 200}};
  std::string text = statement_text({}, documents);
  const std::string accounts = statement_text(intervals, {});
  const std::size_t body = accounts.find("СекцияРасчСчет"), end = accounts.find("КонецФайла");
  text.insert(text.find("КонецФайла"), accounts.substr(body, end - body));
  for (bool give_input : {true, false}) {
    const auto rows = streamed(text, give_input);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(cents_of(rows[0].documents_income), 500);
    EXPECT_FALSE(rows[0].documents_differ());
  }
}

TEST(Balances, RepeatsAreDroppedAndNamedByTheirFirstSection) {
  const TestInterval once{"1", 1, 10, 100, 0, 0, 100};
  const std::string text = statement_text({once, {"1", 11, 20, 100, 5, 0, 105}, once}, {});
  const auto rows = streamed(text, true);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0].lineno, 4u);   // not 22, the repeat's
  EXPECT_EQ(rows[1].lineno, 13u);
  EXPECT_EQ(rows[1].continuity_ok, true);
}

// Amounts of every scale are added exactly, never as doubles.
TEST(Balances, ExactDecimalArithmetic) {
  struct Case {
    const char *opening, *income, *expense, *closing;
    bool ok;
    const char* why;
  };
  const Case cases[] = {
      {"0.1", "0.2", "0", "0.3", true, "0.1 + 0.2 is 0.3 exactly"},
      {"100000", "1500.0", "250.5", "101249.50", true, "scales differ"},
      {"79228162514264337593543950335", "0", "79228162514264337593543950335", "0", true, "the largest mantissa"},
      {"7.9228162514264337593543950335", "0", "0.0000000000000000000000000001",
       "7.9228162514264337593543950334", true, "scale 28"},
      {"79228162514264337593543950335", "0.5", "0.5", "79228162514264337593543950335", true,
       "past 96 bits once aligned"},
      {"1.0000000000000000000000000001", "0", "0", "1", false, "the 28th decimal counts"},
      {"-5", "0", "10", "-15", true, "negative balances"},
      {"0", "0", "0", "-0.00", true, "zero has no sign"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const std::string text = std::string("1CClientBankExchange\nСекцияРасчСчет\nДатаНачала=01.03.2024\nРасчСчет=1\n") +
                             "НачальныйОстаток=" + c.opening + "\nВсегоПоступило=" + c.income +
                             "\nВсегоСписано=" + c.expense + "\nКонечныйОстаток=" + c.closing +
                             "\nКонецРасчСчет\nКонецФайла\n";
    const auto rows = streamed(text, true);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].arithmetic_ok, c.ok);
    EXPECT_EQ(rows[0].lineno, 2u);
  }
}

TEST(Balances, ExactDecimalSumsPastNinetySixBits) {
  using exporting::ExactDecimal;
  const Decimal largest{UINT64_MAX, UINT32_MAX, 0, false};
  ExactDecimal sum;
  for (int i = 0; i < 4; ++i) sum += ExactDecimal(largest);
  EXPECT_FALSE(sum.to_decimal());  // too large for an amount, but still exact:
  for (int i = 0; i < 4; ++i) sum -= ExactDecimal(largest);
  EXPECT_EQ(sum.to_decimal(), (Decimal{0, 0, 0, false}));
  EXPECT_TRUE(same_value(ExactDecimal(Decimal{5, 0, 0, false}), ExactDecimal(Decimal{500, 0, 2, false})));
  EXPECT_FALSE(same_value(ExactDecimal(Decimal{5, 0, 0, true}), ExactDecimal(Decimal{5, 0, 0, false})));
}

TEST(Balances, NextDayAcrossMonthsYearsAndLeapDays) {
  struct Case {
    Date date, next;
  };
  const Case cases[] = {
      {{2024, 2, 28}, {2024, 2, 29}}, {{2024, 2, 29}, {2024, 3, 1}}, {{2023, 2, 28}, {2023, 3, 1}},
      {{1900, 2, 28}, {1900, 3, 1}},  {{2000, 2, 28}, {2000, 2, 29}}, {{2024, 12, 31}, {2025, 1, 1}},
      {{2024, 4, 30}, {2024, 5, 1}},  {{0, 2, 28}, {0, 2, 29}},
  };
  for (const Case& c : cases) EXPECT_EQ(next_day(c.date), c.next) << format_date(c.date);
}

}  // namespace
}  // namespace mirtle
