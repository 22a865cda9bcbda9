// What every subcommand shares: exit statuses, diagnostics, opening and
// parsing an input, and finishing the output.
#pragma once

#include <string>
#include <string_view>

#include "input.hpp"
#include "mirtle/error.hpp"
#include "mirtle/sections.hpp"
#include "mirtle/statement.hpp"
#include "output.hpp"

namespace mirtle_cli {

enum ExitStatus : int { kSuccess = 0, kFailure = 1, kUsage = 2 };

class Progress;

// "FILE:LINE: error: MESSAGE", or "FILE: error: MESSAGE" for an error
// without a line, with its end of line; the file's name and the message
// with control and bidi characters escaped (printable.hpp), as in every
// message for a person.
std::string diagnostic(std::string_view file, const mirtle::ParseError& error);
// "FILE: error: MESSAGE" with its end of line.
std::string file_error(std::string_view file, std::string_view message);
// "FILE:LINE: error: MESSAGE" with its end of line, for an error the
// reader does not report (a balance that does not add up).
std::string balance_error(std::string_view file, mirtle::LineNo line, std::string_view message);
// "FILE:LINE: warning: MESSAGE" with its end of line.
std::string warning_line(std::string_view file, const mirtle::Warning& warning);

// The diagnostic of a failed parse on standard error.
void report_parse_error(std::string_view file, const mirtle::ParseError& error);

// The warning line of a document that could not be built, on standard
// error, clear of the progress bar.
void report_warning(Progress& progress, std::string_view file, const mirtle::Warning& warning);

// Thrown by a record sink to stop the parse once nobody takes the output.
struct OutputStopped {};

// "mirtle: TEXT" on standard error, TEXT escaped as a diagnostic is.
void complain(std::string_view text);

// `text` as it is on standard error; nothing more can be done when that fails.
void write_stderr(std::string_view text) noexcept;

std::string_view encoding_name(mirtle::Encoding encoding) noexcept;

// Opens `path` or complains; false when it could not be opened.
bool open_input(const std::string& path, Input& input);

// Parses the whole input, showing progress when that is worth it; on
// failure prints the diagnostic and returns false.
bool parse_input(const Input& input, mirtle::Statement& statement);

// Flushes `out`: kSuccess, or kFailure after complaining about a failed
// write.  A reader that closed the pipe early is not complained about.
int finish(Output& out);

// A record sink that writes while the statement is read, and completes its
// output once the whole statement has been read.
class WritingSink : public mirtle::RecordSink {
 public:
  virtual void finish() {}
  // Hands on what has been written so far, when a parse error ends the
  // output early.
  virtual void flush() {}
};

// Parses the input into `sink` and returns the exit status.  Output written
// before a parse error stays (what came before the error is sound) and the
// error is reported; a sink that throws OutputStopped ends the parse quietly.
int write_records(const Input& input, Output& out, Progress& progress, WritingSink& sink);

}  // namespace mirtle_cli
