// The records stage's entries: bytes in, a statement record or one error
// out, or the records handed one at a time to a sink.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mirtle/attrs.hpp"
#include "mirtle/error.hpp"
#include "mirtle/records.hpp"
#include "mirtle/result.hpp"
#include "mirtle/vocabulary.hpp"

namespace mirtle {

struct Statement {
  Encoding encoding = Encoding::UTF8;
  AttributeMap header;
  std::vector<Account> accounts;  // in order of each number's first section
  std::vector<Document> documents;  // in order of their closing lines
  std::vector<Warning> warnings;  // in the order they arose

  // Equality of every field; amounts as written.
  friend bool operator==(const Statement&, const Statement&) = default;
};

// What a hook answers: success, or failure with a message.
struct HookOutcome {
  bool failed = false;
  std::string message;

  static HookOutcome ok() { return {}; }
  static HookOutcome failure(std::string message) { return {true, std::move(message)}; }
};

// Called when a section closes, before its record is built.  May change
// `attrs`; must not throw.
class Hook {
 public:
  virtual ~Hook() = default;
  virtual HookOutcome on_section(SectionType type, AttributeMap& attrs,
                                 const AttributeMap& header) noexcept = 0;

  // The same call, made while nothing has changed the section yet, with
  // its attributes as views (distinct keys, in order) that stay valid for
  // the call only.  A hook that leaves them as they are returns with
  // `changed` untouched, and the section is read on from its lines; one
  // that changes them puts the section as it is to be in `changed_attrs`
  // and sets `changed`.  By default the views are copied into
  // `changed_attrs` and handed to on_section(), so a hook that overrides
  // this one alone saves the copy.  Throws only std::bad_alloc.
  virtual HookOutcome on_section_views(SectionType type, std::span<const AttributeView> attrs,
                                       const AttributeMap& header, AttributeMap& changed_attrs, bool& changed);
};

using ParseResult = Result<Statement, ParseError>;

// Whether a parse may use a second thread.  Without hooks, a statement of
// at least `split_from` bytes is read in two parts at once: the second
// part, from a document's start line near the middle, on a thread started
// for the call.  The result is the same either way, errors and warnings
// included.
struct ParseOptions {
  // 0: two when the machine runs two or more threads at once; 1: the
  // calling thread only; 2 or more: two.
  unsigned threads = 0;
  // Below this size a second thread costs more than it saves.
  std::size_t split_from = std::size_t{4} << 20;
};

// Whether `options` let a read with `hooks` take `input` in two parts.
bool may_read_in_parts(std::span<Hook* const> hooks, std::string_view input, const ParseOptions& options);

// Parses one statement.  `input` is read only during the call; UTF-8 input
// is used in place.  Hooks are called in order on this thread.  Reports
// every failure as a ParseError; throws only std::bad_alloc.
ParseResult parse_statement(std::span<Hook* const> hooks, std::string_view input);
ParseResult parse_statement(std::span<Hook* const> hooks, std::string_view input, const ParseOptions& options);

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
  // The same interval with both lines of its section: `start_line` is its
  // "СекцияРасчСчет" line.  The reader calls this one; by default it hands
  // the interval to on_interval, so a sink that needs no start line
  // overrides on_interval alone.
  virtual void on_interval_section(std::string_view account, Interval&& interval,
                                   [[maybe_unused]] LineNo start_line, LineNo end_line) {
    on_interval(account, std::move(interval), end_line);
  }
  virtual void on_document(Document&& document, LineNo end_line) = 0;
  virtual void on_warning(Warning&& warning) = 0;
};

// parse_statement with the records handed to `sink` instead of kept: the
// same hooks, errors and warnings.  Succeeds once "КонецФайла" has been read
// and the text holds nothing else.
Result<Ok, ParseError> parse_records(std::span<Hook* const> hooks, std::string_view input,
                                     RecordSink& sink);

// The sinks of a statement that may be read in two parts at once, as
// ParseOptions allow: the first part's records go to first(), the second
// part's to second() on a thread of its own, and join() then adds them
// after the first's.
class SplitSink {
 public:
  virtual ~SplitSink() = default;
  // The first part's records, or the whole text's when it is read as one.
  virtual RecordSink& first() = 0;
  // The second part's records, on the second thread, their lines numbered
  // from the part's first line; it must touch nothing first() touches.  A
  // sink that cannot take a record as it is throws TwoPartReader::Whole
  // (mirtle/two_parts.hpp), and the text is read whole.
  virtual RecordSink& second() = 0;
  // The second part's records after the first's, their lines moved on by
  // `lines_before`.
  virtual void join(LineNo lines_before) = 0;
  // Forgets every record: the text is read whole after all.
  virtual void reset() = 0;
};

// parse_records into first(), the text read in two parts at once when
// `options` allow (no hooks, a large text) and the parts can be joined.
// On success first() holds, after the join, what parse_records hands over;
// on failure the error is parse_records', and the sinks hold what they
// were given before it.
Result<Ok, ParseError> parse_records(std::span<Hook* const> hooks, std::string_view input, SplitSink& sinks,
                                     const ParseOptions& options);

}  // namespace mirtle
