#include "statement_tables.hpp"

#include <array>
#include <string>

#include "mirtle/quote.hpp"
#include "mirtle/vocabulary.hpp"

namespace mirtle_tables {
namespace {

using mirtle::DocField;
using Kind = ColumnKind;

// The columns follow mirtle_py.Document's attributes, then the closing line.
constexpr std::size_t kLinenoColumn = mirtle::kDocFieldCount;
using DocumentSpecs = std::array<ColumnSpec, mirtle::kDocFieldCount + 1>;

ColumnKind kind_of(mirtle::FieldKind kind) noexcept {
  switch (kind) {
    case mirtle::FieldKind::Date:
    case mirtle::FieldKind::OptionalDate: return Kind::Date;
    case mirtle::FieldKind::Amount: return Kind::Amount;
    case mirtle::FieldKind::Text:
    case mirtle::FieldKind::OptionalText: break;
  }
  return Kind::Text;
}

DocumentSpecs document_specs() noexcept {
  DocumentSpecs specs{};
  for (std::size_t i = 0; i < mirtle::kDocFieldCount; ++i) {
    const mirtle::DocAttribute& attribute = mirtle::kDocumentAttributes[i];
    const mirtle::DocFieldInfo& info = mirtle::document_fields()[static_cast<std::size_t>(attribute.field)];
    const bool optional = info.kind == mirtle::FieldKind::OptionalText || info.kind == mirtle::FieldKind::OptionalDate;
    specs[i] = {attribute.name.data(), kind_of(info.kind), optional};
  }
  // The closing line as int64: no file holds 2^63 lines, and signed
  // integers are what data frames and warehouses read without surprise.
  specs[kLinenoColumn] = {"lineno", Kind::Integer, false};
  return specs;
}
// Built on first use, after the core's tables are initialised.
const DocumentSpecs& document_spec_table() noexcept {
  static const DocumentSpecs specs = document_specs();
  return specs;
}

using IntervalSpecs = std::array<ColumnSpec, 1 + mirtle::kIntervalFieldCount>;

constexpr IntervalSpecs make_interval_specs() noexcept {
  IntervalSpecs specs{};
  specs[0] = {"account", Kind::Text, false};
  for (std::size_t i = 0; i < mirtle::kIntervalFieldCount; ++i) {
    const mirtle::IntervalAttribute& attribute = mirtle::kIntervalAttributes[i];
    specs[i + 1] = {attribute.name.data(), attribute.is_date ? Kind::Date : Kind::Amount, !attribute.required};
  }
  return specs;
}
constexpr IntervalSpecs kIntervalSpecs = make_interval_specs();

// The row of one interval of `account`: its number, then the six fields.
void add_interval_row(Batch& batch, std::string_view account, const mirtle::Interval& interval) {
  using mirtle::IntervalField;
  batch.text(0, account);
  for (std::size_t i = 0; i < mirtle::kIntervalFieldCount; ++i) {
    const std::size_t column = i + 1;
    switch (mirtle::kIntervalAttributes[i].field) {
      case IntervalField::DateStart: batch.date(column, interval.date_start); break;
      case IntervalField::DateEnd: batch.date(column, interval.date_end); break;
      case IntervalField::StartAmount: batch.amount(column, interval.start_amount); break;
      case IntervalField::EndAmount: batch.amount(column, interval.end_amount); break;
      case IntervalField::TotalIncome: batch.amount(column, interval.total_income); break;
      case IntervalField::TotalExpense: batch.amount(column, interval.total_expense); break;
    }
  }
  batch.end_row();
}

// The row of `document` at `end_line` into `batch`.
void add_document_row(Batch& batch, const mirtle::Document& document, mirtle::LineNo end_line) {
  for (std::size_t i = 0; i < mirtle::kDocFieldCount; ++i) {
    const DocField field = mirtle::kDocumentAttributes[i].field;
    switch (field) {
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
        batch.text(i, document.text(field));
    }
  }
  batch.integer(kLinenoColumn, static_cast<std::int64_t>(end_line));
  batch.end_row();
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

std::span<const ColumnSpec> document_columns() noexcept { return document_spec_table(); }
std::span<const ColumnSpec> interval_columns() noexcept { return kIntervalSpecs; }

void DocumentRows::on_document(mirtle::Document&& document, mirtle::LineNo end_line) {
  const std::size_t bytes = document.text_bytes();
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

void DocumentRows::append(DocumentRows&& later, mirtle::LineNo lines_before) {
  const auto shift = static_cast<std::int64_t>(lines_before);
  for (Batch& batch : later.table_->batches())
    for (std::int64_t& lineno : batch.column(kLinenoColumn).integers) lineno += shift;
  table_->append(std::move(*later.table_));
}

void IntervalRows::append(IntervalRows&& later, mirtle::LineNo) {
  intervals_.reserve(intervals_.size() + later.intervals_.size());
  for (auto& interval : later.intervals_) intervals_.push_back(std::move(interval));
}

std::shared_ptr<const Table> IntervalRows::finish() {
  mirtle::AccountBook book;
  for (auto& [account, interval] : intervals_) book.add_interval(account, std::move(interval));
  intervals_ = {};
  const std::vector<mirtle::Account> accounts = book.finish();
  auto table = std::make_shared<Table>(interval_columns());
  for (const mirtle::Account& account : accounts) {
    for (const mirtle::Interval& interval : account.intervals) {
      add_interval_row(table->row_batch(account.number.size()), account.number, interval);
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
