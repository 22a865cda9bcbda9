// Stage 1: the statement as numbered, trimmed, classified lines.  Decoding
// (text/decode.hpp) decides the encoding; the line source cuts the text at
// line feeds, decodes windows-1251 lines on demand, trims them, skips the
// blank ones and tells markers from key=value lines.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "mirtle/error.hpp"
#include "mirtle/result.hpp"
#include "mirtle/vocabulary.hpp"
#include "mirtle/decode.hpp"
#include "mirtle/unicode.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mirtle {

enum class LineKind : std::uint8_t {
  ExchangeStart,  // 1CClientBankExchange
  AccountStart,   // СекцияРасчСчет
  AccountEnd,     // КонецРасчСчет
  DocumentStart,  // СекцияДокумент=<type>
  DocumentEnd,    // КонецДокумента
  FileEnd,        // КонецФайла
  Attribute,      // key=value
  Unrecognized,   // anything else
};

// One classified line; views into the line.  For Attribute: key and value,
// both trimmed; for DocumentStart: `key` is the keyword and `value` the
// type, its start trimmed.
struct StatementLine {
  LineKind kind = LineKind::Unrecognized;
  std::string_view key;
  std::string_view value;
};

// One trimmed, non-empty line of the text with its number.
struct TextLine {
  LineNo lineno = 0;
  std::string_view text;
  StatementLine classified;
};

// Classifies one trimmed, non-empty line.  Does not allocate.  Inline: it
// runs once per line.
inline StatementLine classify_line(std::string_view line) noexcept {
  const std::size_t split = line.find('=');
  if (split == std::string_view::npos) {
    using namespace keyword;
    // Markers differ in length, so comparing the length first is enough to
    // pick the only candidate.
    if (line == kAccountEnd) return {LineKind::AccountEnd, {}, {}};
    if (line == kDocumentEnd) return {LineKind::DocumentEnd, {}, {}};
    if (line == kAccountStart) return {LineKind::AccountStart, {}, {}};
    if (line == kFileEnd) return {LineKind::FileEnd, {}, {}};
    if (line == kExchange) return {LineKind::ExchangeStart, {}, {}};
    return {LineKind::Unrecognized, {}, {}};
  }
  // The line is already trimmed, so the key needs no start trim and the
  // value no end trim.
  const std::string_view before = text::trim_end(line.substr(0, split));
  const std::string_view after = text::trim_start(line.substr(split + 1));
  const LineKind kind = before == keyword::kDocumentStart ? LineKind::DocumentStart : LineKind::Attribute;
  return {kind, before, after};
}

// The marker's text as it is named in errors: the keyword, and for a
// document start "СекцияДокумент=" followed by the type.
std::string canonical_text(const StatementLine& line);

// Cuts the text into lines at line feeds; a carriage return right before
// the line feed is not part of the line.  A text that ends with a line feed
// has no empty line after it.
//
// The line feeds of 64 bytes at a time are found at once, as a bit mask; a
// line is then a few bit operations, where a memchr for each would make
// every line wait for the one before it.  The "=" signs are not looked for
// here: the reading loop settles most lines by the key it expects, whose
// length tells where "=" must be.
class LineCutter {
 public:
  explicit LineCutter(std::string_view text) noexcept
      : p_(text.data()), end_(text.data() + text.size()), block_(p_) {
    if (p_ != end_) load_block();
  }

  // The next line, or false at the end.
  bool next(std::string_view& line) noexcept {
    if (p_ >= end_) return false;
    const char* const start = p_;
    while (feeds_ == 0) {
      if (end_ - block_ <= kBlock) {  // the last block: the line runs to the end
        line = std::string_view(start, static_cast<std::size_t>(end_ - start));
        p_ = end_;
        return true;
      }
      block_ += kBlock;
      load_block();
    }
    const char* const lf = block_ + std::countr_zero(feeds_);
    feeds_ &= feeds_ - 1;
    line = std::string_view(start, static_cast<std::size_t>(lf - start));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    p_ = lf + 1;
    return true;
  }

 private:
  static constexpr std::ptrdiff_t kBlock = 64;
  // Text is fetched from memory this far ahead of the block being read.
  static constexpr std::ptrdiff_t kAhead = 512;

  // The masks of the block at block_, which starts no later than p_; bytes
  // from end_ on are not read.
  void load_block() noexcept {
    // An address, not a pointer into the text: it may lie past end_, where a
    // prefetch never faults.
    __builtin_prefetch(reinterpret_cast<const void*>(reinterpret_cast<std::uintptr_t>(block_) + kAhead));
    const std::ptrdiff_t left = end_ - block_;
    if (left >= kBlock) {
      feeds_ = feeds_of(block_);
    } else {
      alignas(16) char tail[kBlock] = {};  // the input may not be read past its end
      std::memcpy(tail, block_, static_cast<std::size_t>(left));
      feeds_ = feeds_of(tail);
    }
  }

  static std::uint64_t feeds_of(const char* p) noexcept {
    std::uint64_t feeds = 0;
#if defined(__SSE2__)
    for (int i = 0; i < kBlock; i += 16) {
      const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      feeds |= std::uint64_t{static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n'))))} << i;
    }
#else
    for (int i = 0; i < kBlock; ++i) feeds |= std::uint64_t{p[i] == '\n'} << i;
#endif
    return feeds;
  }

  const char* p_;      // where the next line starts
  const char* end_;
  const char* block_;  // the 64 bytes feeds_ describes
  std::uint64_t feeds_ = 0;  // line feeds in the block, from p_ on
};

// Room for the UTF-8 form of windows-1251 text, reused once nobody holds
// views into it, so a large statement is decoded through a few cache-warm
// blocks instead of into a second copy of the whole input.
class DecodeArena {
 public:
  // The UTF-8 form of `raw`, valid until reset() or, unless it is the last
  // text decoded, keep_last(); the bytes after `raw` up to `readable_end`
  // may be read.
  std::string_view decode(std::string_view raw, const char* readable_end) {
    const std::size_t need = raw.size() * 3 + 1;  // 3 bytes per byte, 1 of slack
    if (blocks_.empty() || used_ + need > blocks_[current_].size) advance(need);
    char* out = blocks_[current_].data.get() + used_;
    const std::size_t length = text::decode_windows1251(raw, out, readable_end);
    used_ += length;
    return std::string_view(out, length);
  }
  // Forgets every decoded text; the blocks stay for the next ones.
  void reset() noexcept {
    current_ = 0;
    used_ = 0;
  }
  // Forgets every decoded text but the last, which stays where it is.
  void keep_last() noexcept {
    if (blocks_.empty()) return;
    std::swap(blocks_[0], blocks_[current_]);  // moves the block, not its bytes
    current_ = 0;
  }

 private:
  // Small enough to stay in the L2 cache while a piece is decoded and read.
  static constexpr std::size_t kBlockSize = 64 * 1024;

  struct Block {
    std::unique_ptr<char[]> data;
    std::size_t size;
  };
  void advance(std::size_t need);

  std::vector<Block> blocks_;
  std::size_t current_ = 0;
  std::size_t used_ = 0;
};

// The non-blank lines of a statement, numbered, trimmed and classified, read
// on demand.  Windows-1251 text is decoded a piece of whole lines at a time.
// Moving the source keeps the views it handed out valid.
class LineSource {
 public:
  // Decides the encoding and checks the first line.  `input` must outlive
  // the source.  Fails with EmptyInput or NotStatement.
  static Result<LineSource, ErrorKind> open(std::string_view input);
  // The same over text whose encoding is decided: checks the first line.
  static Result<LineSource, ErrorKind> open(text::DecodedText&& decoded);
  // The lines of a part of a statement's text that starts at a line, with
  // no check of its first line; they are numbered from 1.
  static LineSource over_part(text::DecodedText&& part) noexcept { return LineSource(std::move(part)); }

  // Lines cut so far, blank ones included: after the last, the text's lines.
  LineNo lines_read() const noexcept { return lineno_; }

  Encoding encoding() const noexcept { return decoded_.encoding; }

  // The next non-blank line, or false at the end of the text.  Its views
  // stay valid until release().  Inline: it runs once per line.
  bool next(TextLine& line) {
    std::string_view raw;
    while (next_raw(raw)) {
      if (classify(raw, line)) return true;
    }
    return false;
  }

  // The next line as cut, not yet trimmed, or false at the end of the
  // text.  For a reader that can settle some lines without trimming them;
  // classify() settles the others.
  bool next_raw(std::string_view& raw) {
    while (!cutter_.next(raw)) {
      if (undecoded_.empty()) return false;
      decode_next_piece();
    }
    ++lineno_;
    return true;
  }
  // The last line next_raw() gave, trimmed and classified; false when it is
  // blank.
  bool classify(std::string_view raw, TextLine& line) const noexcept { return classify(raw, lineno_, line); }
  // A line as cut, numbered `lineno`, trimmed and classified; false when it
  // is blank.
  static bool classify(std::string_view raw, LineNo lineno, TextLine& line) noexcept {
    const std::string_view trimmed = text::trim(raw);
    if (trimmed.empty()) return false;
    line.lineno = lineno;
    line.text = trimmed;
    line.classified = classify_line(trimmed);
    return true;
  }

  // Hands the next lines, as cut, with their numbers, to `take(raw,
  // lineno)` until it returns false (that line then counts as read) or the
  // text ends.  The same lines as next_raw() gives, read with the cutter's
  // state held apart from the object, where what `take` stores cannot
  // touch it: the compiler keeps it in registers instead of reloading it
  // after every store (a tenth of a parse).
  template <typename Take>
  void read_raw(Take&& take) {
    for (;;) {
      LineCutter cutter = cutter_;
      LineNo lineno = lineno_;
      std::string_view raw;
      bool taken = true;
      while (taken && cutter.next(raw)) taken = take(raw, ++lineno);
      cutter_ = cutter;
      lineno_ = lineno;
      if (!taken || undecoded_.empty()) return;
      decode_next_piece();
    }
  }

  // Called when nothing refers to the lines read so far.  The piece being
  // cut stays: its later lines are still to come.
  void release() noexcept { arena_.keep_last(); }

 private:
  // Windows-1251 is decoded this many bytes at a time, carried on to the end
  // of a line: decoding line by line costs most in calls, and in pieces of
  // whole lines the vector decoder runs on full blocks.
  static constexpr std::size_t kPiece = 16 * 1024;

  explicit LineSource(text::DecodedText&& decoded) noexcept;

  const char* text_end() const noexcept { return decoded_.text.data() + decoded_.text.size(); }
  // Decodes the next piece of `undecoded_` and cuts lines from it.
  void decode_next_piece();

  text::DecodedText decoded_;
  LineCutter cutter_;           // over the text, or over the decoded piece
  std::string_view undecoded_;  // windows-1251 text after the piece
  DecodeArena arena_;
  LineNo lineno_ = 0;
};

}  // namespace mirtle
