// Turning the input bytes into UTF-8 text: the encoding decision.
#pragma once

#include <memory>
#include <string_view>

#include "mirtle/error.hpp"
#include "mirtle/result.hpp"
#include "mirtle/statement.hpp"

namespace mirtle::text {

struct DecodedText {
  Encoding encoding = Encoding::UTF8;
  std::string_view text;          // the UTF-8 text; in the input or in `owned`
  std::unique_ptr<char[]> owned;  // set on the CP1251 path only
};

// Empty-input test, byte-order mark, UTF-8 validity, else the windows-1251
// path (with UTF-8/UTF-16 marks) and its plausibility check.  Fails with
// EmptyInput or NotStatement.  Throws only std::bad_alloc.
Result<DecodedText, ErrorKind> decode_input(std::string_view input);

// The windows-1251 character of a byte.
char32_t windows1251(unsigned char byte) noexcept;

// The plausibility check of windows-1251 text: at most 20480 characters are
// looked at, and more than 95 % of them must be ordinary.
bool looks_like_text(std::string_view utf8) noexcept;

}  // namespace mirtle::text
