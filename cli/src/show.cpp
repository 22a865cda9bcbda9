// show: a readable summary for a person at a terminal.
#include <algorithm>
#include <charconv>
#include <cstdlib>
#include <iterator>
#include <string>

#include <fmt/format.h>

#include "balances.hpp"
#include "commands.hpp"
#include "common.hpp"
#include "mirtle/balances.hpp"
#include "mirtle/values.hpp"
#include "platform/platform.hpp"
#include "printable.hpp"

namespace mirtle_cli {

namespace {

using mirtle::DocField;

constexpr std::string_view kAbsent = "—";
constexpr std::string_view kEllipsis = "…";

// Columns of standard output: the terminal's, else $COLUMNS, else 80.
std::size_t terminal_width() {
  if (const std::size_t columns = platform::terminal_width(platform::Stream::output)) return columns;
  if (const char* columns = std::getenv("COLUMNS")) {
    std::size_t value = 0;
    const char* end = columns + std::char_traits<char>::length(columns);
    if (std::from_chars(columns, end, value).ptr == end && value > 0) return value;
  }
  return 80;
}

// `text` on one line within `width` columns, a character a column: control
// and bidi characters escaped (printable.hpp), a cut text ending in "…".
std::string fit(std::string_view text, std::size_t width) {
  const bool cut = printable_width(text) > width;
  const std::size_t room = cut ? (width == 0 ? 0 : width - 1) : width;
  std::string out;
  std::size_t used = 0;
  EscapeRoom escape;
  for (std::size_t at = 0; at < text.size();) {
    const Shown shown = next_shown(text, at, escape);
    if (used + shown.columns > room) break;
    used += shown.columns;
    out += shown.text;
  }
  if (cut && width > 0) out += kEllipsis;
  return out;
}

// "dd.mm.yyyy", as dates are written where these statements come from.
std::string local_date(const mirtle::Date& date) { return mirtle::format_statement_date(date); }

// The amount with its digits grouped in threes: "1 234 567.89".
std::string grouped_amount(const mirtle::Decimal& amount) {
  char digits[32];
  const std::string_view plain(digits, mirtle::format_amount(amount, digits));
  const bool negative = plain.front() == '-';
  const std::string_view unsigned_part = plain.substr(negative ? 1 : 0);
  const std::size_t integer_length = std::min(unsigned_part.find('.'), unsigned_part.size());
  std::string out = negative ? "-" : "";
  for (std::size_t i = 0; i < integer_length; ++i) {
    if (i != 0 && (integer_length - i) % 3 == 0) out += ' ';
    out += unsigned_part[i];
  }
  out += unsigned_part.substr(integer_length);
  return out;
}

std::string optional_amount(const std::optional<mirtle::Decimal>& amount) {
  return amount ? grouped_amount(*amount) : std::string(kAbsent);
}

std::string_view header_value(const mirtle::AttributeMap& header, std::string_view key) {
  const std::string* value = header.find(key);
  return value ? std::string_view(*value) : std::string_view();
}

void show_header(std::string& out, const std::string& name, const mirtle::Statement& statement) {
  fmt::format_to(std::back_inserter(out), "Statement {}\n  Encoding  {}\n", printable(name),
                 encoding_name(statement.encoding));
  const std::string_view sender = header_value(statement.header, "Отправитель");
  if (!sender.empty()) fmt::format_to(std::back_inserter(out), "  Sender    {}\n", fit(sender, 200));
  const std::string_view from = header_value(statement.header, "ДатаНачала");
  const std::string_view to = header_value(statement.header, "ДатаКонца");
  if (!from.empty() || !to.empty())
    fmt::format_to(std::back_inserter(out), "  Period    {} – {}\n", fit(from, 20), fit(to, 20));
}

// Each account's periods with their balances and the checks' verdict
// (mirtle check --balances tells the details).
void show_accounts(std::string& out, const mirtle::Statement& statement) {
  const std::vector<mirtle::BalanceRow> rows = mirtle::check_balances(statement);
  std::size_t row = 0;
  for (const mirtle::Account& account : statement.accounts) {
    fmt::format_to(std::back_inserter(out), "\nAccount {}\n  {:<23} {:>16} {:>16} {:>16} {:>16}  {}\n",
                   fit(account.number, 40), "Period", "Opening", "Income", "Expense", "Closing", "Check");
    for (const mirtle::Interval& interval : account.intervals) {
      const std::string period = local_date(interval.date_start) + "–" +
                                 (interval.date_end ? local_date(*interval.date_end) : std::string(kAbsent));
      fmt::format_to(std::back_inserter(out), "  {:<23} {:>16} {:>16} {:>16} {:>16}  {}\n", period,
                     grouped_amount(interval.start_amount), optional_amount(interval.total_income),
                     optional_amount(interval.total_expense), optional_amount(interval.end_amount),
                     balance_status(rows[row++]));
    }
  }
}

// The other party of a document: the payee when the payer's account is one
// of the statement's own, else the payer.
std::string_view counterparty(const mirtle::Statement& statement, const mirtle::Document& document) {
  const std::string_view payer_account = document.text(DocField::PayerAccount).value_or("");
  const bool outgoing = std::any_of(statement.accounts.begin(), statement.accounts.end(),
                                    [&](const mirtle::Account& a) { return a.number == payer_account; });
  const auto name = outgoing ? document.text(DocField::Payee) : document.text(DocField::Payer);
  const auto fallback = outgoing ? document.text(DocField::Payee1) : document.text(DocField::Payer1);
  return name && !name->empty() ? *name : fallback.value_or("");
}

struct DocumentColumns {
  std::size_t number = 6, amount = 6, type = 4, counterparty = 12, purpose = 7;
};

DocumentColumns document_columns(const mirtle::Statement& statement, std::size_t width) {
  DocumentColumns c;
  for (const mirtle::Document& d : statement.documents) {
    c.number = std::max(c.number, printable_width(d.text(DocField::Number).value_or("")));
    c.amount = std::max(c.amount, grouped_amount(d.amount).size());
    c.type = std::max(c.type, printable_width(d.text(DocField::Type).value_or("")));
    c.counterparty = std::max(c.counterparty, printable_width(counterparty(statement, d)));
  }
  c.number = std::min<std::size_t>(c.number, 12);
  c.type = std::min<std::size_t>(c.type, 22);
  c.counterparty = std::min<std::size_t>(c.counterparty, 30);
  // Two spaces of indent, the date's ten columns and a space between columns.
  const std::size_t fixed = 2 + c.number + 1 + 10 + 1 + c.amount + 1 + c.type + 1 + c.counterparty + 1;
  c.purpose = width > fixed + 10 ? width - fixed : 10;
  return c;
}

void show_documents(Output& output, const mirtle::Statement& statement, std::size_t width) {
  std::string& out = output.buffer();
  fmt::format_to(std::back_inserter(out), "\nDocuments: {}\n", statement.documents.size());
  if (statement.documents.empty()) return;
  const DocumentColumns c = document_columns(statement, width);
  fmt::format_to(std::back_inserter(out), "  {:<{}} {:<10} {:>{}} {:<{}} {:<{}} {}\n", "Number", c.number, "Date",
                 "Amount", c.amount, "Type", c.type, "Counterparty", c.counterparty, fit("Purpose", c.purpose));
  for (const mirtle::Document& d : statement.documents) {
    fmt::format_to(std::back_inserter(out), "  {:<{}} {:<10} {:>{}} {:<{}} {:<{}} {}\n",
                   fit(d.text(DocField::Number).value_or(""), c.number), c.number, local_date(d.doc_date),
                   grouped_amount(d.amount), c.amount, fit(d.text(DocField::Type).value_or(""), c.type), c.type,
                   fit(counterparty(statement, d), c.counterparty), c.counterparty,
                   fit(d.text(DocField::Purpose).value_or(""), c.purpose));
    output.maybe_flush();
    if (output.failed()) return;
  }
}

void show_warnings(std::string& out, const mirtle::Statement& statement) {
  fmt::format_to(std::back_inserter(out), "\nWarnings: {}\n", statement.warnings.size());
  for (const mirtle::Warning& w : statement.warnings)
    fmt::format_to(std::back_inserter(out), "  line {}: {}\n", w.lineno, fit(w.message, 200));
}

}  // namespace

int run_show(const ShowOptions& options) {
  Input input;
  mirtle::Statement statement;
  if (!open_input(options.file, input) || !parse_input(input, statement)) return kFailure;
  Output out = Output::standard();
  std::string& b = out.buffer();
  show_header(b, input.name(), statement);
  show_accounts(b, statement);
  out.maybe_flush();
  show_documents(out, statement, terminal_width());
  show_warnings(b, statement);
  return finish(out);
}

}  // namespace mirtle_cli
