// The floor any parser of the format pays, for bench_core and ab/: making
// sure the bytes are text (validating UTF-8, or decoding windows-1251
// through one cache-warm buffer, as the parser does a piece at a time) and
// finding the line ends.
#pragma once

#include <cstddef>
#include <cstring>
#include <optional>
#include <string_view>

#include "mirtle/decode.hpp"

namespace mirtle::bench {

// Line feeds in `text`: the same in windows-1251 and in UTF-8.
inline std::size_t count_lines(std::string_view text) noexcept {
  std::size_t lines = 0;
  const char* p = text.data();
  const char* const end = p + text.size();
  while (const void* lf = std::memchr(p, '\n', static_cast<std::size_t>(end - p))) {
    ++lines;
    p = static_cast<const char*>(lf) + 1;
  }
  return lines;
}

// Bytes of windows-1251 decoded at a time; the buffer holds three a byte.
inline constexpr std::size_t kFloorChunk = 64 * 1024;
inline constexpr std::size_t kFloorBuffer = kFloorChunk * 3;

// The line feeds of `input` once it is text, or nullopt when it is not the
// text of a statement.  `buffer` has room for kFloorBuffer bytes.
inline std::optional<std::size_t> floor_lines(std::string_view input, char* buffer) {
  const auto decoded = text::decode_input(input);
  if (!decoded) return std::nullopt;
  if (!decoded->per_line) return count_lines(decoded->text);
  std::size_t lines = 0;
  for (std::size_t at = 0; at < decoded->text.size(); at += kFloorChunk) {
    const std::size_t n = text::decode_windows1251(decoded->text.substr(at, kFloorChunk), buffer);
    lines += count_lines(std::string_view(buffer, n));
  }
  return lines;
}

}  // namespace mirtle::bench
