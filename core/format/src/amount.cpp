#include <cstring>

#include "mirtle/values.hpp"
#include "mirtle/vocabulary.hpp"

namespace mirtle {

namespace {

__extension__ typedef unsigned __int128 u128;

constexpr u128 kMaxMantissa = (static_cast<u128>(1) << 96) - 1;  // 79228162514264337593543950335
constexpr unsigned kMaxScale = kMaxAmountScale;

bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }

struct Plain {
  u128 mantissa = 0;
  unsigned scale = 0;
  bool negative = false;
};

// The plain form: sign, digits with at most one ".", "_" after a digit.
// Fraction digits beyond what the scale and the mantissa hold are rounded
// half up on the first digit not taken; the rest are still validated.
bool read_plain(std::string_view text, Plain& out) noexcept {
  const char* p = text.data();
  const char* const end = p + text.size();
  Plain v;
  if (p != end && (*p == '+' || *p == '-')) v.negative = *p++ == '-';
  bool any_digit = false, in_fraction = false, taking = true;
  int round_digit = -1;  // the first fraction digit not taken
  for (; p != end; ++p) {
    const char c = *p;
    if (is_digit(c)) {
      const unsigned d = static_cast<unsigned>(c - '0');
      any_digit = true;
      if (!in_fraction) {
        v.mantissa = v.mantissa * 10 + d;
        if (v.mantissa > kMaxMantissa) return false;
      } else if (taking && v.scale < kMaxScale && v.mantissa * 10 + d <= kMaxMantissa) {
        v.mantissa = v.mantissa * 10 + d;
        ++v.scale;
      } else if (taking) {
        taking = false;
        round_digit = static_cast<int>(d);
      }
    } else if (c == '.') {
      if (in_fraction) return false;
      in_fraction = true;
    } else if (c != '_' || !any_digit) {
      return false;
    }
  }
  if (!any_digit) return false;
  if (round_digit >= 5) {
    if (v.mantissa + 1 <= kMaxMantissa) {
      ++v.mantissa;
    } else {
      // Rounding up would pass 2^96 - 1: give up the last kept digit too.
      if (v.scale == 0) return false;
      const unsigned dropped = static_cast<unsigned>(v.mantissa % 10);
      v.mantissa = v.mantissa / 10 + (dropped >= 5 ? 1 : 0);
      --v.scale;
    }
  }
  out = v;
  return true;
}

// The form nearly every amount is written in, digits with at most one ".",
// read without the general reader's 128-bit steps: at most 19 characters,
// so the digits fit 64 bits and nothing is rounded; anything else is left
// to read_plain.
bool read_common_form(std::string_view text, Plain& out) noexcept {
  if (text.empty() || text.size() > 19) return false;
  std::uint64_t mantissa = 0;
  std::size_t dot = text.size();
  for (std::size_t i = 0; i < text.size(); ++i) {
    const unsigned digit = static_cast<unsigned>(static_cast<unsigned char>(text[i])) - '0';
    if (digit <= 9) {
      mantissa = mantissa * 10 + digit;
    } else if (text[i] == '.' && dot == text.size()) {
      dot = i;
    } else {
      return false;
    }
  }
  if (dot != text.size() && text.size() == 1) return false;  // "." alone: no digit
  out.mantissa = mantissa;
  out.scale = dot == text.size() ? 0 : static_cast<unsigned>(text.size() - dot - 1);
  out.negative = false;
  return true;
}

// The exponent form "<plain>e<n>", tried when the plain form fails.
bool read_exponent(std::string_view text, Plain& out) noexcept {
  std::size_t e = 0;
  while (e < text.size() && text[e] != 'e' && text[e] != 'E') ++e;
  if (e == text.size()) return false;
  Plain v;
  if (!read_plain(text.substr(0, e), v)) return false;

  const char* p = text.data() + e + 1;
  const char* const end = text.data() + text.size();
  bool negative = false;
  if (p != end && *p == '+') {
    ++p;
  } else if (p != end && *p == '-') {
    negative = true;
    ++p;
    if (p != end && *p == '+') ++p;
  }
  if (p == end) return false;
  std::uint64_t n = 0;
  for (; p != end; ++p) {
    if (!is_digit(*p)) return false;
    n = n * 10 + static_cast<unsigned>(*p - '0');
    if (n > UINT32_MAX) return false;
  }

  if (negative) {
    if (n > kMaxScale || v.scale + n > kMaxScale) return false;
    v.scale += static_cast<unsigned>(n);
  } else if (n <= v.scale) {
    v.scale -= static_cast<unsigned>(n);
  } else {
    if (n > kMaxScale) return false;
    for (std::uint64_t i = 0; i < n; ++i) {
      v.mantissa *= 10;
      if (v.mantissa > kMaxMantissa) return false;
    }
    while (v.scale > 0 && v.mantissa % 10 == 0) {
      v.mantissa /= 10;
      --v.scale;
    }
  }
  out = v;
  return true;
}

Decimal to_decimal(const Plain& v) noexcept {
  Decimal d;
  d.lo = static_cast<std::uint64_t>(v.mantissa);
  d.hi = static_cast<std::uint32_t>(v.mantissa >> 64);
  d.scale = static_cast<std::uint8_t>(v.scale);
  d.negative = v.negative && v.mantissa != 0;
  return d;
}

u128 mantissa_of(const Decimal& d) noexcept { return (static_cast<u128>(d.hi) << 64) | d.lo; }

// The mantissa and scale with trailing fractional zeros removed.
void normalize(const Decimal& d, u128& mantissa, unsigned& scale) noexcept {
  mantissa = mantissa_of(d);
  scale = d.scale;
  if (mantissa == 0) {
    scale = 0;
    return;
  }
  while (scale > 0 && mantissa % 10 == 0) {
    mantissa /= 10;
    --scale;
  }
}

}  // namespace

AmountResult parse_amount(std::string_view text) noexcept {
  Plain v;
  if (read_common_form(text, v) || read_plain(text, v) || read_exponent(text, v)) return to_decimal(v);
  return fail(ValueError::InvalidAmount);
}

bool Decimal::same_value(const Decimal& other) const noexcept {
  u128 a, b;
  unsigned sa, sb;
  normalize(*this, a, sa);
  normalize(other, b, sb);
  return a == b && sa == sb && (a == 0 || negative == other.negative);
}

std::uint64_t Decimal::value_hash() const noexcept {
  u128 m;
  unsigned s;
  normalize(*this, m, s);
  std::uint64_t h = static_cast<std::uint64_t>(m) * 0x9E3779B97F4A7C15ull;
  h ^= static_cast<std::uint64_t>(m >> 64) + 0x632BE59BD9B4E019ull + (h << 6) + (h >> 2);
  h ^= (static_cast<std::uint64_t>(s) << 1) | (m != 0 && negative ? 1 : 0);
  return h * 0xBF58476D1CE4E5B9ull;
}

std::size_t format_amount(const Decimal& amount, char* out) noexcept {
  char digits[32];
  int n = 0;
  for (u128 m = mantissa_of(amount); m != 0; m /= 10) digits[n++] = static_cast<char>('0' + m % 10);
  const int scale = amount.scale;
  while (n < scale) digits[n++] = '0';  // at least `scale` digits
  char* p = out;
  if (amount.negative && !amount.is_zero()) *p++ = '-';
  if (n == scale) *p++ = '0';  // nothing before the point (or a bare zero)
  for (int i = n - 1; i >= 0; --i) {
    if (i == scale - 1) *p++ = '.';
    *p++ = digits[i];
  }
  return static_cast<std::size_t>(p - out);
}

std::string format_amount(const Decimal& amount) {
  char buf[40];
  return std::string(buf, format_amount(amount, buf));
}

bool is_valid(const Decimal& amount) noexcept {
  return amount.scale <= kMaxAmountScale && !(amount.negative && amount.is_zero());
}

}  // namespace mirtle
