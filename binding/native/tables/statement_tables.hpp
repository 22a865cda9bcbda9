// The two tables of a statement: its documents, one row per built document
// in file order, and its balance intervals, account by account.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "mirtle/accounts.hpp"
#include "mirtle/statement.hpp"
#include "table.hpp"

namespace mirtle_tables {

// The 53 document attributes in the Python class's order, then `lineno`.
std::span<const ColumnSpec> document_columns() noexcept;
// `account`, then the six interval fields in the vocabulary's order.
std::span<const ColumnSpec> interval_columns() noexcept;

// Documents in a statement of `text_bytes`, about: each takes 1 to 1.7 KB.
constexpr std::int64_t expected_documents(std::size_t text_bytes) noexcept {
  return static_cast<std::int64_t>(text_bytes / 1024);
}

// Turns each document into a row as the parse delivers it.
class DocumentRows final : public mirtle::RecordSink {
 public:
  // `text_bytes`: the size of the text the documents come from, which
  // tells how many rows to make room for.
  explicit DocumentRows(std::size_t text_bytes)
      : table_(std::make_shared<Table>(document_columns(), expected_documents(text_bytes))) {}

  void on_header(mirtle::Encoding, const mirtle::AttributeMap&) override {}
  void on_interval(std::string_view, mirtle::Interval&&, mirtle::LineNo) override {}
  void on_document(mirtle::Document&& document, mirtle::LineNo end_line) override;
  void on_warning(mirtle::Warning&&) override {}

  // The finished table; throws TableError naming the document whose amount
  // cannot be held at the common scale.
  std::shared_ptr<const Table> finish();

  // The rows of the part of the statement that follows, its lines moved on
  // by `lines_before`, after these.
  void append(DocumentRows&& later, mirtle::LineNo lines_before);

 private:
  std::shared_ptr<Table> table_;
};

// Keeps the intervals in file order; at the end files them as the
// statement's accounts do (sorted by start, repeats dropped) and makes one
// row per interval.
class IntervalRows final : public mirtle::RecordSink {
 public:
  explicit IntervalRows(std::size_t) {}
  void on_header(mirtle::Encoding, const mirtle::AttributeMap&) override {}
  void on_interval(std::string_view account, mirtle::Interval&& interval, mirtle::LineNo) override {
    intervals_.push_back({std::string(account), std::move(interval)});
  }
  void on_document(mirtle::Document&&, mirtle::LineNo) override {}
  void on_warning(mirtle::Warning&&) override {}

  // The finished table; throws TableError naming the interval whose amount
  // cannot be held at the common scale.
  std::shared_ptr<const Table> finish();

  // The intervals of the part of the statement that follows, after these.
  void append(IntervalRows&& later, mirtle::LineNo);

 private:
  std::vector<std::pair<std::string, mirtle::Interval>> intervals_;
};

// Both tables from one parse: each record goes to the rows of its table.
class StatementRows final : public mirtle::RecordSink {
 public:
  explicit StatementRows(std::size_t text_bytes) : documents_(text_bytes), intervals_(text_bytes) {}
  void on_header(mirtle::Encoding, const mirtle::AttributeMap&) override {}
  void on_interval(std::string_view account, mirtle::Interval&& interval, mirtle::LineNo end_line) override {
    intervals_.on_interval(account, std::move(interval), end_line);
  }
  void on_document(mirtle::Document&& document, mirtle::LineNo end_line) override {
    documents_.on_document(std::move(document), end_line);
  }
  void on_warning(mirtle::Warning&&) override {}

  // The documents' table first, so that its error wins as it would in two
  // calls made in that order; throws TableError as each finish() does.
  std::pair<std::shared_ptr<const Table>, std::shared_ptr<const Table>> finish() {
    auto documents = documents_.finish();
    return {std::move(documents), intervals_.finish()};
  }

  void append(StatementRows&& later, mirtle::LineNo lines_before) {
    documents_.append(std::move(later.documents_), lines_before);
    intervals_.append(std::move(later.intervals_), lines_before);
  }

 private:
  DocumentRows documents_;
  IntervalRows intervals_;
};

}  // namespace mirtle_tables
