#include "printable.hpp"

#include "mirtle/unicode.hpp"

namespace mirtle_cli {

namespace {

bool is_bidi_control(char32_t c) noexcept {
  return c == 0x061C || c == 0x200E || c == 0x200F || (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}

bool needs_escape(char32_t c) noexcept { return c < 0x20 || (c >= 0x7F && c <= 0x9F) || is_bidi_control(c); }

// The length of the well-formed UTF-8 character at the start of `text`, or
// 0 for a byte that starts none.
std::size_t character_length(std::string_view text) noexcept {
  const auto lead = static_cast<unsigned char>(text.front());
  const std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
  if (length > text.size() || !mirtle::text::is_valid_utf8(text.data(), text.data() + length)) return 0;
  return length;
}

// Python's repr of one character below U+10000 that it escapes.
std::string_view escape(char32_t c, EscapeRoom& room) noexcept {
  static constexpr char kHex[] = "0123456789abcdef";
  switch (c) {
    case '\t': return "\\t";
    case '\n': return "\\n";
    case '\r': return "\\r";
    default: break;
  }
  char* p = room.bytes;
  *p++ = '\\';
  const int digits = c <= 0xFF ? 2 : 4;
  *p++ = digits == 2 ? 'x' : 'u';
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) *p++ = kHex[(c >> shift) & 0xF];
  return {room.bytes, static_cast<std::size_t>(p - room.bytes)};
}

}  // namespace

Shown next_shown(std::string_view text, std::size_t& at, EscapeRoom& room) noexcept {
  const std::string_view rest = text.substr(at);
  const auto first = static_cast<unsigned char>(rest.front());
  if (first >= 0x20 && first < 0x7F) {  // most characters: plain ASCII
    ++at;
    return {rest.substr(0, 1), 1};
  }
  const std::size_t length = character_length(rest);
  if (length == 0) {
    ++at;
    const std::string_view escaped = escape(first, room);
    return {escaped, escaped.size()};
  }
  const char* p = rest.data();
  const char32_t c = mirtle::text::next_code_point(p, rest.data() + length);
  at += length;
  if (!needs_escape(c)) return {rest.substr(0, length), 1};
  const std::string_view escaped = escape(c, room);
  return {escaped, escaped.size()};
}

std::string printable(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  EscapeRoom room;
  for (std::size_t at = 0; at < text.size();) out += next_shown(text, at, room).text;
  return out;
}

std::size_t printable_width(std::string_view text) noexcept {
  std::size_t columns = 0;
  EscapeRoom room;
  for (std::size_t at = 0; at < text.size();) columns += next_shown(text, at, room).columns;
  return columns;
}

}  // namespace mirtle_cli
