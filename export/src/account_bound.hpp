// When no account section is left unread, known from the text being read:
// every account section starts with a line holding the keyword
// "СекцияРасчСчет", so the keyword's occurrences in the text bound the
// sections from above.  Once the reader has delivered as many sections as
// there are occurrences, none is left; until then (a value holding the
// keyword, or sections still to come) nothing is concluded.  The bytes are
// searched in the form the reader decodes them from; a text it read from
// UTF-16 is not searched at all.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "mirtle/vocabulary.hpp"

namespace mirtle::exporting {

class AccountSectionBound {
 public:
  // `input`: the whole text being read, or empty when unknown.
  explicit AccountSectionBound(std::string_view input) noexcept : input_(input) {}

  // The encoding the reader reported (on_header).
  void set_encoding(Encoding encoding) noexcept { encoding_ = encoding; }
  // Whether every account section has been read once `read` of them have.
  // The text is searched on the first call.
  bool all_read(std::size_t read) noexcept;

 private:
  std::string_view input_;
  Encoding encoding_ = Encoding::UTF8;
  bool searched_ = false;
  std::optional<std::size_t> at_most_;  // none: the text cannot tell
};

}  // namespace mirtle::exporting
