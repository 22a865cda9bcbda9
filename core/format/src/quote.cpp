#include <algorithm>
#include <cstdint>

#include "mirtle/quote.hpp"
#include "mirtle/unicode.hpp"

namespace mirtle {

namespace {

struct CodeRange {
  char32_t first;
  char32_t last;
};

#include "escape_table.inc"

bool needs_escape(char32_t cp) noexcept {
  const CodeRange* end = kEscapeRanges + kEscapeRangeCount;
  const CodeRange* r =
      std::upper_bound(kEscapeRanges, end, cp, [](char32_t c, const CodeRange& range) { return c < range.first; });
  return r != kEscapeRanges && cp <= r[-1].last;
}

void append_hex_escape(std::string& out, char32_t cp) {
  static constexpr char kHex[] = "0123456789abcdef";
  char buf[8];
  int n = 0;
  do {
    buf[n++] = kHex[cp & 0xF];
    cp >>= 4;
  } while (cp != 0);
  out += "\\u{";
  while (n > 0) out += buf[--n];
  out += '}';
}

}  // namespace

void append_quoted(std::string& out, std::string_view text) {
  out += '"';
  const char* p = text.data();
  const char* const end = p + text.size();
  while (p < end) {
    const char* start = p;
    const char32_t cp = text::next_code_point(p, end);
    switch (cp) {
      case '\\': out += "\\\\"; continue;
      case '"': out += "\\\""; continue;
      case '\t': out += "\\t"; continue;
      case '\r': out += "\\r"; continue;
      case '\n': out += "\\n"; continue;
      case 0: out += "\\0"; continue;
      default: break;
    }
    if (needs_escape(cp)) {
      append_hex_escape(out, cp);
    } else {
      out.append(start, static_cast<std::size_t>(p - start));
    }
  }
  out += '"';
}

}  // namespace mirtle
