#include <cstring>
#include <memory>
#include <vector>

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

// Room for the UTF-8 form of windows-1251 lines, reused once no section
// holds views into it, so a large statement is decoded through a few
// cache-warm blocks instead of into a second copy of the whole input.
class DecodeArena {
 public:
  std::string_view decode(std::string_view raw) {
    const std::size_t need = raw.size() * 3 + 1;  // 3 bytes per byte, 1 of slack
    if (blocks_.empty() || used_ + need > blocks_[current_].size) advance(need);
    char* out = blocks_[current_].data.get() + used_;
    const std::size_t length = text::decode_windows1251(raw, out);
    used_ += length;
    return std::string_view(out, length);
  }

  // Forgets every decoded line; the blocks stay for the next ones.
  void reset() noexcept {
    current_ = 0;
    used_ = 0;
  }

 private:
  static constexpr std::size_t kBlockSize = 64 * 1024;

  struct Block {
    std::unique_ptr<char[]> data;
    std::size_t size;
  };

  // Moves to the next block with room for `need` bytes, making one if none.
  void advance(std::size_t need) {
    std::size_t next = blocks_.empty() ? 0 : current_ + 1;
    while (next < blocks_.size() && blocks_[next].size < need) ++next;
    if (next == blocks_.size()) {
      const std::size_t size = need > kBlockSize ? need : kBlockSize;
      blocks_.push_back(Block{std::unique_ptr<char[]>(new char[size]), size});
    }
    current_ = next;
    used_ = 0;
  }

  std::vector<Block> blocks_;
  std::size_t current_ = 0;
  std::size_t used_ = 0;
};

// The lines of the decoded text, cut and decoded on demand.
class LineSource {
 public:
  explicit LineSource(const text::DecodedText& decoded) noexcept
      : cutter_(decoded.text), per_line_(decoded.per_line) {}

  bool next(std::string_view& line) {
    if (!cutter_.next(line)) return false;
    if (per_line_) line = arena_.decode(line);
    return true;
  }

  // Called when nothing refers to the lines read so far.
  void release() noexcept { arena_.reset(); }

 private:
  LineCutter cutter_;
  bool per_line_;
  DecodeArena arena_;
};

bool starts_statement(const text::DecodedText& decoded) {
  LineSource source(decoded);
  std::string_view first;
  return source.next(first) && text::trim(first) == keyword::kExchange;
}

// Whether the reader may hold views of earlier lines: only an open section's
// attributes are kept as views; the header is copied as it is read.
bool holds_line_views(ParserContext state) noexcept {
  return state == ParserContext::Document || state == ParserContext::Account;
}

}  // namespace

ParseResult parse_statement(std::span<Hook* const> hooks, std::string_view input) {
  auto decoded = text::decode_input(input);
  if (!decoded) return fail(ParseError::plain(decoded.error()));
  if (!starts_statement(*decoded)) return fail(ParseError::plain(ErrorKind::NotStatement));

  SectionReader reader(hooks, decoded->encoding);
  LineSource source(*decoded);
  std::string_view raw;
  for (LineNo lineno = 1;; ++lineno) {
    if (!holds_line_views(reader.state())) source.release();
    if (!source.next(raw)) break;
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
