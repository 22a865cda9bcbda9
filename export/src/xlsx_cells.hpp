// What a spreadsheet cell can hold of a statement's values: dates within
// Excel's calendar, amounts whose double gives back the same decimal, texts
// up to a cell's length.  Apart from the spreadsheet library, so that the
// rules are tested wherever the library is missing.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "mirtle/values.hpp"

namespace mirtle::exporting {

// The most characters a cell holds.
inline constexpr std::size_t kCellCharacters = 32767;

struct TextCell {
  std::string_view text;   // `text`, or its longest prefix of whole characters that fits
  std::size_t characters;  // code points in `text` as cut
  bool cut;
};
TextCell text_cell(std::string_view utf8) noexcept;

// The date's serial number in Excel's 1900 calendar (1 for 1900-01-01; the
// calendar counts a 29 February 1900, so later dates are one more), or none
// before 1900-01-01 or after 9999-12-31.
std::optional<std::int64_t> excel_serial(const Date& date) noexcept;

struct AmountCell {
  // The double that holds the amount exactly: printed at the amount's own
  // scale it gives back the same digits, and its shortest 16-digit form
  // (what the file stores) reads back as the same double.  None otherwise.
  std::optional<double> number;
  std::string text;         // the amount's plain text ("-1500.00"), for a text cell
  std::size_t shown_width;  // characters of the number as shown, thousands grouped
};
AmountCell amount_cell(const Decimal& amount);

// "#,##0" for scale 0, "#,##0.00" for scale 2.
std::string amount_number_format(unsigned scale);

}  // namespace mirtle::exporting
