// Turning the input bytes into UTF-8 text: the encoding decision, the
// windows-1251 decoder and the checks behind the decision.
#pragma once

#include <functional>
#include <memory>
#include <string_view>

#include "mirtle/error.hpp"
#include "mirtle/result.hpp"
#include "mirtle/unicode.hpp"
#include "mirtle/vocabulary.hpp"

namespace mirtle::text {

struct DecodedText {
  Encoding encoding = Encoding::UTF8;
  // The UTF-8 text (in the input or in `owned`), or, when `per_line` is
  // set, the windows-1251 bytes, decoded as they are read: line feeds and
  // carriage returns are single bytes in both, so lines are cut alike.
  std::string_view text;
  std::unique_ptr<char[]> owned;  // set after a UTF-16 mark only
  bool per_line = false;
};

// Empty-input test, byte-order mark, UTF-8 validity, else the windows-1251
// path (with UTF-8/UTF-16 marks) and its plausibility check.  Fails with
// EmptyInput or NotStatement.  Throws only std::bad_alloc.
Result<DecodedText, ErrorKind> decode_input(std::string_view input);
// The same, where `is_utf8(text)` tells whether `text`, the input after any
// UTF-8 mark, is valid UTF-8: for a caller that has another thread check
// part of it.
Result<DecodedText, ErrorKind> decode_input(std::string_view input,
                                            const std::function<bool(std::string_view)>& is_utf8);

// Decodes windows-1251 bytes into `out`, which has room for 3 bytes per
// input byte and one more; returns the UTF-8 length.
std::size_t decode_windows1251(std::string_view in, char* out) noexcept;
// The same, where the bytes from `in` up to `readable_end` may be read.
std::size_t decode_windows1251(std::string_view in, char* out, const char* readable_end) noexcept;
// The same without vector instructions: the reference the tests compare with.
std::size_t decode_windows1251_scalar(std::string_view in, char* out) noexcept;

// The character of one windows-1251 byte (the writer builds its inverse).
inline char32_t windows1251(unsigned char byte) noexcept {
  const char in = static_cast<char>(byte);
  char utf8[4];
  const std::size_t n = decode_windows1251(std::string_view(&in, 1), utf8);
  const char* p = utf8;
  return next_code_point(p, utf8 + n);
}

// The plausibility check of decoded text: at most kPlausibilitySample
// characters are looked at, and more than 95 % of them must be ordinary.
bool looks_like_text(std::string_view utf8) noexcept;
// The same check of windows-1251 bytes, as the reader makes it before it
// takes a text for windows-1251.  Throws only std::bad_alloc.
bool is_plausible_windows1251(std::string_view bytes);

}  // namespace mirtle::text
