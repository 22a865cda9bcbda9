#include <cstring>

#include "text/unicode.hpp"

namespace mirtle::text {

namespace {

bool block_is_ascii(const char* p) noexcept {
  std::uint64_t a, b;
  std::memcpy(&a, p, 8);
  std::memcpy(&b, p + 8, 8);
  return ((a | b) & 0x8080808080808080ull) == 0;
}

// Validates one multi-byte sequence at p; returns its length or 0.
std::size_t sequence_length(const unsigned char* p, const unsigned char* last) noexcept {
  const unsigned char c = p[0];
  const std::ptrdiff_t n = last - p;
  auto cont = [&](std::ptrdiff_t i) { return (p[i] & 0xC0) == 0x80; };
  if (c >= 0xC2 && c <= 0xDF) return (n >= 2 && cont(1)) ? 2 : 0;
  if (c >= 0xE0 && c <= 0xEF) {
    if (n < 3 || !cont(1) || !cont(2)) return 0;
    if (c == 0xE0 && p[1] < 0xA0) return 0;  // overlong
    if (c == 0xED && p[1] > 0x9F) return 0;  // surrogate
    return 3;
  }
  if (c >= 0xF0 && c <= 0xF4) {
    if (n < 4 || !cont(1) || !cont(2) || !cont(3)) return 0;
    if (c == 0xF0 && p[1] < 0x90) return 0;  // overlong
    if (c == 0xF4 && p[1] > 0x8F) return 0;  // above U+10FFFF
    return 4;
  }
  return 0;
}

}  // namespace

bool is_valid_utf8(const char* first, const char* last) noexcept {
  auto p = reinterpret_cast<const unsigned char*>(first);
  const auto end = reinterpret_cast<const unsigned char*>(last);
  while (p < end) {
    // Statements are mostly ASCII keys and digits: skip 16 bytes at a time.
    if (end - p >= 16 && block_is_ascii(reinterpret_cast<const char*>(p))) {
      p += 16;
      continue;
    }
    if (*p < 0x80) {
      ++p;
      continue;
    }
    const std::size_t n = sequence_length(p, end);
    if (n == 0) return false;
    p += n;
  }
  return true;
}

}  // namespace mirtle::text
