#include <cstring>

#include "mirtle/statement.hpp"
#include "parser/model/line.hpp"
#include "parser/model/reader.hpp"
#include "text/decode.hpp"
#include "text/unicode.hpp"

namespace mirtle {

namespace {

// Cuts the text into lines at line feeds; a carriage return right before
// the line feed is not part of the line.  A text that ends with a line feed
// has no empty line after it.
class LineCutter {
 public:
  explicit LineCutter(std::string_view text) noexcept : p_(text.data()), end_(text.data() + text.size()) {}

  bool next(std::string_view& line) noexcept {
    if (p_ >= end_) return false;
    const auto* lf = static_cast<const char*>(std::memchr(p_, '\n', static_cast<std::size_t>(end_ - p_)));
    const char* stop = lf != nullptr ? lf : end_;
    line = std::string_view(p_, static_cast<std::size_t>(stop - p_));
    if (lf != nullptr && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    p_ = lf != nullptr ? lf + 1 : end_;
    return true;
  }

 private:
  const char* p_;
  const char* end_;
};

bool starts_statement(std::string_view text) noexcept {
  std::string_view first;
  if (!LineCutter(text).next(first)) return false;
  return text::trim(first) == keyword::kExchange;
}

}  // namespace

ParseResult parse_statement(std::span<Hook* const> hooks, std::string_view input) {
  auto decoded = text::decode_input(input);
  if (!decoded) return fail(ParseError::plain(decoded.error()));
  const std::string_view text = decoded->text;
  if (!starts_statement(text)) return fail(ParseError::plain(ErrorKind::NotStatement));

  SectionReader reader(hooks, decoded->encoding);
  LineCutter cutter(text);
  std::string_view raw;
  for (LineNo lineno = 1; cutter.next(raw); ++lineno) {
    const std::string_view line = text::trim(raw);
    if (line.empty()) continue;
    const std::optional<StatementLine> classified = classify_line(line);
    if (!classified) return fail(ParseError::unrecognized_line(lineno, std::string(line)));
    auto stepped = reader.step(lineno, *classified);
    if (!stepped) return fail(std::move(stepped).error());
  }
  if (reader.state() != ParserContext::Finished) return fail(ParseError::plain(ErrorKind::Unfinished));
  return reader.take_statement();
}

}  // namespace mirtle
