// Text for a person's terminal.  A statement is data from outside: a C1
// control (U+009B opens an escape sequence on many terminals) or a bidi
// control in a value must not move the cursor or turn a line around.  The
// human-readable outputs (show, every diagnostic) write those characters
// escaped as Python's repr writes them; JSON, CSV and convert keep the text.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace mirtle_cli {

// One character of a text as it is shown: itself, or its escape.
struct Shown {
  std::string_view text;
  std::size_t columns = 0;  // one for a character, the escape's length
};

// Room for the longest escape, "\u202e".
struct EscapeRoom {
  char bytes[8];
};

// The character of `text` at `at`, as shown; advances `at` past it.  The
// escaped characters: C0 controls ("\t", "\n", "\r", else "\x1b"), DEL and
// C1 ("\x7f", "\x9b"), and the bidi controls U+061C, U+200E, U+200F,
// U+202A..U+202E, U+2066..U+2069 ("\u202e").  A byte that does not start
// well-formed UTF-8 (a file name can hold one) is shown as "\xNN".
Shown next_shown(std::string_view text, std::size_t& at, EscapeRoom& room) noexcept;

// `text` with those characters escaped.
std::string printable(std::string_view text);

// The columns `text` takes once escaped, a character a column.
std::size_t printable_width(std::string_view text) noexcept;

}  // namespace mirtle_cli
