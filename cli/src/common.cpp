#include "common.hpp"

#include <fmt/format.h>

#include "mirtle/message.hpp"
#include "mirtle/vocabulary.hpp"
#include "printable.hpp"
#include "progress.hpp"

namespace mirtle_cli {

std::string diagnostic(std::string_view file, const mirtle::ParseError& error) {
  const std::string message = printable(mirtle::describe(error));
  if (mirtle::has_line(error)) return fmt::format("{}:{}: error: {}\n", printable(file), error.lineno, message);
  return fmt::format("{}: error: {}\n", printable(file), message);
}

std::string file_error(std::string_view file, std::string_view message) {
  return fmt::format("{}: error: {}\n", printable(file), printable(message));
}

std::string balance_error(std::string_view file, mirtle::LineNo line, std::string_view message) {
  return fmt::format("{}:{}: error: {}\n", printable(file), line, printable(message));
}

std::string warning_line(std::string_view file, const mirtle::Warning& warning) {
  return fmt::format("{}:{}: warning: {}\n", printable(file), warning.lineno, printable(warning.message));
}

void report_parse_error(std::string_view file, const mirtle::ParseError& error) {
  write_stderr(diagnostic(file, error));
}

void report_warning(Progress& progress, std::string_view file, const mirtle::Warning& warning) {
  progress.print(warning_line(file, warning));
}

void complain(std::string_view text) {
  write_stderr(fmt::format("mirtle: {}\n", printable(text)));
}

void write_stderr(std::string_view text) noexcept {
  platform::write_all(platform::File::standard(platform::Stream::error), text);
}

std::string_view encoding_name(mirtle::Encoding encoding) noexcept { return mirtle::name(encoding); }

bool open_input(const std::string& path, Input& input) {
  std::string error;
  if (Input::open(path, input, error)) return true;
  complain(input.name() + ": " + error);
  return false;
}

bool parse_input(const Input& input, mirtle::Statement& statement) {
  Progress progress(input.bytes());
  ProgressHook hook(progress);
  mirtle::Hook* hooks[] = {&hook};
  const std::span<mirtle::Hook* const> active =
      progress.enabled() ? std::span<mirtle::Hook* const>(hooks) : std::span<mirtle::Hook* const>();
  mirtle::ParseResult result = mirtle::parse_statement(active, input.bytes());
  progress.done();
  if (!result) {
    report_parse_error(input.name(), result.error());
    return false;
  }
  statement = std::move(result).value();
  return true;
}

int finish(Output& out) {
  if (out.flush() || out.reader_gone()) return kSuccess;
  complain(out.failure());
  return kFailure;
}

int write_records(const Input& input, Output& out, Progress& progress, WritingSink& sink) {
  try {
    const auto parsed = mirtle::parse_records({}, input.bytes(), sink);
    progress.done();
    if (!parsed) {
      try {
        sink.flush();
      } catch (const OutputStopped&) {
        // The output's failure is reported below, beside the parse error.
      }
      const int written = finish(out);
      report_parse_error(input.name(), parsed.error());
      return written == kSuccess ? kFailure : written;
    }
    sink.finish();
  } catch (const OutputStopped&) {
    progress.done();
  }
  return finish(out);
}

}  // namespace mirtle_cli
