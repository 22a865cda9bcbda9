// Writing a statement: records or the lossless section stream in, the text
// of a statement file out.  The writer emits one canonical form and refuses
// whatever a reader could not give back identically; it never changes data
// to make it fit.
//
// The records path writes the header's attributes in order, then one
// account section per balance interval (accounts in order, each account's
// intervals in order), then one document section per document, then
// "КонецФайла".  An account section holds ДатаНачала, ДатаКонца, РасчСчет,
// НачальныйОстаток, ВсегоПоступило, ВсегоСписано, КонечныйОстаток, absent
// values left out; a document section holds the type line, then the
// document's keys in the record's field order, absent optional fields left
// out and an empty text written as "Key=".  Dates are written dd.mm.yyyy
// (a year outside 0..9999 with its sign and at least four digits), amounts
// with their own scale ("100.50" stays "100.50").  Warnings are not records
// and are not written.
//
// The stream path writes a RawStatement as it stands: every header
// attribute (repeats included), every section in order with its attributes
// (unknown keys and repeats included).  Line numbers are not written.
//
// The header is data and is written as given, with one exception for
// Кодировка, the key naming the file's encoding.  Its value is read with
// ASCII case ignored: "Windows", "Windows-1251" and "CP1251" name
// windows-1251; "UTF-8" and "UTF8" name UTF-8; "DOS" and "CP866" name
// an encoding this writer never produces.  A value naming an encoding other
// than the output's is refused (EncodingHeader), unless
// `update_encoding_header` is set: then every Кодировка value is written as
// the output's own name, "Windows" or "UTF-8".  Other values are unknown
// and written as given; a header without Кодировка gets none.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <variant>

#include "mirtle/result.hpp"
#include "mirtle/sections.hpp"
#include "mirtle/statement.hpp"

namespace mirtle {

enum class Newline : std::uint8_t { CRLF = 0, LF = 1 };

struct WriteOptions {
  Encoding encoding = Encoding::CP1251;  // what banks and accounting programs expect
  Newline newline = Newline::CRLF;
  // Write every Кодировка value as the output encoding's name instead of
  // refusing one that names another encoding.
  bool update_encoding_header = false;
};

// Why a statement cannot be written.  The order is part of the interface.
enum class WriteErrorKind : std::uint8_t {
  LineBreakInKey,       // a line feed or carriage return in a key
  LineBreakInValue,     // ... in a value (or a document type)
  EmptyKey,
  EqualsInKey,          // a key holding "="
  SpaceAroundKey,       // white space at the start or end of a key
  SpaceAroundValue,     // ... of a value: a reader trims it
  KeywordKey,           // a key equal to one of the format's keywords
  InvalidUtf8,          // a key or value that is not well-formed UTF-8
  NotInWindows1251,     // a character with no windows-1251 form; see code_point
  ImplausibleWindows1251,  // the reader's plausibility check would reject the text
  EncodingHeader,       // Кодировка names another encoding than the output's
  NoSection,            // nothing between the header and "КонецФайла"
  InvalidDate,          // a date the reader could not have produced
  InvalidAmount,        // scale above 28, or a negative zero
  UnsortedIntervals,    // a reader would reorder the account's intervals
  RepeatedInterval,     // a reader would drop the interval as a repeat
  RepeatedAccount,      // a reader would merge the account into an earlier one
  EmptyAccount,         // an account without intervals has no section
};

// Where a refusal applies.
enum class WriteScope : std::uint8_t {
  Statement,  // the text as a whole (encoding checks, no section)
  Header,
  Section,    // `position` and `section_type` say which
};

struct WriteError {
  WriteErrorKind kind = WriteErrorKind::NoSection;
  WriteScope scope = WriteScope::Statement;
  // 0-based position of the section in output order.  On the records path
  // the account sections (one per interval) come first, so document i is at
  // (number of intervals) + i.  For EmptyAccount, the position the
  // account's first section would have had.
  std::size_t position = 0;
  SectionType section_type = SectionType::Document;
  std::string key;  // the key concerned, UTF-8 as given; empty when none
  char32_t code_point = 0;  // NotInWindows1251: the character
};

// A clear English sentence naming the place, the key and the reason, e.g.
// section 3 (document), key "Сумма": the value has white space at its
// start or end, which a reader would trim
std::string message(const WriteError& error);

// Appends the statement's text to `out`.  On failure `out` is left as it
// was.  Allocates nothing per line: only to grow `out`, a fixed amount per
// call, and on the records path one array to find repeated account numbers
// (and one per run of more than 16 intervals with one start date).  Throws
// only std::bad_alloc.
Result<Ok, WriteError> write_statement(const Statement& statement, const WriteOptions& options,
                                       std::string& out);
Result<Ok, WriteError> write_sections(const RawStatement& statement, const WriteOptions& options,
                                      std::string& out);

// The same, into a new string.
Result<std::string, WriteError> write_statement(const Statement& statement, const WriteOptions& options = {});
Result<std::string, WriteError> write_sections(const RawStatement& statement, const WriteOptions& options = {});

// Why a section stream was not written: the reader's error, or the
// writer's refusal.
using StreamWriteError = std::variant<ParseError, WriteError>;

// The value a header attribute is written with, asked for each one as the
// stream reads it (the event's key, value and line): the event's own value,
// or another that stays valid until the next call.
using HeaderValue = std::function<std::string_view(const SectionEvent& attribute)>;

// The stream path for a text read once: the section stream written as it
// is read, section after section, with no copy of the statement held.
// Appends what write_sections(read_sections(input)) appends and fails as
// the two fail: with the reader's error, which a refusal does not hide
// (the stream is read to its end), else with the writer's.  `stream` is
// read from its next event to its end; on failure `out` is left as it
// was.  Allocates nothing per line.
Result<Ok, StreamWriteError> write_stream(SectionStream& stream, const WriteOptions& options, std::string& out,
                                          const HeaderValue& header_value = {});

}  // namespace mirtle
