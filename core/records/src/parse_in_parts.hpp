// A large statement read in two parts at once.
#pragma once

#include <optional>
#include <string_view>

#include "mirtle/statement.hpp"

namespace mirtle {

// parse_statement without hooks, the second part of the text read on a
// thread of its own; nullopt when the text cannot be read so (no place to
// cut it, a thread that cannot start, a cut that turns out to fall inside a
// section, UTF-16 text), and the caller reads it whole.  When it gives a
// result, it is the one the whole text gives.
std::optional<ParseResult> parse_in_two_parts(std::string_view input);

}  // namespace mirtle
