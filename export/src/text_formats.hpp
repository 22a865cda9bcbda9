// The pieces of the JSON and CSV outputs: strings and fields.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace mirtle::exporting {

// A JSON string as Python's json.dumps(..., ensure_ascii=False) writes it:
// '"' and '\' and the control characters below 0x20 escaped (the short
// forms where JSON has them, else \u00xx), everything else as it is.
// `text` is valid UTF-8.
void append_json_string(std::string& out, std::string_view text);
// The most bytes the JSON string of a text of `length` bytes takes.
constexpr std::size_t json_string_room(std::size_t length) noexcept { return 2 + 6 * length; }
// Writes the JSON string of `text` at `out`, which has room for
// json_string_room(text.size()) bytes; returns the end of what it wrote.
char* put_json_string(char* out, std::string_view text) noexcept;
// A string, or null.
void append_json_value(std::string& out, std::optional<std::string_view> text);

// One CSV field (RFC 4180): quoted when it holds the delimiter, a quote,
// CR or LF, quotes doubled.  An absent value is an empty field.
void append_csv_field(std::string& out, std::optional<std::string_view> text, char delimiter);

}  // namespace mirtle::exporting
