// The double-quoted, backslash-escaped form of a text, used in the
// invalid-amount message and by the Python binding's reprs.
#pragma once

#include <string>
#include <string_view>

namespace mirtle {

// Appends `text` quoted to `out`.  `text` must be valid UTF-8.
void append_quoted(std::string& out, std::string_view text);

}  // namespace mirtle
