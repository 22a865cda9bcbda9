// The English texts of parse errors, one renderer for every front end (the
// Python module's exceptions, the command-line tool's diagnostics).
#pragma once

#include <string>

#include "mirtle/error.hpp"

namespace mirtle {

// The message of an error: "Input is empty", "Unrecognized line: 'abc'",
// "Unexpected section 'КонецФайла' in context 'header'" and so on.  Line
// numbers never appear in it; callers that show them take `error.lineno`.
std::string describe(const ParseError& error);

// Whether the error names a line (`error.lineno` is meaningful).
inline bool has_line(const ParseError& error) noexcept { return error.is_syntax(); }

}  // namespace mirtle
