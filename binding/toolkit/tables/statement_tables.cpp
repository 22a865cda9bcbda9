#include "statement_tables.hpp"

#include <array>
#include <string>

#include "text/quote.hpp"

namespace mirtle_tables {
namespace {

using mirtle::DocField;
using Kind = ColumnKind;

struct DocumentColumn {
  ColumnSpec spec;
  DocField field;
};

// The attribute order of mirtle_py.Document, which differs in places from
// the record's own field order; the two meet by field.
constexpr std::array<DocumentColumn, mirtle::kDocFieldCount> kDocumentColumns = {{
    {{"doc_number", Kind::Text, false}, DocField::Number},
    {{"doc_type", Kind::Text, false}, DocField::Type},
    {{"doc_date", Kind::Date, false}, DocField::Date},
    {{"amount", Kind::Amount, false}, DocField::Amount},
    {{"purpose", Kind::Text, false}, DocField::Purpose},
    {{"payment_type", Kind::Text, true}, DocField::PaymentType},
    {{"ordering", Kind::Text, true}, DocField::Ordering},
    {{"counterparty_inn", Kind::Text, false}, DocField::PayerInn},
    {{"counterparty_kpp", Kind::Text, true}, DocField::PayerKpp},
    {{"counterparty_bic", Kind::Text, false}, DocField::PayerBic},
    {{"counterparty_bank1", Kind::Text, false}, DocField::PayerBank1},
    {{"counterparty_account", Kind::Text, false}, DocField::PayerAccount},
    {{"counterparty", Kind::Text, true}, DocField::Payer},
    {{"counterparty_1", Kind::Text, true}, DocField::Payer1},
    {{"counterparty_ras_account", Kind::Text, true}, DocField::PayerRasAccount},
    {{"counterparty_cor_account", Kind::Text, true}, DocField::PayerCorAccount},
    {{"outcome_date", Kind::Date, true}, DocField::OutcomeDate},
    {{"payee_inn", Kind::Text, false}, DocField::PayeeInn},
    {{"payee", Kind::Text, true}, DocField::Payee},
    {{"payee_account", Kind::Text, false}, DocField::PayeeAccount},
    {{"payee_kpp", Kind::Text, true}, DocField::PayeeKpp},
    {{"payee_bic", Kind::Text, false}, DocField::PayeeBic},
    {{"payee_bank1", Kind::Text, false}, DocField::PayeeBank1},
    {{"payee_ras_account", Kind::Text, true}, DocField::PayeeRasAccount},
    {{"payee_cor_account", Kind::Text, true}, DocField::PayeeCorAccount},
    {{"income_date", Kind::Date, true}, DocField::IncomeDate},
    {{"counterparty_2", Kind::Text, true}, DocField::Payer2},
    {{"counterparty_3", Kind::Text, true}, DocField::Payer3},
    {{"counterparty_4", Kind::Text, true}, DocField::Payer4},
    {{"counterparty_bank2", Kind::Text, true}, DocField::PayerBank2},
    {{"payee_1", Kind::Text, true}, DocField::Payee1},
    {{"payee_2", Kind::Text, true}, DocField::Payee2},
    {{"payee_3", Kind::Text, true}, DocField::Payee3},
    {{"payee_4", Kind::Text, true}, DocField::Payee4},
    {{"payee_bank2", Kind::Text, true}, DocField::PayeeBank2},
    {{"payment_kind", Kind::Text, true}, DocField::PaymentKind},
    {{"payment_deadline", Kind::Text, true}, DocField::PaymentDeadline},
    {{"uin", Kind::Text, true}, DocField::Uin},
    {{"purpose_code", Kind::Text, true}, DocField::PurposeCode},
    {{"purpose_1", Kind::Text, true}, DocField::Purpose1},
    {{"purpose_2", Kind::Text, true}, DocField::Purpose2},
    {{"purpose_3", Kind::Text, true}, DocField::Purpose3},
    {{"purpose_4", Kind::Text, true}, DocField::Purpose4},
    {{"purpose_5", Kind::Text, true}, DocField::Purpose5},
    {{"purpose_6", Kind::Text, true}, DocField::Purpose6},
    {{"compiler_status", Kind::Text, true}, DocField::CompilerStatus},
    {{"kbk", Kind::Text, true}, DocField::Kbk},
    {{"okato", Kind::Text, true}, DocField::Okato},
    {{"tax_basis", Kind::Text, true}, DocField::TaxBasis},
    {{"tax_period", Kind::Text, true}, DocField::TaxPeriod},
    {{"tax_number", Kind::Text, true}, DocField::TaxNumber},
    {{"tax_date", Kind::Text, true}, DocField::TaxDate},
    {{"tax_type", Kind::Text, true}, DocField::TaxType},
}};

constexpr std::size_t kLinenoColumn = kDocumentColumns.size();

constexpr std::array<ColumnSpec, kDocumentColumns.size() + 1> document_specs() {
  std::array<ColumnSpec, kDocumentColumns.size() + 1> specs{};
  for (std::size_t i = 0; i < kDocumentColumns.size(); ++i) specs[i] = kDocumentColumns[i].spec;
  // The closing line as int64: no file holds 2^63 lines, and signed
  // integers are what data frames and warehouses read without surprise.
  specs[kLinenoColumn] = {"lineno", Kind::Integer, false};
  return specs;
}
constexpr auto kDocumentSpecs = document_specs();

constexpr std::array<ColumnSpec, 7> kIntervalSpecs = {{
    {"account", Kind::Text, false},
    {"date_start", Kind::Date, false},
    {"date_end", Kind::Date, true},
    {"start_amount", Kind::Amount, false},
    {"end_amount", Kind::Amount, true},
    {"total_income", Kind::Amount, true},
    {"total_expense", Kind::Amount, true},
}};

// The row of `document` at `end_line` into `batch`.
void add_document_row(Batch& batch, const mirtle::Document& document, mirtle::LineNo end_line) {
  for (std::size_t i = 0; i < kDocumentColumns.size(); ++i) {
    switch (kDocumentColumns[i].field) {
      case DocField::Date:
        batch.date(i, document.doc_date);
        break;
      case DocField::OutcomeDate:
        batch.date(i, document.outcome_date);
        break;
      case DocField::IncomeDate:
        batch.date(i, document.income_date);
        break;
      case DocField::Amount:
        batch.amount(i, document.amount);
        break;
      default:
        batch.text(i, document.text(kDocumentColumns[i].field));
    }
  }
  batch.integer(kLinenoColumn, static_cast<std::int64_t>(end_line));
  batch.end_row();
}

std::size_t text_bytes(const mirtle::Document& document) noexcept {
  std::size_t total = 0;
  for (const DocumentColumn& column : kDocumentColumns)
    if (column.spec.kind == Kind::Text)
      if (const auto text = document.text(column.field)) total += text->size();
  return total;
}

std::string_view text_at(const Column& column, std::int64_t row) {
  const auto r = static_cast<std::size_t>(row);
  return std::string_view(column.bytes).substr(static_cast<std::size_t>(column.offsets[r]),
                                               static_cast<std::size_t>(column.offsets[r + 1] - column.offsets[r]));
}

std::string amount_overflow(std::string subject, std::uint8_t scale) {
  return subject + ": an amount does not fit " + decimal_type_name(scale);
}

}  // namespace

std::span<const ColumnSpec> document_columns() noexcept { return kDocumentSpecs; }
std::span<const ColumnSpec> interval_columns() noexcept { return kIntervalSpecs; }

void DocumentRows::on_document(mirtle::Document&& document, mirtle::LineNo end_line) {
  const std::size_t bytes = text_bytes(document);
  if (bytes > Table::kMaxRowTextBytes)
    throw TableError("document closed at line " + std::to_string(end_line) + ": texts longer than " +
                     std::to_string(Table::kMaxRowTextBytes) + " bytes");
  add_document_row(table_->row_batch(bytes), document, end_line);
}

std::shared_ptr<const Table> DocumentRows::finish() {
  if (const auto bad = table_->finish()) {
    const Batch& batch = table_->batches()[bad->batch];
    std::string subject = "document ";
    mirtle::append_quoted(subject, text_at(batch.column(0), bad->row));
    subject += " closed at line ";
    subject += std::to_string(batch.column(kLinenoColumn).integers[static_cast<std::size_t>(bad->row)]);
    throw TableError(amount_overflow(std::move(subject), table_->scale()));
  }
  return std::move(table_);
}

std::shared_ptr<const Table> IntervalRows::finish() {
  const std::vector<mirtle::Account> accounts = book_.finish();
  auto table = std::make_shared<Table>(interval_columns());
  for (const mirtle::Account& account : accounts) {
    for (const mirtle::Interval& interval : account.intervals) {
      Batch& batch = table->row_batch(account.number.size());
      batch.text(0, account.number);
      batch.date(1, interval.date_start);
      batch.date(2, interval.date_end);
      batch.amount(3, interval.start_amount);
      batch.amount(4, interval.end_amount);
      batch.amount(5, interval.total_income);
      batch.amount(6, interval.total_expense);
      batch.end_row();
    }
  }
  const auto bad = table->finish();
  if (!bad) return table;
  // Rows follow the accounts' intervals one for one.
  auto row = static_cast<std::size_t>(bad->row);
  for (std::size_t b = 0; b < bad->batch; ++b) row += static_cast<std::size_t>(table->batches()[b].rows());
  for (const mirtle::Account& account : accounts) {
    if (row >= account.intervals.size()) {
      row -= account.intervals.size();
      continue;
    }
    std::string subject = "interval of account ";
    mirtle::append_quoted(subject, account.number);
    subject += " starting " + mirtle::format_date(account.intervals[row].date_start);
    throw TableError(amount_overflow(std::move(subject), table->scale()));
  }
  throw TableError(amount_overflow("an interval", table->scale()));
}

}  // namespace mirtle_tables
