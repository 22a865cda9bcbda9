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

#include "mirtle/decode.hpp"
#include "mirtle/document_values.hpp"
#include "mirtle/error.hpp"
#include "mirtle/result.hpp"
#include "mirtle/vocabulary.hpp"

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
  SectionType section_type = SectionType::Document;  // SectionStart/Attribute/End
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
  // The same over a text whose encoding is decided (text/decode.hpp): for a
  // caller that reads the first part of a text cut in two.
  static Result<SectionStream, ParseError> open(text::DecodedText&& decoded);
  // The rest of a statement cut right before a section's start line, in
  // the whole text's `encoding`: the stream starts between sections, with
  // no marker line and no header, and numbers its lines from 1.
  static SectionStream resume(std::string_view rest, Encoding encoding);

  SectionStream(SectionStream&&) noexcept;
  SectionStream& operator=(SectionStream&&) noexcept;
  ~SectionStream();

  Encoding encoding() const noexcept;

  // The next event: true and `event` filled, or false once the text is
  // exhausted after End.  A line the state does not allow, an unrecognized
  // line, or text that ends before End is an error (Unfinished, at the end
  // of the text: context() then tells where it stopped); after an error
  // the stream must not be used again.
  Result<bool, ParseError> next(SectionEvent& event);

  // Right after the SectionStart of a document: reads the section's
  // attribute lines into `values` instead of reporting them, and stops
  // before the first other line, which next() then reports.  The views in
  // `values` stay valid as an attribute event's would.  `values` ends as
  // SectionAttribute events passed to DocumentValues::set would leave it; a
  // line that starts with the key it expects next, followed by "=", is
  // taken without being classified first.
  void read_values(DocumentValues& values);

  // What read_attributes() hands a section's attribute lines to.
  class AttributeLines {
   public:
    virtual ~AttributeLines() = default;
    // An untrimmed line: true once taken as an attribute, when it starts
    // with the key expected next and "=" right after it (the key without
    // white space around it, the value trimmed); false, and nothing
    // taken, otherwise.  The expected key is never "СекцияДокумент".
    virtual bool take_expected(std::string_view line, LineNo lineno) = 0;
    // Any other attribute line, as a SectionAttribute event has it.
    virtual void take(std::string_view key, std::string_view value, LineNo lineno) = 0;
  };

  // Right after any SectionStart: reads the section's attribute lines into
  // `lines` instead of reporting them, and stops before the first other
  // line, which next() then reports.  The views handed over stay valid as
  // an attribute event's would.
  void read_attributes(AttributeLines& lines);

  // The reader's state: where a text that ended early stopped.
  ParserContext context() const noexcept;
  // Lines cut so far, blank ones included: after the end, the text's lines.
  LineNo lines_read() const noexcept;

 private:
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
  SectionType type = SectionType::Document;
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

}  // namespace mirtle
