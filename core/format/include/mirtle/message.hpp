// The English texts of parse errors and of values that could not be read:
// one renderer for every front end (the Python module's exceptions, the
// command-line tool's diagnostics, the toolkit's errors).
#pragma once

#include <string>
#include <string_view>

#include "mirtle/error.hpp"
#include "mirtle/values.hpp"

namespace mirtle {

// The message of an error: "Input is empty", "Unrecognized line: 'abc'",
// "Unexpected section 'КонецФайла' in context 'header'" and so on.  Line
// numbers never appear in it; callers that show them take `error.lineno`.
std::string describe(const ParseError& error);

// The failure text of `error` for the value `text` that was read: "input
// is out of range", "invalid value: string \"1,5\", expected a Decimal ...".
std::string message(ValueError error, std::string_view text);

// Whether the error names a line (`error.lineno` is meaningful).
inline bool has_line(const ParseError& error) noexcept { return error.is_syntax(); }

}  // namespace mirtle
