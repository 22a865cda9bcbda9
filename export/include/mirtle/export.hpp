// Statements written out for other programs: JSON, JSON Lines, CSV and
// XLSX.  Each writer is a record sink, so that a statement is written while
// parse_records reads it, in bounded memory; each also has an entry that
// takes a Statement already built, which writes the very same bytes.  The
// bytes go to a ByteSink, which the caller implements on whatever takes
// them (a descriptor, a Python file, a buffer).
//
// Writers report failures (a temporary file that cannot be made, a
// spreadsheet library error) by throwing ExportError; an exception a
// ByteSink throws passes through unchanged, and through parse_records.
#pragma once

#include <cstddef>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "mirtle/error.hpp"
#include "mirtle/result.hpp"
#include "mirtle/sections.hpp"
#include "mirtle/statement.hpp"

namespace mirtle {

// Where a writer's bytes go, in order, in blocks of about 256 KiB, on the
// thread that reads the statement: a sink that must take a lock (or attach
// to an interpreter) does so once a block.  May throw to stop the writer.
class ByteSink {
 public:
  virtual ~ByteSink() = default;
  virtual void write(std::string_view bytes) = 0;
  // A whole block the writer has filled: by default written, then cleared.
  // A sink that keeps blocks whole may swap `block` with a string of its
  // own instead of copying it; `block` must be left empty.
  virtual void take(std::string& block) {
    write(block);
    block.clear();
  }
};

// Keeps every byte in `bytes`.
class StringSink final : public ByteSink {
 public:
  std::string bytes;
  void write(std::string_view more) override { bytes += more; }
};

class ExportError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A record sink that writes one format while the records arrive.
class RecordWriter : public RecordSink {
 public:
  // Completes the output once the whole statement has been read; not
  // called after a read that failed (what was written stays, unfinished).
  virtual void finish() = 0;
  // Hands what has been written so far to the sink: after a read that
  // failed, the part before the error stays.
  virtual void flush() = 0;
};

// Reads `input` into `writer` and completes it: parse_records, then
// finish() when the statement was read whole, else flush().
Result<Ok, ParseError> export_records(std::string_view input, RecordWriter& writer);

// --- JSON ---------------------------------------------------------------------
// Compact UTF-8 JSON as Python's json.dumps(obj, ensure_ascii=False,
// separators=(",", ":")) writes it; documents by the 53 attributes of
// kDocumentAttributes, intervals by those of kIntervalAttributes, dates
// "YYYY-MM-DD", amounts with their own scale, absent values null.

// One object: {"encoding", "header", "accounts", "documents", "warnings"}
// and a line feed.  The accounts come first but are complete only after
// their last section: documents read before then wait, their JSON in a
// bounded buffer and then a temporary file.  Given the `input` being read,
// the writer can tell when no account section is left (none of the
// account keyword's occurrences in the text is unread), so a statement
// whose account sections come first holds no documents at all.
std::unique_ptr<RecordWriter> json_writer(ByteSink& out, std::string_view input = {});
void write_json(const Statement& statement, ByteSink& out);

// JSON Lines: one document object per line, nothing else.
std::unique_ptr<RecordWriter> json_lines_writer(ByteSink& out);
void write_json_lines(const Statement& statement, ByteSink& out);

// The section stream: {"encoding", "header": [[line, key, value], ...],
// "sections": [{"kind", "doc_type", "start_line", "end_line",
// "attributes"}, ...]} and a line feed, every attribute in file order.
// Reads `input` itself; after an error the part written stays, unfinished.
Result<Ok, ParseError> write_sections_json(std::string_view input, ByteSink& out);
void write_sections_json(const RawStatement& statement, ByteSink& out);

// --- CSV ----------------------------------------------------------------------
// RFC 4180 with CR LF; a field is quoted when it holds the delimiter, a
// quote, CR or LF; an absent value is an empty field.

struct CsvOptions {
  bool intervals = false;  // the balance intervals ("account" first) instead of the documents
  bool excel = false;      // a UTF-8 byte-order mark and ';' between fields
};

std::unique_ptr<RecordWriter> csv_writer(ByteSink& out, const CsvOptions& options);
void write_csv(const Statement& statement, ByteSink& out, const CsvOptions& options);

// --- XLSX ---------------------------------------------------------------------
// A workbook of four sheets: "Documents" (one row per document: the 53
// fields in kDocumentAttributes order, then the closing line), "Accounts"
// (one row per interval with its balance checks, and a chart of closing
// balances), "Header" and "Warnings".  Dates are dates and amounts numbers
// where the cell holds the value exactly, text otherwise.  The workbook is
// assembled in temporary files and then copied to the sink.

struct XlsxOptions {
  // Column headers: the attribute names ("doc_number") instead of the
  // file's own keys ("Номер").
  bool attribute_names = false;
  // Where the temporary files go; empty: the system's ($TMPDIR, else /tmp
  // where there is one).
  std::string temporary_directory;
};

// Whether this build writes XLSX (the spreadsheet library is optional);
// without it xlsx_writer and write_xlsx throw ExportError.
bool xlsx_available() noexcept;
// `input`, the text being read when known, lets the balance checks sum
// the documents of the statement's own accounts only, once no account
// section is left (see json_writer).
std::unique_ptr<RecordWriter> xlsx_writer(ByteSink& out, const XlsxOptions& options, std::string_view input = {});

// Where a statement's records were read, for the entries that take a
// Statement: what the records themselves do not keep.  Empty vectors when
// unknown (the cells are then left empty).
struct RecordLines {
  std::vector<LineNo> documents;  // each document's closing line, parallel to Statement::documents
  std::vector<LineNo> intervals;  // each interval's "СекцияРасчСчет" line, in Statement::accounts order
};

void write_xlsx(const Statement& statement, ByteSink& out, const XlsxOptions& options,
                const RecordLines& lines = {});

}  // namespace mirtle
