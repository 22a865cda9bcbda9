#include "text_formats.hpp"

#include <array>
#include <cstdint>
#include <cstring>

namespace mirtle::exporting {

namespace {

// The escape of each byte that needs one; 0 for a byte written as it is.
// 'u' marks the \u00xx form.
constexpr std::array<char, 256> make_json_escapes() {
  std::array<char, 256> table{};
  for (int c = 0; c < 0x20; ++c) table[static_cast<std::size_t>(c)] = 'u';
  table['"'] = '"';
  table['\\'] = '\\';
  table['\b'] = 'b';
  table['\f'] = 'f';
  table['\n'] = 'n';
  table['\r'] = 'r';
  table['\t'] = 't';
  return table;
}
constexpr std::array<char, 256> kJsonEscapes = make_json_escapes();

char* put_escape(char* out, unsigned char c) noexcept {
  static constexpr char kHex[] = "0123456789abcdef";
  const char escape = kJsonEscapes[c];
  *out++ = '\\';
  if (escape != 'u') {
    *out++ = escape;
    return out;
  }
  const char code[5] = {'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
  std::memcpy(out, code, 5);
  return out + 5;
}

// Whether any of the eight bytes of `block` needs an escape: a control
// character, '"' or '\\'.  Exact for "any", which is all the caller asks.
bool block_needs_escape(std::uint64_t block) noexcept {
  constexpr std::uint64_t kOnes = 0x0101010101010101ull;
  constexpr std::uint64_t kHighs = 0x8080808080808080ull;
  const auto has_zero = [](std::uint64_t v) { return (v - kOnes) & ~v & kHighs; };
  const std::uint64_t below_space = (block - kOnes * 0x20) & ~block & kHighs;
  return (below_space | has_zero(block ^ (kOnes * '"')) | has_zero(block ^ (kOnes * '\\'))) != 0;
}

}  // namespace

char* put_json_string(char* out, std::string_view text) noexcept {
  *out++ = '"';
  const char* p = text.data();
  const char* const end = p + text.size();
  // Texts are mostly plain: clean blocks of eight bytes are copied whole.
  // Measured on a 50 MB statement: the json command spent 10% here scanning
  // byte by byte, 7.5% by blocks.
  while (p != end) {
    for (std::uint64_t block; end - p >= 8; p += 8, out += 8) {
      std::memcpy(&block, p, 8);
      if (block_needs_escape(block)) break;
      std::memcpy(out, &block, 8);
    }
    for (const char* stop = end - p >= 8 ? p + 8 : end; p != stop; ++p) {
      const auto c = static_cast<unsigned char>(*p);
      if (kJsonEscapes[c] == 0) {
        *out++ = static_cast<char>(c);
      } else {
        out = put_escape(out, c);
      }
    }
  }
  *out++ = '"';
  return out;
}

void append_json_string(std::string& out, std::string_view text) {
  const std::size_t used = out.size();
  out.resize(used + json_string_room(text.size()));
  const char* const end = put_json_string(out.data() + used, text);
  out.resize(static_cast<std::size_t>(end - out.data()));
}

void append_json_value(std::string& out, std::optional<std::string_view> text) {
  if (text)
    append_json_string(out, *text);
  else
    out += "null";
}

void append_csv_field(std::string& out, std::optional<std::string_view> text, char delimiter) {
  if (!text) return;
  const std::string_view t = *text;
  const char specials[] = {delimiter, '"', '\r', '\n', '\0'};
  if (t.find_first_of(std::string_view(specials, 4)) == std::string_view::npos) {
    out += t;
    return;
  }
  out += '"';
  for (char c : t) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

}  // namespace mirtle::exporting
