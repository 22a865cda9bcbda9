#include "mirtle/balances.hpp"

#include <functional>
#include <map>
#include <set>
#include <unordered_map>
#include <utility>

#include "account_bound.hpp"
#include "exact.hpp"
#include "mirtle/accounts.hpp"

namespace mirtle {

using exporting::AccountSectionBound;
using exporting::ExactDecimal;

namespace {

bool is_leap(std::int32_t year) noexcept { return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0); }

unsigned days_in_month(std::int32_t year, unsigned month) noexcept {
  static constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap(year) ? 29 : kDays[month - 1];
}

// The documents' amounts by account and day: what the rows' sums are made
// of, without keeping a document.
struct DaySums {
  ExactDecimal income;   // credited on the day (ДатаПоступило)
  ExactDecimal expense;  // debited on the day (ДатаСписано)
};
using AccountDays = std::map<std::string, std::map<Date, DaySums>, std::less<>>;

void add_to(AccountDays& days, std::optional<std::string_view> account, const std::optional<Date>& date,
            const Decimal& amount, ExactDecimal DaySums::*side, const std::set<std::string, std::less<>>* only) {
  if (!account || !date) return;
  if (only != nullptr && !only->contains(*account)) return;
  auto it = days.find(*account);
  if (it == days.end()) it = days.emplace(std::string(*account), std::map<Date, DaySums>{}).first;
  it->second[*date].*side += ExactDecimal(amount);
}

void add_document_to(AccountDays& days, const Document& d, const std::set<std::string, std::less<>>* only) {
  add_to(days, d.text(DocField::PayeeAccount), d.income_date, d.amount, &DaySums::income, only);
  add_to(days, d.text(DocField::PayerAccount), d.outcome_date, d.amount, &DaySums::expense, only);
}

std::optional<Decimal> difference(const std::optional<Decimal>& total, const std::optional<Decimal>& sum) {
  if (!total || !sum) return std::nullopt;
  return (ExactDecimal(*total) - ExactDecimal(*sum)).to_decimal();
}

// The rows of filed accounts; `line_of(account, interval index)` gives a
// row's line.
std::vector<BalanceRow> rows_of(const std::vector<Account>& accounts, const AccountDays& days,
                                const std::function<std::optional<LineNo>(std::size_t, std::size_t)>& line_of) {
  std::vector<BalanceRow> rows;
  static const std::map<Date, DaySums> kNoDays;
  for (std::size_t a = 0; a < accounts.size(); ++a) {
    const Account& account = accounts[a];
    const auto found = days.find(account.number);
    const std::map<Date, DaySums>& by_day = found == days.end() ? kNoDays : found->second;
    for (std::size_t i = 0; i < account.intervals.size(); ++i) {
      const Interval& interval = account.intervals[i];
      BalanceRow row;
      row.account = account.number;
      row.date_start = interval.date_start;
      row.date_end = interval.date_end;
      row.lineno = line_of(a, i);
      row.opening = interval.start_amount;
      row.income = interval.total_income;
      row.expense = interval.total_expense;
      row.closing = interval.end_amount;
      if (row.income && row.expense) {
        const ExactDecimal computed = ExactDecimal(row.opening) + ExactDecimal(*row.income) - ExactDecimal(*row.expense);
        row.expected_closing = computed.to_decimal();
        if (row.closing) row.arithmetic_ok = same_value(computed, ExactDecimal(*row.closing));
      }
      if (i != 0) {
        const Interval& previous = account.intervals[i - 1];
        if (previous.date_end && previous.end_amount && next_day(*previous.date_end) == interval.date_start) {
          row.previous_closing = previous.end_amount;
          row.continuity_ok = same_value(ExactDecimal(*previous.end_amount), ExactDecimal(row.opening));
        }
      }
      ExactDecimal income, expense;
      for (auto it = by_day.lower_bound(interval.date_start);
           it != by_day.end() && (!interval.date_end || it->first <= *interval.date_end); ++it) {
        income += it->second.income;
        expense += it->second.expense;
      }
      // The sums take at least the totals' scale: 0.00 beside 1500.00.
      if (row.income) income += ExactDecimal(Decimal{0, 0, row.income->scale, false});
      if (row.expense) expense += ExactDecimal(Decimal{0, 0, row.expense->scale, false});
      row.documents_income = income.to_decimal();
      row.documents_expense = expense.to_decimal();
      row.income_difference = difference(row.income, row.documents_income);
      row.expense_difference = difference(row.expense, row.documents_expense);
      rows.push_back(std::move(row));
    }
  }
  return rows;
}

}  // namespace

Date next_day(const Date& date) noexcept {
  if (date.day < days_in_month(date.year, date.month)) return {date.year, date.month, static_cast<std::uint8_t>(date.day + 1)};
  if (date.month < 12) return {date.year, static_cast<std::uint8_t>(date.month + 1), 1};
  return {date.year + 1, 1, 1};
}

bool BalanceRow::documents_differ() const noexcept {
  const auto differs = [](const std::optional<Decimal>& d) { return d && !d->is_zero(); };
  return differs(income_difference) || differs(expense_difference);
}

struct BalanceCollector::State {
  explicit State(std::string_view input) : bound(input) {}

  AccountSectionBound bound;
  AccountBook book;
  std::size_t sections = 0;
  // Each account's intervals as they came, with their start lines: the
  // rows' lines are found among them after filing.
  std::unordered_map<std::string, std::vector<std::pair<Interval, LineNo>>> read;
  std::set<std::string, std::less<>> own;  // the accounts with a section
  bool own_only = false;                   // no account section is left: others are not summed
  AccountDays days;
};

BalanceCollector::BalanceCollector(std::string_view input) : state_(std::make_unique<State>(input)) {}
BalanceCollector::~BalanceCollector() = default;
BalanceCollector::BalanceCollector(BalanceCollector&&) noexcept = default;
BalanceCollector& BalanceCollector::operator=(BalanceCollector&&) noexcept = default;

void BalanceCollector::on_header(Encoding encoding, const AttributeMap&) { state_->bound.set_encoding(encoding); }

void BalanceCollector::on_interval(std::string_view account, Interval&& interval, LineNo) {
  on_interval_section(account, std::move(interval), 0, 0);
}

void BalanceCollector::on_interval_section(std::string_view account, Interval&& interval, LineNo start_line,
                                           LineNo) {
  State& s = *state_;
  s.read[std::string(account)].emplace_back(interval, start_line);
  s.own.emplace(account);
  s.book.add_interval(account, std::move(interval));
  ++s.sections;
}

void BalanceCollector::on_document(Document&& document, LineNo) { add_document(document); }

void BalanceCollector::add_document(const Document& document) {
  State& s = *state_;
  if (!s.own_only && s.bound.all_read(s.sections)) {
    s.own_only = true;
    std::erase_if(s.days, [&](const auto& entry) { return !s.own.contains(entry.first); });
  }
  add_document_to(s.days, document, s.own_only ? &s.own : nullptr);
}

void BalanceCollector::on_warning(Warning&&) {}

std::vector<BalanceRow> BalanceCollector::finish() {
  State& s = *state_;
  const std::vector<Account> accounts = s.book.finish();
  // A filed interval is the first one read with its value: repeats are dropped.
  std::vector<std::vector<std::optional<LineNo>>> lines(accounts.size());
  for (std::size_t a = 0; a < accounts.size(); ++a) {
    const auto& read = s.read[accounts[a].number];
    std::unordered_multimap<std::uint64_t, std::size_t> by_value;
    for (std::size_t r = read.size(); r-- > 0;) by_value.emplace(read[r].first.value_hash(), r);
    for (const Interval& interval : accounts[a].intervals) {
      std::optional<std::size_t> first;
      auto [from, to] = by_value.equal_range(interval.value_hash());
      for (auto it = from; it != to; ++it)
        if (read[it->second].first.same_value(interval) && (!first || it->second < *first)) first = it->second;
      lines[a].push_back(first && read[*first].second != 0 ? std::optional<LineNo>(read[*first].second)
                                                           : std::nullopt);
    }
  }
  auto rows = rows_of(accounts, s.days, [&](std::size_t a, std::size_t i) { return lines[a][i]; });
  *this = BalanceCollector();
  return rows;
}

std::vector<BalanceRow> check_balances(const Statement& statement, std::span<const LineNo> interval_lines) {
  AccountDays days;
  for (const Document& document : statement.documents) add_document_to(days, document, nullptr);
  std::vector<std::size_t> first_of(statement.accounts.size());
  for (std::size_t a = 1; a < statement.accounts.size(); ++a)
    first_of[a] = first_of[a - 1] + statement.accounts[a - 1].intervals.size();
  return rows_of(statement.accounts, days, [&](std::size_t a, std::size_t i) -> std::optional<LineNo> {
    const std::size_t at = first_of[a] + i;
    if (at < interval_lines.size()) return interval_lines[at];
    return std::nullopt;
  });
}

}  // namespace mirtle
