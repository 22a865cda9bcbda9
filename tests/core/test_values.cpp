// Field values: dates in the day.month.year form, decimal amounts in the
// plain and the exponent form, their failure texts, and the text forms in
// which both are handed on.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "mirtle/values.hpp"
#include "support.hpp"

namespace mirtle {
namespace {

using testing::repeat;
using testing::utf8;

constexpr std::string_view kOutOfRange = "input is out of range";
constexpr std::string_view kInvalid = "input contains invalid characters";
constexpr std::string_view kPremature = "premature end of input";
constexpr std::string_view kTrailing = "trailing input";
constexpr std::string_view kEmpty = "empty string is not a valid date";

// "2024-03-05" for a date, the failure text otherwise.
std::string date_outcome(std::string_view text) {
  auto r = parse_date(text);
  return r ? format_date(*r) : r.error();
}

std::string optional_date_outcome(std::string_view text) {
  auto r = parse_optional_date(text);
  if (!r) return r.error();
  return *r ? format_date(**r) : "absent";
}

// The amount form of a parsed amount, or "fails" (the text is checked apart).
std::string amount_outcome(std::string_view text) {
  auto r = parse_amount(text);
  return r ? format_amount(*r) : "fails";
}

std::string invalid_amount_text(std::string_view quoted_body) {
  return "invalid value: string \"" + std::string(quoted_body) +
         "\", expected a Decimal type representing a fixed-point number";
}

struct Row {
  std::string text;
  std::string expected;
};

// ---------------------------------------------------------------------------
// Dates.

TEST(ParseDate, Examples) {
  const std::string nbsp = utf8(0xA0);
  const std::vector<Row> rows = {
      {"01.02.2023", "2023-02-01"},
      {"1.2.2023", "2023-02-01"},
      {"01. 02. 2023", "2023-02-01"},
      {"\t01.02.2023", "2023-02-01"},
      {nbsp + "01.02.2023", "2023-02-01"},
      {utf8(0x3000) + "1." + utf8(0x2003) + "2.\n\r 2023", "2023-02-01"},
      {"01.02.23", "0023-02-01"},
      {"01.02.0", "0000-02-01"},
      {"01.02.0000", "0000-02-01"},
      {"29.02.2024", "2024-02-29"},
      {"01.02.+20231", "+20231-02-01"},
      {"01.02.-1", "-0001-02-01"},
      {"01.02.+2023", "2023-02-01"},
      {"01.02.+00000000000000000000002023", "2023-02-01"},
      {"01.02.2023 ", std::string(kTrailing)},
      {"01.02.2023" + nbsp, std::string(kTrailing)},
      {"01.02.20231", std::string(kTrailing)},
      {"01.02.2023x", std::string(kTrailing)},
      {"01.02.+2023x", std::string(kTrailing)},
      {"01 .02.2023", std::string(kInvalid)},
      {"01/02/2023", std::string(kInvalid)},
      {"+1.02.2023", std::string(kInvalid)},
      {"x", std::string(kInvalid)},
      {"01..2023", std::string(kInvalid)},
      {"01.02.x", std::string(kInvalid)},
      {"01.02.+x", std::string(kInvalid)},
      {"01.02.+ 2023", std::string(kInvalid)},
      {"123.01.2023", std::string(kInvalid)},  // the third digit stands where "." must
      {"01.001.2023", std::string(kOutOfRange)},
      {utf8(0x0661) + ".02.2023", std::string(kInvalid)},  // Arabic-Indic digit one
      {utf8(0xFF11) + ".02.2023", std::string(kInvalid)},  // fullwidth digit one
      {utf8(0x200B) + "01.02.2023", std::string(kInvalid)},  // not white space
      {"31.02.2023", std::string(kOutOfRange)},
      {"29.02.2023", std::string(kOutOfRange)},
      {"32.01.2023", std::string(kOutOfRange)},
      {"01.13.2023", std::string(kOutOfRange)},
      {"00.01.2023", std::string(kOutOfRange)},
      {"001.02.2023", std::string(kOutOfRange)},
      {"0.01.2023", std::string(kOutOfRange)},
      {"01.00.2023", std::string(kOutOfRange)},
      {"31.04.2024", std::string(kOutOfRange)},
      {"01.02", std::string(kPremature)},
      {"01.02.", std::string(kPremature)},
      {"01.02. ", std::string(kPremature)},
      {"01.02.+", std::string(kPremature)},
      {"01.02.-", std::string(kPremature)},
      {"1", std::string(kPremature)},
      {"01.", std::string(kPremature)},
      {"01. ", std::string(kPremature)},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(date_outcome(r.text), r.expected);
  }
}

TEST(ParseDate, FirstFailingStepDecides) {
  const std::vector<Row> rows = {
      {"32", std::string(kOutOfRange)},          // the day is judged at once
      {"32.13.2023", std::string(kOutOfRange)},  // before the month
      {"32x", std::string(kOutOfRange)},
      {"01.13", std::string(kOutOfRange)},       // the month at once, before the missing year
      {"01.13x", std::string(kOutOfRange)},
      {"01x13.2023", std::string(kInvalid)},
      {"31.02.2023x", std::string(kTrailing)},    // trailing input before the impossible day
      {"31.02.2023 ", std::string(kTrailing)},
      {"01.01.+262143x", std::string(kTrailing)},  // ... and before the year range
      {"01.01.+99999999999999999999x", std::string(kOutOfRange)},  // too large while reading
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(date_outcome(r.text), r.expected);
  }
}

TEST(ParseDate, FarYears) {
  const std::vector<Row> rows = {
      {"31.12.+262142", "+262142-12-31"},
      {"01.01.-262143", "-262143-01-01"},
      {"31.12.262142", std::string(kTrailing)},  // unsigned years have at most four digits
      {"01.01.+262143", std::string(kOutOfRange)},
      {"01.01.-262144", std::string(kOutOfRange)},
      {"01.01.+10000", "+10000-01-01"},
      {"31.12.9999", "9999-12-31"},
      {"31.12.-10000", "-10000-12-31"},
      {"01.01.+9223372036854775807", std::string(kOutOfRange)},
      {"01.01.+9223372036854775808", std::string(kOutOfRange)},
      {"01.01.-9223372036854775808", std::string(kOutOfRange)},
      {"01.01.-9223372036854775809", std::string(kOutOfRange)},
      {"01.01.+" + repeat("9", 400), std::string(kOutOfRange)},
      {"29.02.+262140", "+262140-02-29"},
      {"29.02.+262141", std::string(kOutOfRange)},
      {"29.02.-262140", "-262140-02-29"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(date_outcome(r.text), r.expected);
  }
}

// The text of a date as a statement writes it, with a sign outside 0..9999.
std::string written(int year, unsigned month, unsigned day) {
  std::string y = std::to_string(year);
  if (year > 9999) y = "+" + y;
  return std::to_string(day) + "." + std::to_string(month) + "." + y;
}

TEST(ParseDate, AgreesWithTheCalendarOnEveryDayOfSampleYears) {
  // The standard library's proleptic Gregorian calendar is the reference.
  const std::vector<int> years = {-32767, -401, -400, -399, -101, -100, -5, -4, -1, 0,    1,
                                  3,      4,    100,  200,  400,  1600, 1900, 2000, 2023, 2024,
                                  2100,   2400, 9996, 9999, 10000, 10400, 32700, 32767};
  for (int year : years) {
    for (unsigned month = 1; month <= 12; ++month) {
      for (unsigned day = 1; day <= 31; ++day) {
        const std::chrono::year_month_day ymd{std::chrono::year{year}, std::chrono::month{month},
                                              std::chrono::day{day}};
        const std::string text = written(year, month, day);
        auto r = parse_date(text);
        ASSERT_EQ(r.has_value(), ymd.ok()) << text;
        if (!r) {
          EXPECT_EQ(r.error(), kOutOfRange) << text;
          continue;
        }
        EXPECT_EQ(*r, (Date{year, static_cast<std::uint8_t>(month), static_cast<std::uint8_t>(day)})) << text;
      }
    }
  }
}

TEST(ParseDate, BlankTextIsEmptyOrAbsent) {
  for (const std::string& blank : {std::string(), std::string(" "), std::string("\t\r\n\v\f"),
                                  utf8(0xA0) + utf8(0x3000) + utf8(0x2028) + utf8(0x85)}) {
    SCOPED_TRACE(blank);
    EXPECT_EQ(date_outcome(blank), kEmpty);
    EXPECT_EQ(optional_date_outcome(blank), "absent");
  }
}

TEST(ParseDate, OptionalDiffersOnlyForBlankText) {
  for (const std::string text : {"01.02.2023", " 1. 2.23", "29.02.2023", "01.02", "01/02/2023", "01.02.2023 ",
                                 "01.02.+20231", "0", "-"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(optional_date_outcome(text), date_outcome(text));
  }
}

TEST(FormatDate, YearsOutsideFourDigitsCarryASign) {
  struct Case {
    Date date;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{2024, 3, 5}, "2024-03-05"},      {{0, 1, 1}, "0000-01-01"},          {{23, 2, 1}, "0023-02-01"},
      {{9999, 12, 31}, "9999-12-31"},    {{10000, 1, 1}, "+10000-01-01"},    {{20231, 2, 1}, "+20231-02-01"},
      {{-1, 1, 1}, "-0001-01-01"},       {{-9999, 1, 1}, "-9999-01-01"},     {{-10000, 6, 15}, "-10000-06-15"},
      {{262142, 12, 31}, "+262142-12-31"}, {{-262143, 1, 1}, "-262143-01-01"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(format_date(c.date), c.text);
    char buf[16];
    const std::size_t n = format_date(c.date, buf);
    ASSERT_LE(n, sizeof buf);
    EXPECT_EQ(std::string_view(buf, n), c.text);
  }
}

TEST(FormatDate, RoundTripsThroughTheStatementForm) {
  std::mt19937_64 rng(20240305);
  std::uniform_int_distribution<int> year(-262143, 262142);
  std::uniform_int_distribution<unsigned> month(1, 12), day(1, 28);
  for (int i = 0; i < 20000; ++i) {
    const Date d{year(rng), static_cast<std::uint8_t>(month(rng)), static_cast<std::uint8_t>(day(rng))};
    std::string y = std::to_string(d.year);
    if (d.year >= 0) y = (d.year > 9999 || i % 2 ? "+" : "") + y;
    const std::string text = std::to_string(d.day) + "." + std::to_string(d.month) + "." + y;
    auto r = parse_date(text);
    ASSERT_TRUE(r) << text << ": " << r.error();
    ASSERT_EQ(*r, d) << text;
    std::string year_text = std::to_string(d.year < 0 ? -d.year : d.year);
    year_text.insert(0, year_text.size() < 4 ? 4 - year_text.size() : 0, '0');
    if (d.year < 0 || d.year > 9999) year_text.insert(0, d.year < 0 ? "-" : "+");
    char tail[32];
    std::snprintf(tail, sizeof tail, "-%02u-%02u", unsigned{d.month}, unsigned{d.day});
    ASSERT_EQ(format_date(d), year_text + tail);
  }
}

// ---------------------------------------------------------------------------
// Amounts.

TEST(ParseAmount, PlainForm) {
  const std::vector<Row> rows = {
      {"100.50", "100.50"}, {"0.00", "0.00"},   {"100", "100"},     {"100.", "100"},     {".5", "0.5"},
      {"+.5", "0.5"},       {"-.5", "-0.5"},    {"1_000.5", "1000.5"}, {"1__0_", "10"},  {"1._5", "1.5"},
      {"1.5_", "1.5"},      {"-0", "0"},        {"-0.00", "0.00"},  {"+0", "0"},         {"-5.10", "-5.10"},
      {"+5", "5"},          {"0001.20", "1.20"}, {"000", "0"},      {"0.", "0"},         {".0", "0.0"},
      {"00.000", "0.000"},  {"1500.00", "1500.00"}, {"0.05", "0.05"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(amount_outcome(r.text), r.expected);
  }
}

TEST(ParseAmount, PlainFormRejections) {
  for (const std::string text :
       {"", "+", "-", ".", "+.", "-.", "_", "_1", "+_1", "._5", "1.2.3", "1..", " 1", "1 ", "1\t", "1 000",
        "1,5", "12,50", "--1", "+-1", "-+1", "1-", "1+", "0x10", "inf", "NaN", "1/2", "١", "１", "1\xC2\xA0"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(amount_outcome(text), "fails");
  }
}

TEST(ParseAmount, ZeroIsNeverNegative) {
  for (const char* text : {"-0", "-0.00", "-0e5", "-0.0e-3", "-.0", "-0.00000000000000000000000000001"}) {
    SCOPED_TRACE(text);
    auto r = parse_amount(text);
    ASSERT_TRUE(r);
    EXPECT_TRUE(r->is_zero());
    EXPECT_FALSE(r->negative);
  }
  auto r = parse_amount("-0.00");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->scale, 2);
  r = parse_amount("100.50");
  ASSERT_TRUE(r);
  EXPECT_EQ(r->lo, 10050u);
  EXPECT_EQ(r->hi, 0u);
  EXPECT_EQ(r->scale, 2);
}

const std::string kMax = "79228162514264337593543950335";  // 2^96 - 1

TEST(ParseAmount, MantissaLimits) {
  const std::vector<Row> rows = {
      {kMax, kMax},
      {"-" + kMax, "-" + kMax},
      {"0000" + kMax, kMax},
      {"7_9228_1625_1426_4337_5935_4395_0335", kMax},
      {"79228162514264337593543950336", "fails"},
      {"-79228162514264337593543950336", "fails"},
      {kMax + "0", "fails"},
      {"100000000000000000000000000000", "fails"},
      // The integer part fits: the fraction is rounded away.
      {kMax + ".4", kMax},
      {kMax + ".0", kMax},
      {kMax + ".", kMax},
      {kMax + ".49999", kMax},
      {kMax + ".5", "fails"},
      {kMax + ".9", "fails"},
      {"-" + kMax + ".9", "fails"},
      // A carry past the limit gives up the last kept fraction digit.
      {"7922816251426433759354395033.59", "7922816251426433759354395034"},
      {"7922816251426433759354395033.55", "7922816251426433759354395034"},
      {"7922816251426433759354395033.54", "7922816251426433759354395033.5"},
      {"7922816251426433759354395033.5", "7922816251426433759354395033.5"},
      {"7922816251426433759354395033.6", "7922816251426433759354395034"},
      {"7922816251426433759354395033.4", "7922816251426433759354395033.4"},
      {"-7922816251426433759354395033.59", "-7922816251426433759354395034"},
      {"7.9228162514264337593543950335", "7.9228162514264337593543950335"},
      {"7.92281625142643375935439503354", "7.9228162514264337593543950335"},
      {"7.92281625142643375935439503355", "7.922816251426433759354395034"},
      {"0.79228162514264337593543950335", "0.7922816251426433759354395034"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(amount_outcome(r.text), r.expected);
  }
}

TEST(ParseAmount, LongFractionsAreRoundedToScale28) {
  const std::string d28 = "1234567890123456789012345678";
  const std::vector<Row> rows = {
      {"0." + d28, "0." + d28},
      {"0.12345678901234567890123456789", "0.1234567890123456789012345679"},
      {"0." + d28 + "4", "0." + d28},
      {"0." + d28 + "5", "0.1234567890123456789012345679"},
      {"0." + d28 + "49999999", "0." + d28},  // rounded on the first digit not taken only
      {"-0." + d28 + "5", "-0.1234567890123456789012345679"},
      {"0." + repeat("0", 28) + "5", "0." + repeat("0", 27) + "1"},
      {"0." + repeat("0", 28) + "4", "0." + repeat("0", 28)},
      {"0." + repeat("9", 29), "1." + repeat("0", 28)},
      {"9." + repeat("9", 40), "10." + repeat("0", 27)},
      {"0." + repeat("3", 500), "0." + repeat("3", 28)},
      {"0." + repeat("6", 500), "0." + repeat("6", 27) + "7"},
      {"0." + d28 + "5_1_2", "0.1234567890123456789012345679"},
      {"12345678901234567890.123456789", "12345678901234567890.123456789"},
      {"12345678901234567890.1234567895", "12345678901234567890.123456790"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(amount_outcome(r.text), r.expected);
  }
}

TEST(ParseAmount, CharactersAfterTheLastTakenDigitAreStillChecked) {
  const std::string long_fraction = "0." + repeat("1", 29);
  const std::vector<Row> rows = {
      {long_fraction + "x", "fails"},
      {long_fraction + ".", "fails"},
      {long_fraction + " ", "fails"},
      {long_fraction + ",5", "fails"},
      {long_fraction + "-", "fails"},
      {"0." + repeat("1", 60) + "a" + repeat("1", 10), "fails"},
      {kMax + ".0x", "fails"},
      {kMax + ".0.", "fails"},
      // An exponent after a long fraction applies to the rounded value.
      {long_fraction + "e2", "11." + repeat("1", 26)},
      {long_fraction + "E+1", "1." + repeat("1", 27)},
      {long_fraction + "e0", "0." + repeat("1", 28)},
      {long_fraction + "e-1", "fails"},  // the scale would pass 28
      {long_fraction + "e", "fails"},
      {long_fraction + "e2x", "fails"},
      {"0." + repeat("9", 29) + "e1", "10." + repeat("0", 27)},
      {kMax + ".9e1", "fails"},  // the plain part before the exponent fails on its own
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(amount_outcome(r.text), r.expected);
  }
}

TEST(ParseAmount, ExponentForm) {
  const std::vector<Row> rows = {
      {"1e3", "1000"},
      {"1E3", "1000"},
      {"1e+3", "1000"},
      {"1e-+3", "0.001"},
      {"15e-1", "1.5"},
      {"1.50e1", "15.0"},
      {"1.50e2", "150"},
      {"1.500e2", "150.0"},
      {"1.50e0", "1.50"},
      {"1e0", "1"},
      {"1e-0", "1"},
      {"1.2e3", "1200"},
      {"1.5e2", "150"},
      {"0.10e5", "10000"},
      {"100e2", "10000"},
      {"-1.5e3", "-1500"},
      {"+1.5e3", "1500"},
      {"-0e3", "0"},
      {"0e5", "0"},
      {"1_e3", "1000"},
      {".5e1", "5"},
      {"5.e1", "50"},
      {"1e00000000000000000003", "1000"},
      {"1e-28", "0." + repeat("0", 27) + "1"},
      {"0e-28", "0." + repeat("0", 28)},
      {"1.5e-27", "0." + repeat("0", 26) + "15"},
      {"1e28", "1" + repeat("0", 28)},
      {"7e28", "7" + repeat("0", 28)},
      {"7.9228162514264337593543950335e28", kMax},
      {"1e-4294967295", "fails"},
      {"1e4294967295", "fails"},
      {"1e4294967296", "fails"},
      {"1e-29", "fails"},
      {"1.0e-28", "fails"},
      {"1.5e-28", "fails"},
      {"0e-29", "fails"},
      {"0e29", "fails"},
      {"1e29", "fails"},
      {"8e28", "fails"},
      {"1e", "fails"},
      {"e5", "fails"},
      {"E5", "fails"},
      {"-e5", "fails"},
      {".e1", "fails"},
      {"_1e3", "fails"},
      {"1e+", "fails"},
      {"1e-", "fails"},
      {"1e-+", "fails"},
      {"1e+-3", "fails"},
      {"1e--3", "fails"},
      {"1e++3", "fails"},
      {"1e-++3", "fails"},
      {"1e3.0", "fails"},
      {"1e3_", "fails"},
      {"1e 3", "fails"},
      {"1 e3", "fails"},
      {"1e3 ", "fails"},
      {"1e3e4", "fails"},
      {"1ee3", "fails"},
      {"1e0x10", "fails"},
      {"1,5e3", "fails"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    EXPECT_EQ(amount_outcome(r.text), r.expected);
  }
}

TEST(ParseAmount, FailureTextQuotesTheValue) {
  const std::vector<Row> rows = {
      {"12,50", "12,50"},
      {"", ""},
      {"abc", "abc"},
      {"Сумма 5", "Сумма 5"},
      {"1'000", "1'000"},
      {"a\"b\\c", "a\\\"b\\\\c"},
      {"\t\r\n" + std::string(1, '\0'), "\\t\\r\\n\\0"},
      {"\x01\x1f\x7f", "\\u{1}\\u{1f}\\u{7f}"},
      {utf8(0x85) + utf8(0x9F), "\\u{85}\\u{9f}"},
      {" 1", " 1"},
      {utf8(0xA0) + "1", "\\u{a0}1"},
      {utf8(0x3000) + utf8(0x2028) + utf8(0x2029), "\\u{3000}\\u{2028}\\u{2029}"},
      {utf8(0xAD) + utf8(0x200B) + utf8(0xFEFF), "\\u{ad}\\u{200b}\\u{feff}"},
      {"e" + utf8(0x301), "e\\u{301}"},
      {utf8(0xE000) + utf8(0x378), "\\u{e000}\\u{378}"},
      {"😀№€", "😀№€"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.text);
    auto result = parse_amount(r.text);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), invalid_amount_text(r.expected));
  }
}

TEST(ParseAmount, EveryFailureHasTheOneText) {
  // Whichever step fails, only the quoted value changes.
  for (const std::string& text :
       std::vector<std::string>{"1e", "1e-29", kMax + "0", kMax + ".5", "1e4294967296", "0.x", "8e28"}) {
    SCOPED_TRACE(text);
    auto r = parse_amount(text);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.error(), invalid_amount_text(text));
  }
}

// A random amount in its own text form: digits without leading zeros, the
// point before the last `scale` of them, a minus sign on non-zero values.
std::string random_amount_text(std::mt19937_64& rng) {
  std::uniform_int_distribution<int> digit(0, 9), length(1, 29), scale_of(0, 28), coin(0, 1);
  const int n = length(rng);
  std::string digits;
  for (int i = 0; i < n; ++i) digits += static_cast<char>('0' + digit(rng));
  if (n == 29 && digits > kMax) digits[0] = '6';
  digits.erase(0, std::min(digits.find_first_not_of('0'), digits.size()));
  const auto scale = static_cast<std::size_t>(scale_of(rng));
  if (digits.size() < scale + 1) digits.insert(0, scale + 1 - digits.size(), '0');
  if (scale > 0) digits.insert(digits.size() - scale, ".");
  const bool zero = digits.find_first_not_of("0.") == std::string::npos;
  return (!zero && coin(rng) ? "-" : "") + digits;
}

TEST(AmountForm, RoundTripsEveryRepresentableValue) {
  std::mt19937_64 rng(96);
  for (int i = 0; i < 50000; ++i) {
    const std::string text = random_amount_text(rng);
    auto r = parse_amount(text);
    ASSERT_TRUE(r) << text;
    ASSERT_EQ(format_amount(*r), text);
    char buf[32];
    const std::size_t len = format_amount(*r, buf);
    ASSERT_LE(len, sizeof buf);
    ASSERT_EQ(std::string_view(buf, len), text);
    // The same value in the exponent form, shifted by one place.
    if (r->scale < 28) {
      auto shifted = parse_amount(text + "e-1");
      ASSERT_TRUE(shifted) << text;
      ASSERT_EQ(shifted->scale, r->scale + 1);
      ASSERT_TRUE(shifted->lo == r->lo && shifted->hi == r->hi) << text;
    }
  }
}

TEST(AmountForm, Examples) {
  struct Case {
    Decimal value;
    std::string text;
  };
  const std::vector<Case> cases = {
      {{150000, 0, 2, false}, "1500.00"},
      {{15, 0, 1, false}, "1.5"},
      {{5, 0, 2, false}, "0.05"},
      {{0, 0, 2, false}, "0.00"},
      {{1500, 0, 0, false}, "1500"},
      {{0, 0, 0, false}, "0"},
      {{150000, 0, 2, true}, "-1500.00"},
      {{1, 0, 28, true}, "-0." + repeat("0", 27) + "1"},
      {{UINT64_MAX, UINT32_MAX, 0, true}, "-" + kMax},
      {{UINT64_MAX, UINT32_MAX, 28, true}, "-7.9228162514264337593543950335"},
      {{0, 0, 28, false}, "0." + repeat("0", 28)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(format_amount(c.value), c.text);
  }
}

TEST(AmountForm, RoundingMatchesDecimalArithmetic) {
  // Scale-28 values below 7 with extra digits: rounding on the 29th
  // fractional digit is the same as adding one unit in the last place.
  std::mt19937_64 rng(28);
  std::uniform_int_distribution<int> digit(0, 9), whole(0, 6), tail(0, 20);
  for (int i = 0; i < 20000; ++i) {
    std::string kept = std::to_string(whole(rng)) + ".";
    for (int k = 0; k < 28; ++k) kept += static_cast<char>('0' + digit(rng));
    const int next = digit(rng);
    std::string text = kept + static_cast<char>('0' + next);
    for (int k = tail(rng); k > 0; --k) text += static_cast<char>('0' + digit(rng));
    std::string expected = kept;
    if (next >= 5) {
      std::size_t at = expected.size();
      while (at-- > 0) {
        if (expected[at] == '.') continue;
        if (expected[at] != '9') {
          ++expected[at];
          break;
        }
        expected[at] = '0';
      }
    }
    ASSERT_EQ(amount_outcome(text), expected) << text;
  }
}

TEST(DecimalValue, EqualityIgnoresTheWrittenScale) {
  struct Pair {
    std::string a, b;
    bool equal;
  };
  const std::vector<Pair> pairs = {
      {"100", "100.0", true},  {"100", "100.00", true}, {"0", "-0.00", true},       {"0.000", "0", true},
      {"1.5", "1.50", true},   {"1e3", "1000.000", true}, {"-2.50", "-2.5", true},  {"1.5", "1.05", false},
      {"1", "-1", false},      {"10", "1", false},        {"0.1", "1", false},      {"-0.1", "0.1", false},
      {kMax, "7922816251426433759354395033.5", false},    {kMax, kMax + ".0", true},
      {"0.0000000000000000000000000001", "0", false},     {"1", "1.0000000000000000000000000000", true},
  };
  for (const Pair& p : pairs) {
    SCOPED_TRACE(p.a + " vs " + p.b);
    auto a = parse_amount(p.a), b = parse_amount(p.b);
    ASSERT_TRUE(a && b);
    EXPECT_EQ(a->same_value(*b), p.equal);
    EXPECT_EQ(b->same_value(*a), p.equal);
    if (p.equal) {
      EXPECT_EQ(a->value_hash(), b->value_hash());
    }
  }
}

}  // namespace
}  // namespace mirtle
