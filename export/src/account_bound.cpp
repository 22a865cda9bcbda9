#include "account_bound.hpp"

#include <cstring>

namespace mirtle::exporting {

namespace {

// The anchors are the second byte of "Р" in UTF-8 and "Р" itself in
// windows-1251: capital letters, rare in statement text.
constexpr std::size_t kUtf8Anchor = 13;
constexpr std::size_t kWindows1251Anchor = 6;

bool starts_with(std::string_view text, std::string_view prefix) noexcept {
  return text.substr(0, prefix.size()) == prefix;
}

// Whether the reader decodes `input` from UTF-16: after an optional UTF-8
// mark, a UTF-16 mark (such text is reported as windows-1251).
bool read_from_utf16(std::string_view input) noexcept {
  if (starts_with(input, "\xEF\xBB\xBF")) input.remove_prefix(3);
  return starts_with(input, "\xFF\xFE") || starts_with(input, "\xFE\xFF");
}

}  // namespace

std::size_t count_anchored(std::string_view text, std::string_view word, std::size_t anchor) noexcept {
  // memchr on a rare byte, then a comparison around each hit: memmem and
  // string_view::find anchor on a lead byte that Cyrillic UTF-8 repeats
  // every other byte.
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

bool AccountSectionBound::all_read(std::size_t read) noexcept {
  if (!searched_) {
    searched_ = true;
    if (input_.empty()) {
      at_most_.reset();
    } else if (encoding_ == Encoding::UTF8) {
      at_most_ = count_anchored(input_, keyword::kAccountStart, kUtf8Anchor);
    } else if (!read_from_utf16(input_)) {
      at_most_ = count_anchored(input_, keyword_1251::kAccountStart, kWindows1251Anchor);
    }
  }
  return at_most_ && read == *at_most_;
}

}  // namespace mirtle::exporting
