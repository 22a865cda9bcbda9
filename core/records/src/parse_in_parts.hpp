// A large statement's records read in two parts at once.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include "mirtle/statement.hpp"

namespace mirtle {

// The records of `input`, without hooks, read into `sinks` in two parts at
// once (mirtle/two_parts.hpp); nullopt when the text cannot be read so,
// and the caller reads it whole.  Otherwise the whole text's outcome: its
// header once the parts are joined, or its error.
std::optional<Result<AttributeMap, ParseError>> parse_in_two_parts(std::string_view input, SplitSink& sinks);

}  // namespace mirtle
