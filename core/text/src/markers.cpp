#include "mirtle/markers.hpp"

#include <cstring>

namespace mirtle::text {

namespace {

// How often `word` occurs in `text`, without overlaps, found by its byte at
// `anchor`: memchr on a rare byte, then a comparison around each hit, where
// memmem would anchor on a lead byte that Cyrillic UTF-8 repeats every other
// byte.
std::size_t count_anchored(std::string_view text, std::string_view word, std::size_t anchor) noexcept {
  if (text.size() < word.size()) return 0;
  std::size_t n = 0;
  const char* const end = text.data() + text.size();
  const char* p = text.data() + anchor;
  while (p < end) {
    const auto* hit = static_cast<const char*>(std::memchr(p, word[anchor], static_cast<std::size_t>(end - p)));
    if (hit == nullptr) break;
    const char* start = hit - anchor;
    if (static_cast<std::size_t>(end - start) >= word.size() && std::memcmp(start, word.data(), word.size()) == 0) {
      ++n;
      p = start + word.size() + anchor;
    } else {
      p = hit + 1;
    }
  }
  return n;
}

// The anchors: "Р" and "Д", capital letters rare in statement text, at
// their second byte in UTF-8.
constexpr std::size_t kUtf8Anchor = 13;
constexpr std::size_t kWindows1251Anchor = 6;

}  // namespace

std::size_t count_keyword(std::string_view bytes, SectionType type, Encoding encoding) noexcept {
  const bool account = type == SectionType::Account;
  if (encoding == Encoding::UTF8)
    return count_anchored(bytes, account ? keyword::kAccountStart : keyword::kDocumentStart, kUtf8Anchor);
  return count_anchored(bytes, account ? keyword_1251::kAccountStart : keyword_1251::kDocumentStart,
                        kWindows1251Anchor);
}

}  // namespace mirtle::text
