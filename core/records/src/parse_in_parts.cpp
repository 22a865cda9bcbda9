// A large statement's records read in two parts at once: a reader of
// records on each side of the cut, each with its own sink.
#include "parse_in_parts.hpp"

#include <atomic>
#include <optional>
#include <thread>

#include "record_reader.hpp"
#include "mirtle/two_parts.hpp"

namespace mirtle {

namespace {

// Thrown through the second part's reading when the first part has made
// its result useless.
struct Stopped {};

// Hands records on to the second part's sink until the first part calls
// the reading off.
class StoppingSink final : public RecordSink {
 public:
  StoppingSink(RecordSink& sink, const std::atomic<bool>& stop) noexcept : sink_(sink), stop_(stop) {}

  void on_header(Encoding, const AttributeMap&) override {}  // never: it went with the first part
  void on_interval(std::string_view account, Interval&& interval, LineNo lineno) override {
    check_stop();
    sink_.on_interval(account, std::move(interval), lineno);
  }
  void on_interval_section(std::string_view account, Interval&& interval, LineNo start_line,
                           LineNo end_line) override {
    check_stop();
    sink_.on_interval_section(account, std::move(interval), start_line, end_line);
  }
  void on_document(Document&& document, LineNo lineno) override {
    check_stop();
    sink_.on_document(std::move(document), lineno);
  }
  void on_warning(Warning&& warning) override { sink_.on_warning(std::move(warning)); }

 private:
  void check_stop() const {
    if (stop_.load(std::memory_order_relaxed)) throw Stopped{};
  }

  RecordSink& sink_;
  const std::atomic<bool>& stop_;
};

class RecordParts final : public TwoPartReader {
 public:
  explicit RecordParts(SplitSink& sinks) noexcept : sinks_(sinks) {}

  Result<Ok, ParseError> read_first(SectionStream& stream) override {
    first_.emplace(std::span<Hook* const>{}, stream.encoding(), sinks_.first());
    return read_records(stream, *first_);
  }

  Result<Ok, ParseError> read_second(SectionStream& stream, const std::atomic<bool>& stop) override {
    StoppingSink sink(sinks_.second(), stop);
    RecordReader reader({}, stream.encoding(), sink);
    reader.skip_header();
    try {
      return read_records(stream, reader);
    } catch (const Stopped&) {
      return Ok{};  // not wanted
    }
  }

  void join(LineNo lines_before) override { sinks_.join(lines_before); }

  AttributeMap take_header() noexcept { return first_->take_header(); }

 private:
  SplitSink& sinks_;
  std::optional<RecordReader> first_;
};

}  // namespace

bool may_read_in_parts(std::span<Hook* const> hooks, std::string_view input, const ParseOptions& options) {
  return hooks.empty() && input.size() >= options.split_from && options.threads != 1 &&
         (options.threads >= 2 || std::thread::hardware_concurrency() >= 2);
}

std::optional<Result<AttributeMap, ParseError>> parse_in_two_parts(std::string_view input, SplitSink& sinks) {
  RecordParts parts(sinks);
  auto read = read_in_two_parts(input, parts);
  if (!read) return std::nullopt;
  if (!*read) return Result<AttributeMap, ParseError>(fail(std::move(*read).error()));
  return Result<AttributeMap, ParseError>(parts.take_header());
}

}  // namespace mirtle
