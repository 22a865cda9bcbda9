// The pieces of the tool's JSON and CSV output.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace mirtle_cli {

// A JSON string as Python's json.dumps(..., ensure_ascii=False) writes it:
// '"' and '\' and the control characters below 0x20 escaped (the short
// forms where JSON has them, else \u00xx), everything else as it is.
// `text` is valid UTF-8.
void append_json_string(std::string& out, std::string_view text);
// A string, or null.
void append_json_value(std::string& out, std::optional<std::string_view> text);

// One CSV field (RFC 4180): quoted when it holds the delimiter, a quote,
// CR or LF, quotes doubled.  An absent value is an empty field.
void append_csv_field(std::string& out, std::optional<std::string_view> text, char delimiter);

}  // namespace mirtle_cli
