// Calendar and digit helpers shared by the date reader and the writer.
#pragma once

#include <cstdint>

namespace mirtle::values {

// The years a Date may hold.
inline constexpr std::int64_t kMinYear = -262143;
inline constexpr std::int64_t kMaxYear = 262142;

// Proleptic Gregorian leap years.
constexpr bool is_leap(std::int64_t year) noexcept {
  return year % 4 == 0 && (year % 100 != 0 || year % 400 == 0);
}

constexpr unsigned days_in_month(std::int64_t year, unsigned month) noexcept {
  constexpr unsigned kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && is_leap(year) ? 29 : kDays[month - 1];
}

// Writes `value` in decimal, padded with zeros to `min_width`; returns the
// end.  At most 20 digits.
inline char* put_digits(char* out, std::uint64_t value, int min_width) noexcept {
  char buf[24];
  int n = 0;
  do {
    buf[n++] = static_cast<char>('0' + value % 10);
    value /= 10;
  } while (value != 0);
  while (n < min_width) buf[n++] = '0';
  while (n > 0) *out++ = buf[--n];
  return out;
}

}  // namespace mirtle::values
