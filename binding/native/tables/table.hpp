// A columnar table in Arrow's memory layout, filled one row at a time and
// handed to Arrow consumers through the C stream interface without a copy.
// Knows nothing of Python.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "arrow_abi.hpp"
#include "mirtle/values.hpp"

namespace mirtle_tables {

enum class ColumnKind : std::uint8_t {
  Text,     // Arrow utf8
  Date,     // Arrow date32: days since 1970-01-01
  Amount,   // Arrow decimal128(38, scale), one scale for the whole table
  Integer,  // Arrow int64
};

struct ColumnSpec {
  const char* name;
  ColumnKind kind;
  bool nullable;
};

// A table that cannot be built: the message names the row.
class TableError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

using Int128 = __int128;

// One column of one batch, as the Arrow buffers of its kind.
struct Column {
  std::vector<std::uint8_t> validity;  // one bit per row, set when present
  std::int64_t null_count = 0;
  std::vector<std::int32_t> offsets;   // Text: rows + 1 byte offsets into `bytes`
  std::string bytes;                   // Text: the values' UTF-8, back to back
  std::vector<std::int32_t> days;      // Date: days since 1970-01-01
  std::vector<Int128> amounts;         // Amount: unscaled, at the table's scale once finished
  std::vector<std::uint8_t> scales;    // Amount: each row's written scale (up to kMaxAmountScale) until finished
  std::vector<std::int64_t> integers;  // Integer
};

// Up to kMaxRows rows; its texts stay far below the 2 GiB that 32-bit
// offsets address.
class Batch {
 public:
  // Room is made for `rows` rows up front: growing a column moves it to new
  // memory, and each first touch of a page costs.
  Batch(std::span<const ColumnSpec> specs, std::int64_t rows);

  // Room for the texts of `rows` rows in all, judged by the rows so far.
  void reserve_texts(std::int64_t rows);

  std::int64_t rows() const noexcept { return rows_; }
  std::size_t text_bytes() const noexcept { return text_bytes_; }
  const Column& column(std::size_t index) const noexcept { return columns_[index]; }
  Column& column(std::size_t index) noexcept { return columns_[index]; }

  // A row is written by one call per column, in column order, then end_row.
  // Inline, as mark(): 40 of a document row's 54 calls.
  void text(std::size_t index, std::optional<std::string_view> value) {
    Column& column = columns_[index];
    mark(column, value.has_value());
    if (value) {
      column.bytes.append(*value);
      text_bytes_ += value->size();
    }
    column.offsets.push_back(static_cast<std::int32_t>(column.bytes.size()));
  }
  void date(std::size_t index, const std::optional<mirtle::Date>& value);
  void amount(std::size_t index, const std::optional<mirtle::Decimal>& value);
  void integer(std::size_t index, std::int64_t value);
  void end_row() noexcept { ++rows_; }

  // The bytes of the texts of row `row`.
  std::size_t row_text_bytes(std::int64_t row) const noexcept;
  // Column `index` of rows [first, last) of `from`, a batch of the same
  // columns, added after this batch's rows; once every column has its
  // rows, add_rows() counts them.
  void append_column(std::size_t index, const Batch& from, std::int64_t first, std::int64_t last);
  void add_rows(std::int64_t rows, std::size_t text_bytes) noexcept {
    rows_ += rows;
    text_bytes_ += text_bytes;
  }
  // Frees the buffers of one column: its rows have gone elsewhere.
  void drop(std::size_t index) noexcept { columns_[index] = Column{}; }

 private:
  void mark(Column& column, bool present) {
    const auto bit = static_cast<unsigned>(rows_ & 7);
    if (bit == 0) column.validity.push_back(0);
    if (present) {
      column.validity.back() = static_cast<std::uint8_t>(column.validity.back() | (1u << bit));
    } else {
      ++column.null_count;
    }
  }

  std::vector<Column> columns_;
  std::int64_t rows_ = 0;
  std::size_t text_bytes_ = 0;
};

// The rows of a table, batch after batch.  Rows are added through
// row_batch(); finish() fixes the amounts' common scale.
class Table {
 public:
  // 65536 rows keep a batch's buffers a few MB, small enough to stay
  // cheap to grow, large enough that per-batch costs vanish.
  static constexpr std::int64_t kMaxRows = 65536;
  // Texts of one batch, at most; a document's own texts must fit in the
  // rest of the 32-bit offset range.
  static constexpr std::size_t kMaxTextBytes = std::size_t{256} << 20;
  static constexpr std::size_t kMaxRowTextBytes = (std::size_t{1} << 31) - 1 - kMaxTextBytes;

  // `expected_rows`: how many rows the table will likely have, for the
  // room made in its batches; more or fewer may come.
  explicit Table(std::span<const ColumnSpec> specs, std::int64_t expected_rows = 0)
      : specs_(specs), expected_rows_(expected_rows) {}

  std::span<const ColumnSpec> specs() const noexcept { return specs_; }
  const std::vector<Batch>& batches() const noexcept { return batches_; }
  std::vector<Batch>& batches() noexcept { return batches_; }
  std::uint8_t scale() const noexcept { return scale_; }

  // The batch to write the next row into.  Throws TableError when the
  // row's texts (`row_text_bytes` together) could not be addressed.
  Batch& row_batch(std::size_t row_text_bytes);

  // The amounts of a row whose value cannot be held at the common scale.
  struct RowRef {
    std::size_t batch;
    std::int64_t row;
  };
  // Adds `later`'s rows, a table of the same columns, after this table's,
  // in the batches row_batch() would have put them in; empties `later`.
  void append(Table&& later);

  // Brings every amount to the largest scale written; returns the first
  // row that does not fit decimal128(38, scale), or nothing.
  std::optional<RowRef> finish();

 private:
  // Rows [first, last) of a later batch that go into batches_[to].
  struct Run {
    std::size_t to;
    std::int64_t first, last;
    std::size_t text_bytes;
  };
  void copy_columns(Batch& from, std::span<const Run> runs);

  // A batch's texts are judged after this many rows.
  static constexpr std::int64_t kSampleRows = 256;

  std::span<const ColumnSpec> specs_;
  std::int64_t expected_rows_;  // of rows still to come, when the last batch was made
  std::vector<Batch> batches_;
  std::uint8_t scale_ = 0;
};

// Days from 1970-01-01 to `date`, proleptic Gregorian.
std::int32_t days_since_epoch(const mirtle::Date& date) noexcept;

// "decimal128(38, S)": how messages name the amount type.
std::string decimal_type_name(std::uint8_t scale);

// Fills `out` with a stream over `table`'s batches; the stream and every
// array it yields keep the table alive.
void export_stream(std::shared_ptr<const Table> table, ArrowArrayStream* out);
// Fills `out` with the table's schema.
void export_schema(const Table& table, ArrowSchema* out);

}  // namespace mirtle_tables
