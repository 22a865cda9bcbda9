#include "xlsx_cells.hpp"

#include <charconv>
#include <cstdio>
#include <cstdlib>

namespace mirtle::exporting {

namespace {

// Days from 1970-01-01 to a proleptic Gregorian date.
std::int64_t days_from_civil(std::int64_t y, unsigned m, unsigned d) noexcept {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool is_continuation(char c) noexcept { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

}  // namespace

TextCell text_cell(std::string_view utf8) noexcept {
  std::size_t characters = 0;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    if (is_continuation(utf8[i])) continue;
    if (characters == kCellCharacters) return {utf8.substr(0, i), characters, true};
    ++characters;
  }
  return {utf8, characters, false};
}

std::optional<std::int64_t> excel_serial(const Date& date) noexcept {
  if (date.year < 1900 || date.year > 9999) return std::nullopt;
  const std::int64_t days = days_from_civil(date.year, date.month, date.day);
  const std::int64_t march_1900 = days_from_civil(1900, 3, 1);
  // Serial 60 is the 29 February 1900 the calendar counts.
  return days - days_from_civil(1899, 12, 31) + (days >= march_1900 ? 1 : 0);
}

AmountCell amount_cell(const Decimal& amount) {
  AmountCell cell;
  char digits[32];
  cell.text.assign(digits, format_amount(amount, digits));
  double value = 0;
  const auto parsed = std::from_chars(cell.text.data(), cell.text.data() + cell.text.size(), value);
  char printed[64];
  const int n = std::snprintf(printed, sizeof printed, "%.*f", static_cast<int>(amount.scale), value);
  const bool same_digits = parsed.ec == std::errc() && n > 0 && static_cast<std::size_t>(n) < sizeof printed &&
                           std::string_view(printed, static_cast<std::size_t>(n)) == cell.text;
  char stored[32];
  std::snprintf(stored, sizeof stored, "%.16G", value);
  if (same_digits && std::strtod(stored, nullptr) == value) cell.number = value;
  const std::size_t point = cell.text.find('.');
  const std::size_t integer = point == std::string::npos ? cell.text.size() : point;
  const std::size_t sign = amount.negative ? 1 : 0;
  cell.shown_width = cell.text.size() + (integer - sign - 1) / 3;
  return cell;
}

std::string amount_number_format(unsigned scale) {
  std::string format = "#,##0";
  if (scale != 0) {
    format += '.';
    format.append(scale, '0');
  }
  return format;
}

}  // namespace mirtle::exporting
