#include "mirtle/lines.hpp"

#include "mirtle/unicode.hpp"

namespace mirtle {

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

LineSource::LineSource(text::DecodedText&& decoded) noexcept
    : decoded_(std::move(decoded)),
      cutter_(decoded_.per_line ? std::string_view() : decoded_.text),
      undecoded_(decoded_.per_line ? decoded_.text : std::string_view()) {}

void LineSource::decode_next_piece() {
  std::size_t size = undecoded_.size();
  if (size > kPiece) {
    const char* from = undecoded_.data() + kPiece - 1;
    const auto* lf = static_cast<const char*>(std::memchr(from, '\n', size - (kPiece - 1)));
    if (lf != nullptr) size = static_cast<std::size_t>(lf + 1 - undecoded_.data());
  }
  cutter_ = LineCutter(arena_.decode(undecoded_.substr(0, size), text_end()));
  undecoded_.remove_prefix(size);
}

Result<LineSource, ErrorKind> LineSource::open(std::string_view input) {
  auto decoded = text::decode_input(input);
  if (!decoded) return fail(decoded.error());
  return open(std::move(decoded).value());
}

Result<LineSource, ErrorKind> LineSource::open(text::DecodedText&& decoded) {
  LineSource source(std::move(decoded));
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
