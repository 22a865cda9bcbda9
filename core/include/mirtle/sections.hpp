// The section stream: a statement as the lossless sequence of its lines,
// in file order, with line numbers, under the records.  Every header
// attribute and every section attribute is reported, repeats included, and
// keys the records do not know are kept.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mirtle/error.hpp"
#include "mirtle/result.hpp"
#include "mirtle/statement.hpp"

namespace mirtle {

enum class EventKind : std::uint8_t {
  Start,             // the "1CClientBankExchange" line
  HeaderAttribute,   // key, value
  SectionStart,      // section; for a document, key is "СекцияДокумент" and
                     // value the document type (possibly empty)
  SectionAttribute,  // section, key, value
  SectionEnd,        // section: the closing line
  End,               // "КонецФайла": the statement is complete
};

// One line of the stream.  `line` is the whole line trimmed of white space
// (so "Сумма = 5" stays as written); `key` and `value` are its trimmed parts.
//
// Views stay valid until the next call of SectionStream::next, except the
// views of an open section's attributes and of its start line: those stay
// valid until the call after the section's SectionEnd, so a caller may keep
// a section's views until it closes without copying them.
struct SectionEvent {
  EventKind kind = EventKind::Start;
  SectionType section = SectionType::Document;  // SectionStart/Attribute/End
  LineNo lineno = 0;
  std::string_view line;
  std::string_view key;
  std::string_view value;
};

// Reads a statement event by event.  Enforces the order of sections and
// reports the same errors, with the same fields and line numbers, as
// parse_statement; record-level failures (a bad interval, a missing
// account number, a document that cannot be built) are not its concern.
class SectionStream {
 public:
  // Decides the encoding and checks the marker line.  `input` must outlive
  // the stream.  Fails with EmptyInput or NotStatement.
  static Result<SectionStream, ParseError> open(std::string_view input);

  SectionStream(SectionStream&&) noexcept;
  SectionStream& operator=(SectionStream&&) noexcept;
  ~SectionStream();

  Encoding encoding() const noexcept;

  // The next event: true and `event` filled, or false once the text is
  // exhausted after End.  A line the state does not allow, an unrecognized
  // line, or text that ends before End is an error; after an error the
  // stream must not be used again.
  Result<bool, ParseError> next(SectionEvent& event);

 private:
  friend struct RecordPump;  // reads a document's attribute lines directly

  struct State;
  explicit SectionStream(std::unique_ptr<State> state) noexcept;
  std::unique_ptr<State> state_;
};

// The stream in owned form: what a writer needs to reproduce a file.
struct RawAttribute {
  LineNo lineno = 0;
  std::string key;
  std::string value;

  friend bool operator==(const RawAttribute&, const RawAttribute&) = default;
};

struct RawSection {
  SectionType kind = SectionType::Document;
  std::string doc_type;  // empty for account sections
  LineNo start_line = 0;
  LineNo end_line = 0;
  std::vector<RawAttribute> attributes;  // file order, repeats kept

  friend bool operator==(const RawSection&, const RawSection&) = default;
};

struct RawStatement {
  Encoding encoding = Encoding::UTF8;
  std::vector<RawAttribute> header;  // file order, repeats kept
  std::vector<RawSection> sections;  // file order

  friend bool operator==(const RawStatement&, const RawStatement&) = default;
};

// Reads the whole stream into owned form.
Result<RawStatement, ParseError> read_sections(std::string_view input);

// Receives records one at a time, so that a statement of any size can be
// converted without holding all its documents.  Exceptions a sink throws
// propagate out of parse_records.
class RecordSink {
 public:
  virtual ~RecordSink() = default;
  // Once, at the first section; the header is final from then on.
  virtual void on_header(Encoding encoding, const AttributeMap& header) = 0;
  // Each balance interval as its section closes, in file order: repeats
  // are not dropped and intervals are not sorted (parse_statement does both).
  virtual void on_interval(std::string_view account, Interval&& interval, LineNo end_line) = 0;
  virtual void on_document(Document&& document, LineNo end_line) = 0;
  virtual void on_warning(Warning&& warning) = 0;
};

// parse_statement with the records handed to `sink` instead of kept: the
// same hooks, errors and warnings.  Succeeds once "КонецФайла" has been read
// and the text holds nothing else.
Result<Ok, ParseError> parse_records(std::span<Hook* const> hooks, std::string_view input,
                                     RecordSink& sink);

}  // namespace mirtle
