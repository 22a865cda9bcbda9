#include "table.hpp"

#include <algorithm>
#include <array>
#include <cerrno>
#include <climits>
#include <exception>
#include <new>
#include <system_error>
#include <thread>
#include <utility>

#include "mirtle/vocabulary.hpp"

namespace mirtle_tables {
namespace {

constexpr std::int64_t days_from_civil(std::int64_t year, unsigned month, unsigned day) noexcept {
  // Counts in 400-year eras from 0000-03-01, so that the leap day ends a year.
  year -= month <= 2;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const auto year_of_era = static_cast<unsigned>(year - era * 400);
  const unsigned day_of_year = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
  const unsigned day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
  return era * 146097 + static_cast<std::int64_t>(day_of_era) - 719468;
}

static_assert(days_from_civil(1970, 1, 1) == 0);
static_assert(days_from_civil(2000, 3, 1) == 11017);
static_assert(days_from_civil(0, 1, 1) == -719528);
// Every date the reader accepts (years -262143..262142) fits date32, so no
// date is ever refused or wrapped.
static_assert(days_from_civil(-262143, 1, 1) >= INT32_MIN);
static_assert(days_from_civil(262142, 12, 31) <= INT32_MAX);

constexpr int kDecimalPrecision = 38;
// The largest scale an amount is written with must be a scale of the type.
static_assert(mirtle::kMaxAmountScale <= kDecimalPrecision);

constexpr Int128 power_of_ten(unsigned k) noexcept {
  Int128 p = 1;
  while (k-- > 0) p *= 10;
  return p;
}
constexpr Int128 kDecimalMax = power_of_ten(kDecimalPrecision) - 1;
// A mantissa below 2^96 (about 7.9e28) times 10^9 stays below 10^38; larger
// factors are checked row by row.
constexpr unsigned kUncheckedRescale = 9;
static_assert((((Int128{1} << 96) - 1) * power_of_ten(kUncheckedRescale)) <= kDecimalMax);

Int128 unscaled(const mirtle::Decimal& amount) noexcept {
  const Int128 magnitude = (Int128{amount.hi} << 64) | Int128{amount.lo};
  return amount.negative ? -magnitude : magnitude;
}

// Rescales one column's amounts by `scale` minus each row's own; returns
// the first row that overflows, or -1.
std::int64_t rescale(Column& column, std::uint8_t scale) noexcept {
  for (std::size_t row = 0; row < column.amounts.size(); ++row) {
    const unsigned k = scale - column.scales[row];
    if (k == 0) continue;
    Int128& value = column.amounts[row];
    const Int128 factor = power_of_ten(k);
    if (k > kUncheckedRescale && (value > kDecimalMax / factor || value < -(kDecimalMax / factor)))
      return static_cast<std::int64_t>(row);
    value *= factor;
  }
  return -1;
}

// --- export through the C data interface -----------------------------------

std::string format_of(ColumnKind kind, std::uint8_t scale) {
  switch (kind) {
    case ColumnKind::Text:
      return "u";
    case ColumnKind::Date:
      return "tdD";
    case ColumnKind::Amount:
      return "d:" + std::to_string(kDecimalPrecision) + "," + std::to_string(scale);
    case ColumnKind::Integer:
      return "l";
  }
  return {};
}

// A schema's own data: its format text and its children.
// Children a consumer moved out are marked released and left alone.
struct SchemaData {
  std::string format;
  std::vector<ArrowSchema> children;  // value-initialised: released until filled
  std::vector<ArrowSchema*> child_pointers;

  ~SchemaData() {
    for (ArrowSchema& child : children)
      if (child.release != nullptr) child.release(&child);
  }
};

void release_schema(ArrowSchema* schema) noexcept {
  delete static_cast<SchemaData*>(schema->private_data);
  schema->release = nullptr;
}

// Fills `out`, taking over `data`; its children must be filled already.
void fill_schema(ArrowSchema* out, std::unique_ptr<SchemaData> data, const char* name, std::int64_t flags) {
  for (ArrowSchema& child : data->children) data->child_pointers.push_back(&child);
  *out = ArrowSchema{};
  out->format = data->format.c_str();
  out->name = name;
  out->flags = flags;
  out->n_children = static_cast<std::int64_t>(data->children.size());
  out->children = data->child_pointers.empty() ? nullptr : data->child_pointers.data();
  out->release = release_schema;
  out->private_data = data.release();
}

// An array's own data: the buffer list, its children, and a share of the
// table that owns the buffers, so each array can outlive the others.
struct ArrayData {
  std::shared_ptr<const Table> table;
  std::array<const void*, 3> buffers{};
  std::vector<ArrowArray> children;  // value-initialised: released until filled
  std::vector<ArrowArray*> child_pointers;

  ~ArrayData() {
    for (ArrowArray& child : children)
      if (child.release != nullptr) child.release(&child);
  }
};

void release_array(ArrowArray* array) noexcept {
  delete static_cast<ArrayData*>(array->private_data);
  array->release = nullptr;
}

void fill_array(ArrowArray* out, std::unique_ptr<ArrayData> data, std::int64_t length,
                std::int64_t null_count, std::int64_t n_buffers) {
  for (ArrowArray& child : data->children) data->child_pointers.push_back(&child);
  *out = ArrowArray{};
  out->length = length;
  out->null_count = null_count;
  out->n_buffers = n_buffers;
  out->n_children = static_cast<std::int64_t>(data->children.size());
  out->buffers = data->buffers.data();
  out->children = data->child_pointers.empty() ? nullptr : data->child_pointers.data();
  out->release = release_array;
  out->private_data = data.release();
}

void export_column(const std::shared_ptr<const Table>& table, const Column& column, ColumnKind kind,
                   std::int64_t rows, ArrowArray* out) {
  auto data = std::make_unique<ArrayData>();
  data->table = table;
  // A column without nulls needs no validity buffer.
  data->buffers[0] = column.null_count == 0 ? nullptr : column.validity.data();
  std::int64_t n_buffers = 2;
  switch (kind) {
    case ColumnKind::Text:
      data->buffers[1] = column.offsets.data();
      data->buffers[2] = column.bytes.data();
      n_buffers = 3;
      break;
    case ColumnKind::Date:
      data->buffers[1] = column.days.data();
      break;
    case ColumnKind::Amount:
      data->buffers[1] = column.amounts.data();
      break;
    case ColumnKind::Integer:
      data->buffers[1] = column.integers.data();
      break;
  }
  fill_array(out, std::move(data), rows, column.null_count, n_buffers);
}

void export_batch(const std::shared_ptr<const Table>& table, std::size_t index, ArrowArray* out) {
  const Batch& batch = table->batches()[index];
  const std::span<const ColumnSpec> specs = table->specs();
  auto data = std::make_unique<ArrayData>();
  data->table = table;
  data->children.resize(specs.size());
  for (std::size_t i = 0; i < specs.size(); ++i)
    export_column(table, batch.column(i), specs[i].kind, batch.rows(), &data->children[i]);
  fill_array(out, std::move(data), batch.rows(), 0, 1);
}

struct StreamData {
  std::shared_ptr<const Table> table;
  std::size_t next_batch = 0;
};

int stream_get_schema(ArrowArrayStream* stream, ArrowSchema* out) noexcept {
  try {
    export_schema(*static_cast<StreamData*>(stream->private_data)->table, out);
    return 0;
  } catch (...) {
    return ENOMEM;
  }
}

int stream_get_next(ArrowArrayStream* stream, ArrowArray* out) noexcept {
  auto* data = static_cast<StreamData*>(stream->private_data);
  if (data->next_batch == data->table->batches().size()) {
    *out = ArrowArray{};  // released: the end of the stream
    return 0;
  }
  try {
    export_batch(data->table, data->next_batch, out);
  } catch (...) {
    return ENOMEM;
  }
  ++data->next_batch;
  return 0;
}

const char* stream_last_error(ArrowArrayStream*) noexcept { return "out of memory"; }

void stream_release(ArrowArrayStream* stream) noexcept {
  delete static_cast<StreamData*>(stream->private_data);
  stream->release = nullptr;
}

}  // namespace

std::int32_t days_since_epoch(const mirtle::Date& date) noexcept {
  return static_cast<std::int32_t>(days_from_civil(date.year, date.month, date.day));
}

std::string decimal_type_name(std::uint8_t scale) {
  return "decimal128(" + std::to_string(kDecimalPrecision) + ", " + std::to_string(scale) + ")";
}

// --- rows --------------------------------------------------------------------

Batch::Batch(std::span<const ColumnSpec> specs, std::int64_t rows) : columns_(specs.size()) {
  const auto n = static_cast<std::size_t>(rows);
  for (std::size_t i = 0; i < specs.size(); ++i) {
    Column& column = columns_[i];
    column.validity.reserve((n + 7) / 8);
    switch (specs[i].kind) {
      case ColumnKind::Text:
        column.offsets.reserve(n + 1);
        column.offsets.push_back(0);
        break;
      case ColumnKind::Date: column.days.reserve(n); break;
      case ColumnKind::Amount:
        column.amounts.reserve(n);
        column.scales.reserve(n);
        break;
      case ColumnKind::Integer: column.integers.reserve(n); break;
    }
  }
}

void Batch::reserve_texts(std::int64_t rows) {
  if (rows_ == 0) return;
  for (Column& column : columns_) {
    if (column.offsets.empty()) continue;
    // A quarter more than the rows so far suggest, within a batch's limit.
    const std::size_t guess = column.bytes.size() / static_cast<std::size_t>(rows_) * static_cast<std::size_t>(rows) / 4 * 5;
    column.bytes.reserve(std::min(guess, Table::kMaxTextBytes));
  }
}

void Batch::date(std::size_t index, const std::optional<mirtle::Date>& value) {
  Column& column = columns_[index];
  mark(column, value.has_value());
  column.days.push_back(value ? days_since_epoch(*value) : 0);
}

void Batch::amount(std::size_t index, const std::optional<mirtle::Decimal>& value) {
  Column& column = columns_[index];
  mark(column, value.has_value());
  column.amounts.push_back(value ? unscaled(*value) : 0);
  column.scales.push_back(value ? value->scale : 0);
}

void Batch::integer(std::size_t index, std::int64_t value) {
  Column& column = columns_[index];
  mark(column, true);
  column.integers.push_back(value);
}

std::size_t Batch::row_text_bytes(std::int64_t row) const noexcept {
  const auto r = static_cast<std::size_t>(row);
  std::size_t bytes = 0;
  for (const Column& column : columns_)
    if (!column.offsets.empty()) bytes += static_cast<std::size_t>(column.offsets[r + 1] - column.offsets[r]);
  return bytes;
}

namespace {

// Bits [first, last) of `from` after the first `at` bits of `to`, whose
// bits past `at` are clear.
void append_bits(std::vector<std::uint8_t>& to, std::size_t at, const std::vector<std::uint8_t>& from,
                 std::size_t first, std::size_t last, bool all_set) {
  to.resize((at + last - first + 7) / 8, 0);
  if (all_set) {
    for (; at % 8 != 0 && first < last; ++at, ++first) to[at / 8] = static_cast<std::uint8_t>(to[at / 8] | (1u << (at % 8)));
    const std::size_t whole = (last - first) / 8;
    std::fill_n(to.begin() + static_cast<std::ptrdiff_t>(at / 8), whole, std::uint8_t{0xFF});
    at += whole * 8;
    first += whole * 8;
  }
  for (; first < last; ++at, ++first)
    if ((from[first / 8] >> (first % 8)) & 1u) to[at / 8] = static_cast<std::uint8_t>(to[at / 8] | (1u << (at % 8)));
}

template <typename T>
void reserve_more(std::vector<T>& to, std::size_t more) {
  to.reserve(to.size() + more);
}

template <typename T>
void append_range(std::vector<T>& to, const std::vector<T>& from, std::size_t first, std::size_t last) {
  if (from.empty()) return;
  reserve_more(to, last - first);
  to.insert(to.end(), from.begin() + static_cast<std::ptrdiff_t>(first), from.begin() + static_cast<std::ptrdiff_t>(last));
}

}  // namespace

void Batch::append_column(std::size_t index, const Batch& from, std::int64_t first_row, std::int64_t last_row) {
  const auto first = static_cast<std::size_t>(first_row), last = static_cast<std::size_t>(last_row);
  Column& to = columns_[index];
  const Column& column = from.columns_[index];
  append_bits(to.validity, static_cast<std::size_t>(rows_), column.validity, first, last, column.null_count == 0);
  if (column.null_count != 0)
    for (std::size_t r = first; r < last; ++r) to.null_count += ((column.validity[r / 8] >> (r % 8)) & 1u) == 0;
  if (!column.offsets.empty()) {
    const std::int32_t begin = column.offsets[first], end = column.offsets[last];
    const auto shift = static_cast<std::int32_t>(to.bytes.size()) - begin;
    const auto bytes = static_cast<std::size_t>(end - begin);
    to.bytes.reserve(to.bytes.size() + bytes);
    to.bytes.append(column.bytes, static_cast<std::size_t>(begin), bytes);
    reserve_more(to.offsets, last - first);
    const std::size_t at = to.offsets.size();
    to.offsets.insert(to.offsets.end(), column.offsets.begin() + static_cast<std::ptrdiff_t>(first + 1),
                      column.offsets.begin() + static_cast<std::ptrdiff_t>(last + 1));
    for (std::size_t r = at; r < to.offsets.size(); ++r) to.offsets[r] += shift;
  }
  append_range(to.days, column.days, first, last);
  append_range(to.amounts, column.amounts, first, last);
  append_range(to.scales, column.scales, first, last);
  append_range(to.integers, column.integers, first, last);
}

Batch& Table::row_batch(std::size_t row_text_bytes) {
  if (row_text_bytes > kMaxRowTextBytes) throw TableError("texts too long for one table row");
  if (batches_.empty() || batches_.back().rows() >= kMaxRows || batches_.back().text_bytes() >= kMaxTextBytes) {
    if (!batches_.empty()) expected_rows_ -= batches_.back().rows();
    batches_.emplace_back(specs_, std::clamp<std::int64_t>(expected_rows_, 0, kMaxRows));
  }
  Batch& batch = batches_.back();
  if (batch.rows() == kSampleRows && expected_rows_ > 2 * kSampleRows)
    batch.reserve_texts(std::min(expected_rows_, kMaxRows));
  return batch;
}

// Every other column on a thread of its own, when one can be had: the
// copy waits mostly on first touches of pages, which two cores take at once.
void Table::copy_columns(Batch& from, std::span<const Run> runs) {
  const auto copy = [&](std::size_t first) {
    for (std::size_t i = first; i < specs_.size(); i += 2) {
      for (const Run& run : runs) batches_[run.to].append_column(i, from, run.first, run.last);
      from.drop(i);
    }
  };
  std::thread other;
  try {
    other = std::thread(copy, 1);
  } catch (const std::system_error&) {
    copy(1);
  }
  std::exception_ptr thrown;
  try {
    copy(0);
  } catch (...) {
    thrown = std::current_exception();  // std::bad_alloc, once the other thread is joined
  }
  if (other.joinable()) other.join();
  if (thrown) std::rethrow_exception(thrown);
}

// Row by row, a later row goes where row_batch() would put it.  The rows
// that go together are copied a column at a time, and each column of
// `later` is freed once copied, so the copy needs little more memory than
// the table's own.
void Table::append(Table&& later) {
  if (batches_.empty()) {
    batches_ = std::move(later.batches_);
    later.batches_.clear();
    return;
  }
  for (Batch& from : later.batches_) {
    std::vector<Run> runs;
    std::int64_t rows = batches_.back().rows();
    std::size_t bytes = batches_.back().text_bytes();
    // A batch that fits whole needs no look at its rows: before each of
    // them the texts stay below the limit.
    if (rows + from.rows() <= kMaxRows && bytes + from.text_bytes() < kMaxTextBytes && rows < kMaxRows) {
      runs.push_back({batches_.size() - 1, 0, from.rows(), from.text_bytes()});
      rows += from.rows();
      bytes += from.text_bytes();
    }
    for (std::int64_t first = runs.empty() ? 0 : from.rows(); first < from.rows();) {
      if (rows >= kMaxRows || bytes >= kMaxTextBytes) {
        batches_.emplace_back(specs_, 0);
        rows = 0;
        bytes = 0;
      }
      Run run{batches_.size() - 1, first, first, 0};
      while (run.last < from.rows() && rows < kMaxRows && bytes < kMaxTextBytes) {
        const std::size_t row_bytes = from.row_text_bytes(run.last++);
        bytes += row_bytes;
        run.text_bytes += row_bytes;
        ++rows;
      }
      runs.push_back(run);
      first = run.last;
    }
    copy_columns(from, runs);
    for (const Run& run : runs) batches_[run.to].add_rows(run.last - run.first, run.text_bytes);
  }
  later.batches_.clear();
}

std::optional<Table::RowRef> Table::finish() {
  for (const Batch& batch : batches_)
    for (std::size_t i = 0; i < specs_.size(); ++i)
      for (std::uint8_t s : batch.column(i).scales) scale_ = s > scale_ ? s : scale_;
  for (std::size_t b = 0; b < batches_.size(); ++b)
    for (std::size_t i = 0; i < specs_.size(); ++i) {
      Column& column = batches_[b].column(i);
      if (specs_[i].kind != ColumnKind::Amount) continue;
      const std::int64_t row = rescale(column, scale_);
      if (row >= 0) return RowRef{b, row};
      column.scales = {};  // no longer needed
    }
  return std::nullopt;
}

void export_schema(const Table& table, ArrowSchema* out) {
  const std::span<const ColumnSpec> specs = table.specs();
  auto data = std::make_unique<SchemaData>();
  data->format = "+s";
  data->children.resize(specs.size());
  for (std::size_t i = 0; i < specs.size(); ++i) {
    auto child = std::make_unique<SchemaData>();
    child->format = format_of(specs[i].kind, table.scale());
    fill_schema(&data->children[i], std::move(child), specs[i].name,
                specs[i].nullable ? ARROW_FLAG_NULLABLE : 0);
  }
  fill_schema(out, std::move(data), "", 0);
}

void export_stream(std::shared_ptr<const Table> table, ArrowArrayStream* out) {
  auto data = std::make_unique<StreamData>();
  data->table = std::move(table);
  *out = ArrowArrayStream{};
  out->get_schema = stream_get_schema;
  out->get_next = stream_get_next;
  out->get_last_error = stream_last_error;
  out->release = stream_release;
  out->private_data = data.release();
}

}  // namespace mirtle_tables
