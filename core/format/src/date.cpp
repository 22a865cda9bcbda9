#include <cstring>
#include <limits>
#include <optional>

#include "mirtle/values.hpp"
#include "calendar.hpp"
#include "mirtle/unicode.hpp"

namespace mirtle {

namespace {

using values::days_in_month;
using values::kMaxYear;
using values::kMinYear;
using values::put_digits;

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

// Reads the date left to right; the first failing step names the error.
class DateReader {
 public:
  explicit DateReader(std::string_view text) : p_(text.data()), end_(text.data() + text.size()) {}

  std::optional<ValueError> read(Date& out) noexcept {
    unsigned day = 0, month = 0;
    if (auto e = read_small(day, 1, 31)) return e;
    if (auto e = expect_dot()) return e;
    if (auto e = read_small(month, 1, 12)) return e;
    if (auto e = expect_dot()) return e;
    std::int64_t year = 0;
    if (auto e = read_year(year)) return e;
    if (p_ != end_) return ValueError::TrailingInput;
    if (year < kMinYear || year > kMaxYear || day > days_in_month(year, month)) return ValueError::OutOfRange;
    out = Date{static_cast<std::int32_t>(year), static_cast<std::uint8_t>(month),
               static_cast<std::uint8_t>(day)};
    return std::nullopt;
  }

 private:
  // White space, then one or two digits, checked against [lo, hi] at once.
  std::optional<ValueError> read_small(unsigned& value, unsigned lo, unsigned hi) noexcept {
    p_ = text::skip_space(p_, end_);
    if (p_ == end_) return ValueError::PrematureEnd;
    if (!is_digit(*p_)) return ValueError::InvalidCharacters;
    value = static_cast<unsigned>(*p_++ - '0');
    if (p_ != end_ && is_digit(*p_)) value = value * 10 + static_cast<unsigned>(*p_++ - '0');
    return (value < lo || value > hi) ? ValueError::OutOfRange : std::optional<ValueError>();
  }

  std::optional<ValueError> expect_dot() noexcept {
    if (p_ == end_) return ValueError::PrematureEnd;
    if (*p_ != '.') return ValueError::InvalidCharacters;
    ++p_;
    return std::nullopt;
  }

  // A signed year has any number of digits; an unsigned one, one to four,
  // taken literally (23 is the year 23).
  std::optional<ValueError> read_year(std::int64_t& year) noexcept {
    p_ = text::skip_space(p_, end_);
    if (p_ == end_) return ValueError::PrematureEnd;
    if (*p_ == '+' || *p_ == '-') {
      const bool negative = *p_++ == '-';
      if (p_ == end_) return ValueError::PrematureEnd;
      if (!is_digit(*p_)) return ValueError::InvalidCharacters;
      // The magnitude may reach 2^63 for a negative year.
      const std::uint64_t limit =
          static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()) + (negative ? 1 : 0);
      std::uint64_t magnitude = 0;
      while (p_ != end_ && is_digit(*p_)) {
        const auto digit = static_cast<std::uint64_t>(*p_++ - '0');
        if (magnitude > (limit - digit) / 10) return ValueError::OutOfRange;
        magnitude = magnitude * 10 + digit;
      }
      year = negative ? static_cast<std::int64_t>(0 - magnitude) : static_cast<std::int64_t>(magnitude);
      return std::nullopt;
    }
    if (!is_digit(*p_)) return ValueError::InvalidCharacters;
    int count = 0;
    while (count < 4 && p_ != end_ && is_digit(*p_)) {
      year = year * 10 + (*p_++ - '0');
      ++count;
    }
    return std::nullopt;
  }

  const char* p_;
  const char* end_;
};

// The form nearly every date is written in, "DD.MM.YYYY", read at once
// when it holds a valid date; anything else is left to the reader, which
// also names the failure.
bool read_common_form(std::string_view text, Date& out) noexcept {
  if (text.size() != 10 || text[2] != '.' || text[5] != '.') return false;
  auto digit = [&](std::size_t i) { return static_cast<unsigned>(static_cast<unsigned char>(text[i])) - '0'; };
  const unsigned d0 = digit(0), d1 = digit(1), m0 = digit(3), m1 = digit(4);
  const unsigned y0 = digit(6), y1 = digit(7), y2 = digit(8), y3 = digit(9);
  if ((d0 > 9) | (d1 > 9) | (m0 > 9) | (m1 > 9) | (y0 > 9) | (y1 > 9) | (y2 > 9) | (y3 > 9)) return false;
  const unsigned day = d0 * 10 + d1, month = m0 * 10 + m1;
  const auto year = static_cast<std::int32_t>(y0 * 1000 + y1 * 100 + y2 * 10 + y3);
  if (month - 1 > 11 || day == 0 || day > days_in_month(year, month)) return false;
  out = Date{year, static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day)};
  return true;
}

}  // namespace

DateResult parse_date(std::string_view text) noexcept {
  Date date{};
  if (read_common_form(text, date)) return date;
  if (text::is_blank(text)) return fail(ValueError::EmptyDate);
  if (const std::optional<ValueError> failure = DateReader(text).read(date)) return fail(*failure);
  return date;
}

OptionalDateResult parse_optional_date(std::string_view text) noexcept {
  Date date{};
  if (read_common_form(text, date)) return std::optional<Date>(date);
  if (text::is_blank(text)) return std::optional<Date>();
  if (const std::optional<ValueError> failure = DateReader(text).read(date)) return fail(*failure);
  return std::optional<Date>(date);
}

std::size_t format_date(const Date& date, char* out) noexcept {
  char* p = out;
  std::int64_t year = date.year;
  if (year < 0 || year > 9999) *p++ = year < 0 ? '-' : '+';
  p = put_digits(p, static_cast<std::uint64_t>(year < 0 ? -year : year), 4);
  *p++ = '-';
  p = put_digits(p, date.month, 2);
  *p++ = '-';
  p = put_digits(p, date.day, 2);
  return static_cast<std::size_t>(p - out);
}

std::string format_date(const Date& date) {
  char buf[16];
  return std::string(buf, format_date(date, buf));
}

std::size_t format_statement_date(const Date& date, char* out) noexcept {
  char* p = put_digits(out, date.day, 2);
  *p++ = '.';
  p = put_digits(p, date.month, 2);
  *p++ = '.';
  const std::int64_t year = date.year;
  // Four digits are read as they stand; a longer or negative year needs its sign.
  if (year < 0 || year > 9999) *p++ = year < 0 ? '-' : '+';
  p = put_digits(p, static_cast<std::uint64_t>(year < 0 ? -year : year), 4);
  return static_cast<std::size_t>(p - out);
}

std::string format_statement_date(const Date& date) {
  char buf[24];
  return std::string(buf, format_statement_date(date, buf));
}

bool is_valid(const Date& date) noexcept {
  if (date.year < kMinYear || date.year > kMaxYear || date.month < 1 || date.month > 12 || date.day < 1)
    return false;
  return date.day <= days_in_month(date.year, date.month);
}

}  // namespace mirtle
