// The ways of reading records: handed one at a time to a sink, or
// collected into one Statement; a large text in two parts at once.
#include <optional>
#include <string>
#include <vector>

#include "mirtle/sections.hpp"
#include "mirtle/statement.hpp"
#include "parse_in_parts.hpp"
#include "record_reader.hpp"
#include "statement_sink.hpp"
#include "builders.hpp"

namespace mirtle {

namespace {

// The records of a statement's second part, kept in order for the first
// part's sink.
class PartSink final : public RecordSink {
 public:
  explicit PartSink(std::size_t text_size) { documents_.reserve(text_size / 2 / kDocumentBytes); }

  void on_header(Encoding, const AttributeMap&) override {}  // never: it went with the first part
  void on_interval(std::string_view account, Interval&& interval, LineNo lineno) override {
    intervals_.push_back({std::string(account), std::move(interval), lineno});
  }
  void on_document(Document&& document, LineNo) override { documents_.push_back(std::move(document)); }
  void on_warning(Warning&& warning) override { warnings_.push_back(std::move(warning)); }

  // Hands the records to `sink`, their lines moved on by `lines_before`.
  void replay(StatementSink& sink, LineNo lines_before) {
    for (FiledInterval& i : intervals_) sink.on_interval(i.account, std::move(i.interval), i.lineno + lines_before);
    for (Document& d : documents_) sink.on_document(std::move(d), 0);
    for (Warning& w : warnings_) sink.on_warning(Warning{w.lineno + lines_before, std::move(w.message)});
  }

 private:
  struct FiledInterval {
    std::string account;
    Interval interval;
    LineNo lineno;
  };

  std::vector<FiledInterval> intervals_;
  std::vector<Document> documents_;
  std::vector<Warning> warnings_;
};

// A whole statement's records from two parts.
class StatementParts final : public SplitSink {
 public:
  explicit StatementParts(std::size_t text_size) : text_size_(text_size) { reset(); }

  RecordSink& first() override { return *statement_; }
  RecordSink& second() override { return *part_; }
  void join(LineNo lines_before) override { part_->replay(*statement_, lines_before); }
  void reset() override {
    statement_.emplace(text_size_);
    part_.emplace(text_size_);
  }

  Statement finish(AttributeMap&& header) { return statement_->finish(std::move(header)); }

 private:
  std::size_t text_size_;
  std::optional<StatementSink> statement_;
  std::optional<PartSink> part_;
};

}  // namespace

Result<Ok, ParseError> read_records(SectionStream& stream, RecordReader& reader) {
  SectionEvent event;
  for (;;) {
    auto more = stream.next(event);
    if (!more) return fail(std::move(more).error());
    if (!*more) return Ok{};
    auto taken = reader.take(event);
    if (!taken) return taken;
    // Without an event a line: they would cost a fifth of the parse.
    if (event.kind == EventKind::SectionStart) reader.read_section(stream, event.section_type);
  }
}

Result<Ok, ParseError> parse_records(std::span<Hook* const> hooks, std::string_view input, RecordSink& sink) {
  auto stream = SectionStream::open(input);
  if (!stream) return fail(std::move(stream).error());
  RecordReader reader(hooks, stream->encoding(), sink);
  return read_records(*stream, reader);
}

Result<Ok, ParseError> parse_records(std::span<Hook* const> hooks, std::string_view input, SplitSink& sinks,
                                     const ParseOptions& options) {
  if (may_read_in_parts(hooks, input, options)) {
    if (auto parsed = parse_in_two_parts(input, sinks)) {
      if (!*parsed) return fail(std::move(*parsed).error());
      return Ok{};
    }
    sinks.reset();
  }
  return parse_records(hooks, input, sinks.first());
}

ParseResult parse_statement(std::span<Hook* const> hooks, std::string_view input) {
  return parse_statement(hooks, input, ParseOptions{});
}

ParseResult parse_statement(std::span<Hook* const> hooks, std::string_view input, const ParseOptions& options) {
  if (may_read_in_parts(hooks, input, options)) {
    StatementParts parts(input.size());
    if (auto parsed = parse_in_two_parts(input, parts)) {
      if (!*parsed) return fail(std::move(*parsed).error());
      return parts.finish(std::move(*parsed).value());
    }
  }
  auto stream = SectionStream::open(input);
  if (!stream) return fail(std::move(stream).error());
  StatementSink sink(input.size());
  RecordReader reader(hooks, stream->encoding(), sink);
  auto read = read_records(*stream, reader);
  if (!read) return fail(std::move(read).error());
  return sink.finish(reader.take_header());
}

}  // namespace mirtle
