#include "text_formats.hpp"

#include <array>
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

}  // namespace

void append_json_string(std::string& out, std::string_view text) {
  out += '"';
  const char* run = text.data();
  const char* const end = run + text.size();
  // Texts are mostly plain: copy the runs between escapes in one piece.
  for (const char* p = run; p != end; ++p) {
    const auto c = static_cast<unsigned char>(*p);
    if (kJsonEscapes[c] == 0) continue;
    out.append(run, static_cast<std::size_t>(p - run));
    append_escape(out, c);
    run = p + 1;
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
