// The keywords that start sections, counted in a statement's bytes as they
// are, without decoding: a bound for callers that must know early how many
// sections a text holds (a progress estimate, whether every account has
// been read).
#pragma once

#include <cstddef>
#include <string_view>

#include "mirtle/vocabulary.hpp"

namespace mirtle::text {

// How often the keyword that starts sections of `type` occurs in `bytes`,
// in its UTF-8 or its windows-1251 form as `encoding` says: at least the
// number of such sections in a text read from these bytes (a value may hold
// the word too).  Text read from UTF-16 holds neither form.
std::size_t count_keyword(std::string_view bytes, SectionType type, Encoding encoding) noexcept;

}  // namespace mirtle::text
