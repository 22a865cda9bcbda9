// The two ways of reading records: handed one at a time to a sink, or
// collected into one Statement.
#include <optional>
#include <thread>

#include "mirtle/sections.hpp"
#include "mirtle/statement.hpp"
#include "parse_in_parts.hpp"
#include "record_reader.hpp"
#include "statement_sink.hpp"
#include "builders.hpp"

namespace mirtle {

Result<Ok, ParseError> read_records(SectionStream& stream, RecordReader& reader) {
  SectionEvent event;
  for (;;) {
    auto more = stream.next(event);
    if (!more) return fail(std::move(more).error());
    if (!*more) return Ok{};
    auto taken = reader.take(event);
    if (!taken) return taken;
    // Without an event a line: they would cost a fifth of the parse.
    if (event.kind == EventKind::SectionStart && reader.collects_values(event.section_type))
      stream.read_values(reader.values());
  }
}

Result<Ok, ParseError> parse_records(std::span<Hook* const> hooks, std::string_view input, RecordSink& sink) {
  auto stream = SectionStream::open(input);
  if (!stream) return fail(std::move(stream).error());
  RecordReader reader(hooks, stream->encoding(), sink);
  return read_records(*stream, reader);
}

ParseResult parse_statement(std::span<Hook* const> hooks, std::string_view input) {
  return parse_statement(hooks, input, ParseOptions{});
}

ParseResult parse_statement(std::span<Hook* const> hooks, std::string_view input, const ParseOptions& options) {
  if (hooks.empty() && input.size() >= options.split_from && options.threads != 1 &&
      (options.threads >= 2 || std::thread::hardware_concurrency() >= 2)) {
    if (std::optional<ParseResult> parsed = parse_in_two_parts(input)) return std::move(*parsed);
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
