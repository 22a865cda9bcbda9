// convert: re-writes a statement through the lossless section stream, as
// it is read.
#include <optional>
#include <string>
#include <utility>
#include <variant>

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

// Each Кодировка value that names the input's encoding is written as the
// output's name, when the two differ, with a note for each.  Other values
// stay, and the writer refuses one naming a third encoding.  (The writer's
// update_encoding_header would rename every value, "KOI8-R" and empty too.)
class EncodingRenames {
 public:
  EncodingRenames(std::string_view name, mirtle::Encoding input, mirtle::Encoding output)
      : name_(name), input_(input), target_(mirtle::header_name(output)), renames_(input != output) {}

  std::string_view value(const mirtle::SectionEvent& a) {
    if (!renames_ || a.key != mirtle::kEncodingKey || !mirtle::names_encoding(a.value, input_)) return a.value;
    notes_ += printable(fmt::format("{}:{}: note: {}={} is written as {}={}", name_, a.lineno, a.key, a.value, a.key,
                                    target_)) + "\n";
    return target_;
  }
  const std::string& notes() const noexcept { return notes_; }

 private:
  std::string_view name_;
  mirtle::Encoding input_;
  std::string_view target_;
  bool renames_;
  std::string notes_;
};

// The converted text, or nothing after reporting why there is none.  The
// statement is written as it is read, with no copy of it held.
std::optional<std::string> convert(const ConvertOptions& options) {
  Input input;
  if (!open_input(options.file, input)) return std::nullopt;
  auto stream = mirtle::SectionStream::open(input.bytes());
  if (!stream) {
    report_parse_error(input.name(), stream.error());
    return std::nullopt;
  }
  const mirtle::WriteOptions write = write_options(options, stream->encoding());
  EncodingRenames renames(input.name(), stream->encoding(), write.encoding);
  // Room for the whole text at once, so that it is not copied as it grows: a windows-1251 letter
  // takes two bytes in UTF-8, and CR LF one more than LF.  Pages never written are never touched.
  std::string text;
  const std::size_t size = input.bytes().size();
  const bool widens = stream->encoding() == mirtle::Encoding::CP1251 && write.encoding == mirtle::Encoding::UTF8;
  text.reserve((widens ? 2 * size : size + size / 4) + 1024);
  const auto written = mirtle::write_stream(*stream, write, text,
                                            [&](const mirtle::SectionEvent& a) { return renames.value(a); });
  if (!written) {
    if (const auto* error = std::get_if<mirtle::ParseError>(&written.error())) {
      report_parse_error(input.name(), *error);
    } else {
      write_stderr(printable(fmt::format("{}: error: cannot be written: {}", input.name(),
                                         mirtle::message(std::get<mirtle::WriteError>(written.error())))) +
                   "\n");
    }
    return std::nullopt;
  }
  write_stderr(renames.notes());
  return text;
}

}  // namespace

int run_convert(const ConvertOptions& options) {
  // The input is let go before OUT is written: Windows replaces no file
  // that is mapped, and OUT may be the input itself.
  std::optional<std::string> text = convert(options);
  return text && write_file(options.output, std::move(*text)) ? kSuccess : kFailure;
}

}  // namespace mirtle_cli
