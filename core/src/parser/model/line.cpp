#include "parser/model/line.hpp"

#include <cstring>

#include "text/unicode.hpp"

namespace mirtle {

std::optional<StatementLine> classify_line(std::string_view line) noexcept {
  const void* eq = std::memchr(line.data(), '=', line.size());
  if (eq == nullptr) {
    using namespace keyword;
    // Markers differ in length, so comparing the length first is enough to
    // pick the only candidate.
    if (line == kAccountEnd) return StatementLine{LineKind::AccountEnd, {}, {}};
    if (line == kDocumentEnd) return StatementLine{LineKind::DocumentEnd, {}, {}};
    if (line == kAccountStart) return StatementLine{LineKind::AccountStart, {}, {}};
    if (line == kFileEnd) return StatementLine{LineKind::FileEnd, {}, {}};
    if (line == kExchange) return StatementLine{LineKind::ExchangeStart, {}, {}};
    return std::nullopt;
  }
  const auto split = static_cast<std::size_t>(static_cast<const char*>(eq) - line.data());
  const std::string_view before = text::trim_end(line.substr(0, split));
  const std::string_view after = line.substr(split + 1);
  if (before == keyword::kDocumentStart)
    return StatementLine{LineKind::DocumentStart, before, text::trim_start(after)};
  // The line is already trimmed, so the key needs no start trim and the
  // value no end trim.
  return StatementLine{LineKind::Attribute, before, text::trim_start(after)};
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
    case LineKind::Attribute: break;
  }
  return {};
}

}  // namespace mirtle
