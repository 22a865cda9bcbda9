#include "balances.hpp"

#include <fmt/format.h>

#include "mirtle/values.hpp"

namespace mirtle_cli {

namespace {

std::string amount(const std::optional<mirtle::Decimal>& value) {
  return value ? mirtle::format_amount(*value) : std::string("—");
}

// "account N, 01.03.2024–31.03.2024"
std::string where(const mirtle::BalanceRow& row) {
  return fmt::format("account {}, {}–{}", row.account, mirtle::format_statement_date(row.date_start),
                     row.date_end ? mirtle::format_statement_date(*row.date_end) : std::string());
}

}  // namespace

std::vector<BalanceFinding> balance_findings(const mirtle::BalanceRow& row) {
  std::vector<BalanceFinding> found;
  if (row.arithmetic_ok == false)
    found.push_back({true, fmt::format("{}: НачальныйОстаток {} + ВсегоПоступило {} - ВсегоСписано {} = {}, "
                                       "not КонечныйОстаток {}",
                                       where(row), amount(row.opening), amount(row.income), amount(row.expense),
                                       amount(row.expected_closing), amount(row.closing))});
  if (row.continuity_ok == false)
    found.push_back({true, fmt::format("{}: НачальныйОстаток {} is not the previous period's КонечныйОстаток {}",
                                       where(row), amount(row.opening), amount(row.previous_closing))});
  const auto differs = [](const std::optional<mirtle::Decimal>& d) { return d && !d->is_zero(); };
  if (differs(row.income_difference))
    found.push_back({false, fmt::format("{}: ВсегоПоступило {}, but the documents credited to it sum to {} "
                                        "(difference {})",
                                        where(row), amount(row.income), amount(row.documents_income),
                                        amount(row.income_difference))});
  if (differs(row.expense_difference))
    found.push_back({false, fmt::format("{}: ВсегоСписано {}, but the documents debited from it sum to {} "
                                        "(difference {})",
                                        where(row), amount(row.expense), amount(row.documents_expense),
                                        amount(row.expense_difference))});
  return found;
}

std::string balance_status(const mirtle::BalanceRow& row) {
  std::string status;
  const auto add = [&status](const char* what) {
    if (!status.empty()) status += ", ";
    status += what;
  };
  if (row.arithmetic_ok == false) add("does not add up");
  if (row.continuity_ok == false) add("does not follow on");
  if (row.documents_differ()) add("documents differ");
  if (status.empty()) status = row.arithmetic_ok ? "ok" : "not checked";
  return status;
}

}  // namespace mirtle_cli
