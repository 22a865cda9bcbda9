// The two tables of a statement: its documents, one row per built document
// in file order, and its balance intervals, account by account.
#pragma once

#include <memory>
#include <span>

#include "mirtle/statement.hpp"
#include "mirtle/accounts.hpp"
#include "table.hpp"

namespace mirtle_tables {

// The 53 document attributes in the Python class's order, then `lineno`.
std::span<const ColumnSpec> document_columns() noexcept;
// `account`, then the six interval fields.
std::span<const ColumnSpec> interval_columns() noexcept;

// Turns each document into a row as the parse delivers it.
class DocumentRows final : public mirtle::RecordSink {
 public:
  DocumentRows() : table_(std::make_shared<Table>(document_columns())) {}

  void on_header(mirtle::Encoding, const mirtle::AttributeMap&) override {}
  void on_interval(std::string_view, mirtle::Interval&&, mirtle::LineNo) override {}
  void on_document(mirtle::Document&& document, mirtle::LineNo end_line) override;
  void on_warning(mirtle::Warning&&) override {}

  // The finished table; throws TableError naming the document whose amount
  // cannot be held at the common scale.
  std::shared_ptr<const Table> finish();

 private:
  std::shared_ptr<Table> table_;
};

// Files the intervals as the statement's accounts do (sorted by start,
// repeats dropped) and makes one row per interval at the end.
class IntervalRows final : public mirtle::RecordSink {
 public:
  void on_header(mirtle::Encoding, const mirtle::AttributeMap&) override {}
  void on_interval(std::string_view account, mirtle::Interval&& interval, mirtle::LineNo) override {
    book_.add_interval(account, std::move(interval));
  }
  void on_document(mirtle::Document&&, mirtle::LineNo) override {}
  void on_warning(mirtle::Warning&&) override {}

  // The finished table; throws TableError naming the interval whose amount
  // cannot be held at the common scale.
  std::shared_ptr<const Table> finish();

 private:
  mirtle::AccountBook book_;
};

}  // namespace mirtle_tables
