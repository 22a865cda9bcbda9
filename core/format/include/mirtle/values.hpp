// Typed field values: calendar dates and decimal amounts, read from their
// statement text and written in the forms handed to callers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "mirtle/result.hpp"

namespace mirtle {

// A proleptic Gregorian date; year 0 exists (1 BC).
struct Date {
  std::int32_t year;   // -262143..262142
  std::uint8_t month;  // 1..12
  std::uint8_t day;    // 1..31, valid for the month

  friend bool operator==(const Date&, const Date&) = default;
  friend auto operator<=>(const Date&, const Date&) = default;
};

// A fixed-point decimal: (-1)^negative * mantissa / 10^scale.  The written
// scale is kept: 100.50 has scale 2 and 100 has scale 0.  Zero is never
// negative.
struct Decimal {
  std::uint64_t lo = 0;  // low 64 bits of the 96-bit mantissa
  std::uint32_t hi = 0;  // high 32 bits
  std::uint8_t scale = 0;  // 0..28
  bool negative = false;

  bool is_zero() const noexcept { return lo == 0 && hi == 0; }
  // Equality of value, not of written form: 100 == 100.00, 0 == -0.0.
  bool same_value(const Decimal& other) const noexcept;
  // A hash consistent with same_value.
  std::uint64_t value_hash() const noexcept;

  // Equality as written: 100 and 100.00 differ (see same_value).
  friend bool operator==(const Decimal&, const Decimal&) = default;
};

// Why a value could not be read.  The text a caller shows for each is made
// by `message` (message.hpp).
enum class ValueError : std::uint8_t {
  EmptyDate,          // "empty string is not a valid date"
  OutOfRange,         // "input is out of range"
  InvalidCharacters,  // "input contains invalid characters"
  PrematureEnd,       // "premature end of input"
  TrailingInput,      // "trailing input"
  InvalidAmount,      // "invalid value: string "<text>", expected a Decimal ..."
};

// None of these allocates or throws.
using DateResult = Result<Date, ValueError>;
using OptionalDateResult = Result<std::optional<Date>, ValueError>;
using AmountResult = Result<Decimal, ValueError>;

// A date that must be given, "%d.%m.%Y" with white space skipped before
// each number.
DateResult parse_date(std::string_view text) noexcept;
// As parse_date, but a blank text is an absent date.
OptionalDateResult parse_optional_date(std::string_view text) noexcept;
// A money amount in plain ("-1_000.50") or exponent ("1.2e3") form.
AmountResult parse_amount(std::string_view text) noexcept;

// Whether a value is one a reader can give: a date of the proleptic
// calendar within Date's years, an amount of scale at most
// kMaxAmountScale that is not a negative zero.
bool is_valid(const Date& date) noexcept;
bool is_valid(const Decimal& amount) noexcept;

// "YYYY-MM-DD"; years outside 0..9999 get a sign and at least four digits.
// Writes at most 16 bytes at `out`, returns the length.
std::size_t format_date(const Date& date, char* out) noexcept;
std::string format_date(const Date& date);
// "DD.MM.YYYY", the statement's own form, read back by parse_date; years
// outside 0..9999 get a sign and at least four digits.  Writes at most 17
// bytes at `out`, returns the length.
std::size_t format_statement_date(const Date& date, char* out) noexcept;
std::string format_statement_date(const Date& date);
// Plain decimal digits with the value's own scale ("0.05", "-1500.00").
// Writes at most 32 bytes at `out`, returns the length.
std::size_t format_amount(const Decimal& amount, char* out) noexcept;
std::string format_amount(const Decimal& amount);

}  // namespace mirtle
