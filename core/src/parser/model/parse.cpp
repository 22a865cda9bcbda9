// The two ways of reading records: handed one at a time to a sink, or
// collected into one Statement.
#include "mirtle/sections.hpp"
#include "mirtle/statement.hpp"
#include "parser/model/record_reader.hpp"
#include "parser/model/section_state.hpp"
#include "records/builders.hpp"

namespace mirtle {

Result<Ok, ParseError> RecordPump::run(SectionStream& stream, RecordReader& reader) {
  SectionStream::State& state = *stream.state_;
  SectionEvent event;
  for (;;) {
    auto more = stream.next(event);
    if (!more) return fail(std::move(more).error());
    if (!*more) return Ok{};
    auto taken = reader.take(event);
    if (!taken) return taken;
    // An event a line cost a fifth of the parse: callgrind, 1 MB statements,
    // UTF-8 10.02 M -> 7.85 M instructions, windows-1251 18.22 M -> 14.82 M.
    if (event.kind == EventKind::SectionStart && reader.collects_fields(event.section))
      state.read_attributes(reader.fields());
  }
}

namespace {

// Room for one document is reserved for every this many bytes of input, so
// that the statement's vector seldom grows: a document takes 25 to 40 lines,
// 1 to 1.7 KB.  Each growth moved every document into newly mapped memory,
// and mapping it in was a large part of a parse on this machine.  Room left
// unused is address space more than memory: pages never written are never
// mapped in.  Core benchmark, 50 MB statements, minimum of 20 interleaved
// runs: UTF-8 30.9 -> 29.4 ms, windows-1251 63.8 -> 59.6 ms; repeated parses
// of the windows-1251 one in a process holding nothing else: 130-160 ms
// each -> 70-100 ms.
constexpr std::size_t kDocumentBytes = 1024;

// Collects the records of one statement; intervals are filed (sorted, with
// repeats dropped) as they come.
class StatementSink final : public RecordSink {
 public:
  explicit StatementSink(std::size_t expected_documents) { statement_.documents.reserve(expected_documents); }
  void on_header(Encoding encoding, const AttributeMap&) override { statement_.encoding = encoding; }
  void on_interval(std::string_view account, Interval&& interval, LineNo) override {
    accounts_.add_interval(account, interval);
  }
  void on_document(Document&& document, LineNo) override {
    statement_.documents.push_back(std::move(document));
  }
  void on_warning(Warning&& warning) override { statement_.warnings.push_back(std::move(warning)); }

  Statement finish(AttributeMap&& header) {
    statement_.header = std::move(header);
    statement_.accounts = accounts_.finish();
    return std::move(statement_);
  }

 private:
  Statement statement_;
  AccountBook accounts_;
};

}  // namespace

Result<Ok, ParseError> parse_records(std::span<Hook* const> hooks, std::string_view input, RecordSink& sink) {
  auto stream = SectionStream::open(input);
  if (!stream) return fail(std::move(stream).error());
  RecordReader reader(hooks, stream->encoding(), sink);
  return RecordPump::run(*stream, reader);
}

ParseResult parse_statement(std::span<Hook* const> hooks, std::string_view input) {
  auto stream = SectionStream::open(input);
  if (!stream) return fail(std::move(stream).error());
  StatementSink sink(input.size() / kDocumentBytes);
  RecordReader reader(hooks, stream->encoding(), sink);
  auto read = RecordPump::run(*stream, reader);
  if (!read) return fail(std::move(read).error());
  return sink.finish(reader.take_header());
}

}  // namespace mirtle
