// convert: re-writes a statement through the lossless section stream.
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <fmt/format.h>

#include "commands.hpp"
#include "common.hpp"
#include "mirtle/sections.hpp"
#include "mirtle/writer.hpp"
#include "printable.hpp"

namespace mirtle_cli {

namespace {

constexpr std::string_view kEncodingKey = "Кодировка";

// The name the writer gives the output encoding in the header.
std::string_view header_name(mirtle::Encoding encoding) noexcept {
  return encoding == mirtle::Encoding::CP1251 ? "Windows" : "UTF-8";
}

mirtle::WriteOptions write_options(const ConvertOptions& options, mirtle::Encoding input) {
  mirtle::WriteOptions w;
  w.encoding = options.encoding.empty() ? input
               : options.encoding == "utf-8" ? mirtle::Encoding::UTF8
                                             : mirtle::Encoding::CP1251;
  w.newline = options.newline == "lf" ? mirtle::Newline::LF : mirtle::Newline::CRLF;
  // Asking for an encoding is asking for the header to name it.
  w.update_encoding_header = true;
  return w;
}

// Tells, on standard error, which Кодировка lines the writer renames.
void report_header_updates(const std::string& name, const mirtle::RawStatement& raw, mirtle::Encoding output) {
  const std::string_view target = header_name(output);
  for (const mirtle::RawAttribute& a : raw.header) {
    if (a.key != kEncodingKey || a.value == target) continue;
    const std::string note =
        printable(fmt::format("{}:{}: note: {}={} is written as {}={}", name, a.lineno, a.key, a.value, a.key, target)) +
        "\n";
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, note.data(), note.size());
  }
}

// Writes `text` to `path` ("-": standard output) as a whole: into a
// temporary file that replaces the target only once everything is written.
bool write_file(const std::string& path, std::string_view text) {
  if (path == "-") {
    Output out(STDOUT_FILENO, "standard output");
    out.write(text);
    return finish(out) == kSuccess;
  }
  const std::string temporary = path + ".mirtle-tmp";
  const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    complain(fmt::format("{}: {}", path, std::strerror(errno)));
    return false;
  }
  Output out(fd, path);
  out.write(text);
  bool ok = out.flush();
  if (!ok) complain(out.failure());
  if (::close(fd) != 0 && ok) {
    complain(fmt::format("{}: {}", path, std::strerror(errno)));
    ok = false;
  }
  if (ok && std::rename(temporary.c_str(), path.c_str()) != 0) {
    complain(fmt::format("{}: {}", path, std::strerror(errno)));
    ok = false;
  }
  if (!ok) ::unlink(temporary.c_str());
  return ok;
}

}  // namespace

int run_convert(const ConvertOptions& options) {
  Input input;
  if (!open_input(options.file, input)) return kFailure;
  auto raw = mirtle::read_sections(input.bytes());
  if (!raw) {
    report_parse_error(input.name(), raw.error());
    return kFailure;
  }
  const mirtle::WriteOptions write = write_options(options, raw->encoding);
  auto text = mirtle::write_sections(*raw, write);
  if (!text) {
    const std::string refusal =
        printable(fmt::format("{}: error: cannot be written: {}", input.name(), mirtle::message(text.error()))) + "\n";
    [[maybe_unused]] const ssize_t ignored = ::write(STDERR_FILENO, refusal.data(), refusal.size());
    return kFailure;
  }
  report_header_updates(input.name(), *raw, write.encoding);
  return write_file(options.output, *text) ? kSuccess : kFailure;
}

}  // namespace mirtle_cli
