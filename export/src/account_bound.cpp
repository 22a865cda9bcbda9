#include "account_bound.hpp"

#include "mirtle/markers.hpp"

namespace mirtle::exporting {

namespace {

bool starts_with(std::string_view text, std::string_view prefix) noexcept {
  return text.substr(0, prefix.size()) == prefix;
}

// Whether the reader decodes `input` from UTF-16: after an optional UTF-8
// mark, a UTF-16 mark (such text is reported as windows-1251).
bool read_from_utf16(std::string_view input) noexcept {
  if (starts_with(input, "\xEF\xBB\xBF")) input.remove_prefix(3);
  return starts_with(input, "\xFF\xFE") || starts_with(input, "\xFE\xFF");
}

}  // namespace

bool AccountSectionBound::all_read(std::size_t read) noexcept {
  if (!searched_) {
    searched_ = true;
    if (input_.empty()) {
      at_most_.reset();
    } else if (encoding_ == Encoding::UTF8) {
      at_most_ = text::count_keyword(input_, SectionType::Account, Encoding::UTF8);
    } else if (!read_from_utf16(input_)) {
      at_most_ = text::count_keyword(input_, SectionType::Account, Encoding::CP1251);
    }
  }
  return at_most_ && read == *at_most_;
}

}  // namespace mirtle::exporting
