// convert: re-writes a statement through the lossless section stream.
#include <optional>
#include <string>
#include <utility>

#include <fmt/format.h>

#include "commands.hpp"
#include "common.hpp"
#include "mirtle/sections.hpp"
#include "mirtle/writer.hpp"
#include "printable.hpp"
#include "write_file.hpp"

namespace mirtle_cli {

namespace {

mirtle::WriteOptions write_options(const ConvertOptions& options, mirtle::Encoding input) {
  mirtle::WriteOptions w;
  w.encoding = options.encoding.empty() ? input
               : options.encoding == "utf-8" ? mirtle::Encoding::UTF8
                                             : mirtle::Encoding::CP1251;
  w.newline = options.newline == "lf" ? mirtle::Newline::LF : mirtle::Newline::CRLF;
  return w;
}

// Renames each Кодировка value that names the input's encoding to the
// output's name, when the two differ; returns a note for each.  Other values
// stay, and the writer refuses one naming a third encoding.  (The writer's
// update_encoding_header would rename every value, "KOI8-R" and empty too.)
std::string rename_encoding_headers(const std::string& name, mirtle::RawStatement& raw, mirtle::Encoding output) {
  std::string notes;
  if (raw.encoding == output) return notes;
  const std::string_view target = mirtle::header_name(output);
  for (mirtle::RawAttribute& a : raw.header) {
    if (a.key != mirtle::kEncodingKey || !mirtle::names_encoding(a.value, raw.encoding)) continue;
    notes += printable(fmt::format("{}:{}: note: {}={} is written as {}={}", name, a.lineno, a.key, a.value, a.key,
                                   target)) + "\n";
    a.value = target;
  }
  return notes;
}

// The converted text, or nothing after reporting why there is none.
std::optional<std::string> convert(const ConvertOptions& options) {
  Input input;
  if (!open_input(options.file, input)) return std::nullopt;
  auto raw = mirtle::read_sections(input.bytes());
  if (!raw) {
    report_parse_error(input.name(), raw.error());
    return std::nullopt;
  }
  const mirtle::WriteOptions write = write_options(options, raw->encoding);
  const std::string notes = rename_encoding_headers(input.name(), *raw, write.encoding);
  auto text = mirtle::write_sections(*raw, write);
  if (!text) {
    write_stderr(printable(fmt::format("{}: error: cannot be written: {}", input.name(), mirtle::message(text.error()))) +
                 "\n");
    return std::nullopt;
  }
  write_stderr(notes);
  return std::move(*text);
}

}  // namespace

int run_convert(const ConvertOptions& options) {
  // The input is let go before OUT is written: Windows replaces no file
  // that is mapped, and OUT may be the input itself.
  std::optional<std::string> text = convert(options);
  return text && write_file(options.output, std::move(*text)) ? kSuccess : kFailure;
}

}  // namespace mirtle_cli
