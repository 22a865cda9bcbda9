// The balance checks of a statement, one row per interval: whether each
// interval adds up, whether an account's periods follow on from each other,
// and how the statement's own documents compare with the interval's totals.
// Amounts are added exactly, in decimal, at the largest scale involved.
#pragma once

#include <cstddef>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mirtle/statement.hpp"

namespace mirtle {

struct BalanceRow {
  std::string account;
  Date date_start;
  std::optional<Date> date_end;
  // The interval's "СекцияРасчСчет" line; none from a Statement given
  // without its lines.  A repeated interval, dropped as a parse drops it,
  // is named by its first section.
  std::optional<LineNo> lineno;
  Decimal opening;
  std::optional<Decimal> income;
  std::optional<Decimal> expense;
  std::optional<Decimal> closing;
  // opening + income - expense, at the largest of their scales; none when
  // a total is absent (or the sum is too large for an amount).
  std::optional<Decimal> expected_closing;
  // expected_closing == closing; none when either is absent.
  std::optional<bool> arithmetic_ok;
  // The closing balance of the account's previous interval, when this one
  // starts the day after the previous ends.
  std::optional<Decimal> previous_closing;
  // opening == the closing of the account's previous interval; none for an
  // account's first interval, one that does not start the day after the
  // previous ends, or a previous without a closing balance.
  std::optional<bool> continuity_ok;
  // The sums of the statement's documents credited to the account
  // (ПолучательСчет, ДатаПоступило within the period) and debited from it
  // (ПлательщикСчет, ДатаСписано); an interval without an end takes every
  // date from its start.  None only for a sum too large for an amount.
  std::optional<Decimal> documents_income;
  std::optional<Decimal> documents_expense;
  // income - documents_income and expense - documents_expense; none where
  // the total or the sum is absent.
  std::optional<Decimal> income_difference;
  std::optional<Decimal> expense_difference;

  // Whether the interval's arithmetic and continuity hold (none counts as
  // holding): what an error is about.
  bool sound() const noexcept { return arithmetic_ok.value_or(true) && continuity_ok.value_or(true); }
  // Whether the documents' sums differ from the totals: what a warning is
  // about.
  bool documents_differ() const noexcept;
};

// Collects the balance rows while the records stream by (a RecordSink of
// its own, or fed by one): intervals as parse_statement files them, and
// the documents' amounts summed by account and day, so no document is
// kept.  Rows come in Statement::accounts order.
class BalanceCollector final : public RecordSink {
 public:
  // `input`, the text being read when known, lets the collector tell when
  // no account section is left, from when on it sums the documents of the
  // statement's own accounts only.
  explicit BalanceCollector(std::string_view input = {});
  ~BalanceCollector() override;
  BalanceCollector(BalanceCollector&&) noexcept;
  BalanceCollector& operator=(BalanceCollector&&) noexcept;

  void on_header(Encoding encoding, const AttributeMap& header) override;
  void on_interval(std::string_view account, Interval&& interval, LineNo end_line) override;
  void on_interval_section(std::string_view account, Interval&& interval, LineNo start_line,
                           LineNo end_line) override;
  void on_document(Document&& document, LineNo end_line) override;
  void on_warning(Warning&& warning) override;
  // The same as on_document, for a caller that keeps the document.
  void add_document(const Document& document);

  // The rows, once the statement has been read; the collector is empty
  // afterwards.
  std::vector<BalanceRow> finish();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// The rows of a statement already built: its accounts as they are (sorted
// and without repeats when a parse built them).  `interval_lines`, parallel
// to the intervals in Statement::accounts order, gives the rows' lines
// when known.
std::vector<BalanceRow> check_balances(const Statement& statement, std::span<const LineNo> interval_lines = {});

// The day after `date` (proleptic Gregorian).
Date next_day(const Date& date) noexcept;

}  // namespace mirtle
