// UTF-8 helpers shared by the decoder, the framer, the value parsers and
// the writer.
// All take [first, last) and never read outside it.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace mirtle::text {

inline bool is_ascii_space(unsigned char c) noexcept {
  return c == 0x20 || c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D;
}

// Length of the Unicode White_Space character that starts at `p`, or 0.
// White space: U+0009..U+000D, U+0020, U+0085, U+00A0, U+1680,
// U+2000..U+200A, U+2028, U+2029, U+202F, U+205F, U+3000.
inline std::size_t space_at(const char* p, const char* last) noexcept {
  const auto c = static_cast<unsigned char>(p[0]);
  if (c < 0x80) return (c == 0x20 || (c >= 0x09 && c <= 0x0D)) ? 1 : 0;
  const std::ptrdiff_t n = last - p;
  if (c == 0xC2) {
    if (n < 2) return 0;
    const auto b = static_cast<unsigned char>(p[1]);
    return (b == 0x85 || b == 0xA0) ? 2 : 0;
  }
  if (n < 3 || c < 0xE1 || c > 0xE3) return 0;
  const auto b1 = static_cast<unsigned char>(p[1]);
  const auto b2 = static_cast<unsigned char>(p[2]);
  switch (c) {
    case 0xE1: return (b1 == 0x9A && b2 == 0x80) ? 3 : 0;
    case 0xE2:
      if (b1 == 0x80)
        return ((b2 >= 0x80 && b2 <= 0x8A) || b2 == 0xA8 || b2 == 0xA9 || b2 == 0xAF) ? 3 : 0;
      return (b1 == 0x81 && b2 == 0x9F) ? 3 : 0;
    default: return (b1 == 0x80 && b2 == 0x80) ? 3 : 0;
  }
}

// Length of the White_Space character that ends at `last`, or 0.
inline std::size_t space_before(const char* first, const char* last) noexcept {
  const auto c = static_cast<unsigned char>(last[-1]);
  if (c < 0x80) return (c == 0x20 || (c >= 0x09 && c <= 0x0D)) ? 1 : 0;
  // Every non-ASCII white-space character ends in one of these bytes.
  if (!(c <= 0x8A || c == 0x9F || c == 0xA0 || c == 0xA8 || c == 0xA9 || c == 0xAF)) return 0;
  const std::ptrdiff_t n = last - first;
  if (n >= 2 && static_cast<unsigned char>(last[-2]) == 0xC2) return (c == 0x85 || c == 0xA0) ? 2 : 0;
  if (n >= 3 && space_at(last - 3, last) == 3) return 3;
  return 0;
}

// The bytes a white-space character can start with, and end with.  Most
// lines start and end with a letter or a digit, so one look-up settles
// them; the others take the full check.
struct SpaceEdges {
  std::array<bool, 256> start{};
  std::array<bool, 256> end{};
};

constexpr SpaceEdges make_space_edges() noexcept {
  SpaceEdges e;
  for (unsigned c : {0x09u, 0x0Au, 0x0Bu, 0x0Cu, 0x0Du, 0x20u}) e.start[c] = e.end[c] = true;
  for (unsigned c : {0xC2u, 0xE1u, 0xE2u, 0xE3u}) e.start[c] = true;
  for (unsigned c = 0x80; c <= 0x8A; ++c) e.end[c] = true;
  for (unsigned c : {0x9Fu, 0xA0u, 0xA8u, 0xA9u, 0xAFu}) e.end[c] = true;
  return e;
}
inline constexpr SpaceEdges kSpaceEdges = make_space_edges();

inline const char* skip_space(const char* p, const char* last) noexcept {
  while (p < last) {
    const std::size_t n = space_at(p, last);
    if (n == 0) break;
    p += n;
  }
  return p;
}

inline std::string_view trim_start(std::string_view s) noexcept {
  if (s.empty() || !kSpaceEdges.start[static_cast<unsigned char>(s.front())]) return s;
  const char* p = skip_space(s.data(), s.data() + s.size());
  return {p, static_cast<std::size_t>(s.data() + s.size() - p)};
}

// Whether `s` ends in a two-byte character led by 0xC3..0xDF: none is white
// space, and Cyrillic letters (0xD0, 0xD1) end many lines whose last byte the
// table above cannot settle.
inline bool ends_in_other_two_byte(std::string_view s) noexcept {
  return s.size() >= 2 && static_cast<unsigned char>(s.back()) >= 0x80 &&
         static_cast<unsigned char>(s[s.size() - 2]) - 0xC3u <= 0xDFu - 0xC3u;
}

inline std::string_view trim_end(std::string_view s) noexcept {
  if (s.empty() || !kSpaceEdges.end[static_cast<unsigned char>(s.back())] || ends_in_other_two_byte(s)) return s;
  const char* first = s.data();
  const char* last = first + s.size();
  while (last > first) {
    const std::size_t n = space_before(first, last);
    if (n == 0) break;
    last -= n;
  }
  return {first, static_cast<std::size_t>(last - first)};
}

inline std::string_view trim(std::string_view s) noexcept { return trim_start(trim_end(s)); }

inline bool is_blank(std::string_view s) noexcept { return trim_start(s).empty(); }

// Decodes the scalar value at `p` of valid UTF-8; advances `p`.
inline char32_t next_code_point(const char*& p, const char* last) noexcept {
  const auto c = static_cast<unsigned char>(*p++);
  if (c < 0x80) return c;
  int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
  char32_t cp = c & (0x3F >> extra);
  while (extra-- > 0 && p < last) cp = (cp << 6) | (static_cast<unsigned char>(*p++) & 0x3F);
  return cp;
}

// Decodes the UTF-8 sequence at `p` that starts with a byte above 0x7F:
// its length, with its scalar value in `cp`, or 0 when it is malformed
// (truncated, overlong, a surrogate, above U+10FFFF).
inline std::size_t decode_sequence(const unsigned char* p, const unsigned char* last, char32_t& cp) noexcept {
  const unsigned char c = p[0];
  const std::ptrdiff_t n = last - p;
  auto cont = [p](int i) { return (p[i] & 0xC0) == 0x80; };
  if (c >= 0xC2 && c <= 0xDF) {
    if (n < 2 || !cont(1)) return 0;
    cp = static_cast<char32_t>(((c & 0x1F) << 6) | (p[1] & 0x3F));
    return 2;
  }
  if (c >= 0xE0 && c <= 0xEF) {
    if (n < 3 || !cont(1) || !cont(2)) return 0;
    if ((c == 0xE0 && p[1] < 0xA0) || (c == 0xED && p[1] > 0x9F)) return 0;  // overlong, surrogate
    cp = static_cast<char32_t>(((c & 0x0F) << 12) | ((p[1] & 0x3F) << 6) | (p[2] & 0x3F));
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (n < 4 || !cont(1) || !cont(2) || !cont(3)) return 0;
    if ((c == 0xF0 && p[1] < 0x90) || (c == 0xF4 && p[1] > 0x8F)) return 0;  // overlong, too large
    cp = static_cast<char32_t>(((c & 0x07) << 18) | ((p[1] & 0x3F) << 12) | ((p[2] & 0x3F) << 6) |
                               (p[3] & 0x3F));
    return 4;
  }
  return 0;
}

// True when [first, last) is well-formed UTF-8 (no surrogates, no overlong
// forms, nothing above U+10FFFF).
bool is_valid_utf8(const char* first, const char* last) noexcept;
// The portable validator behind it, for machines without AVX2 (and tests).
bool is_valid_utf8_scalar(const char* first, const char* last) noexcept;

}  // namespace mirtle::text
