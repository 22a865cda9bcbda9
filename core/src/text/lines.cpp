#include "text/lines.hpp"

#include "text/unicode.hpp"

namespace mirtle {

StatementLine classify_line(std::string_view line) noexcept {
  const void* eq = std::memchr(line.data(), '=', line.size());
  if (eq == nullptr) {
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
  const auto split = static_cast<std::size_t>(static_cast<const char*>(eq) - line.data());
  // The line is already trimmed, so the key needs no start trim and the
  // value no end trim.
  const std::string_view before = text::trim_end(line.substr(0, split));
  const std::string_view after = text::trim_start(line.substr(split + 1));
  const LineKind kind = before == keyword::kDocumentStart ? LineKind::DocumentStart : LineKind::Attribute;
  return {kind, before, after};
}

std::string canonical_text(const StatementLine& line) {
  switch (line.kind) {
    case LineKind::ExchangeStart: return std::string(keyword::kExchange);
    case LineKind::AccountStart: return std::string(keyword::kAccountStart);
    case LineKind::AccountEnd: return std::string(keyword::kAccountEnd);
    case LineKind::DocumentEnd: return std::string(keyword::kDocumentEnd);
    case LineKind::FileEnd: return std::string(keyword::kFileEnd);
    case LineKind::DocumentStart: {
      std::string text(keyword::kDocumentStart);
      text += '=';
      text += line.value;
      return text;
    }
    case LineKind::Attribute:
    case LineKind::Unrecognized: break;
  }
  return {};
}

// Moves to the next block with room for `need` bytes, making one if none.
void DecodeArena::advance(std::size_t need) {
  std::size_t next = blocks_.empty() ? 0 : current_ + 1;
  while (next < blocks_.size() && blocks_[next].size < need) ++next;
  if (next == blocks_.size()) {
    const std::size_t size = need > kBlockSize ? need : kBlockSize;
    blocks_.push_back(Block{std::unique_ptr<char[]>(new char[size]), size});
  }
  current_ = next;
  used_ = 0;
}

Result<LineSource, ErrorKind> LineSource::open(std::string_view input) {
  auto decoded = text::decode_input(input);
  if (!decoded) return fail(decoded.error());
  LineSource source(std::move(decoded).value());
  // The first line, trimmed, must be the marker; it is read again as line 1.
  LineCutter first_cut(source.decoded_.text);
  std::string_view first;
  if (!first_cut.next(first)) return fail(ErrorKind::NotStatement);
  if (source.decoded_.per_line) first = source.arena_.decode(first, source.text_end());
  if (text::trim(first) != keyword::kExchange) return fail(ErrorKind::NotStatement);
  source.arena_.reset();
  return source;
}

}  // namespace mirtle
