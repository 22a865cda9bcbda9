// Exact decimal sums of amounts: a 256-bit magnitude, a sign and a scale.
// An amount's 96-bit mantissa at scale 28 is below 2^190, so sums of up to
// 2^60 amounts fit with room to spare.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

#include "mirtle/values.hpp"

namespace mirtle::exporting {

class ExactDecimal {
 public:
  ExactDecimal() = default;
  explicit ExactDecimal(const Decimal& d) noexcept : scale_(d.scale), negative_(d.negative) {
    limbs_[0] = d.lo;
    limbs_[1] = d.hi;
  }

  unsigned scale() const noexcept { return scale_; }

  ExactDecimal& operator+=(const ExactDecimal& other) noexcept {
    ExactDecimal b = other;
    align(*this, b);
    if (negative_ == b.negative_) {
      add_magnitude(b);
    } else if (compare_magnitude(b) >= 0) {
      subtract_magnitude(b);
    } else {
      b.subtract_magnitude(*this);
      *this = b;
    }
    if (is_zero()) negative_ = false;
    return *this;
  }
  ExactDecimal& operator-=(const ExactDecimal& other) noexcept {
    ExactDecimal b = other;
    if (!b.is_zero()) b.negative_ = !b.negative_;
    return *this += b;
  }
  friend ExactDecimal operator+(ExactDecimal a, const ExactDecimal& b) noexcept { return a += b; }
  friend ExactDecimal operator-(ExactDecimal a, const ExactDecimal& b) noexcept { return a -= b; }

  // Equality of value: 100 == 100.00.
  friend bool same_value(ExactDecimal a, ExactDecimal b) noexcept {
    align(a, b);
    return a.negative_ == b.negative_ && a.limbs_ == b.limbs_;
  }

  // The value as an amount at this scale; none when its mantissa does not
  // fit in 96 bits.
  std::optional<Decimal> to_decimal() const noexcept {
    if (limbs_[2] != 0 || limbs_[3] != 0 || limbs_[1] > UINT32_MAX) return std::nullopt;
    return Decimal{limbs_[0], static_cast<std::uint32_t>(limbs_[1]), static_cast<std::uint8_t>(scale_), negative_};
  }

 private:
  bool is_zero() const noexcept { return (limbs_[0] | limbs_[1] | limbs_[2] | limbs_[3]) == 0; }

  // Both at the larger scale (at most 28, so the magnitude stays in range).
  static void align(ExactDecimal& a, ExactDecimal& b) noexcept {
    while (a.scale_ < b.scale_) a.times_ten();
    while (b.scale_ < a.scale_) b.times_ten();
  }

  void times_ten() noexcept {
    unsigned __int128 carry = 0;
    for (std::uint64_t& limb : limbs_) {
      const unsigned __int128 v = static_cast<unsigned __int128>(limb) * 10 + carry;
      limb = static_cast<std::uint64_t>(v);
      carry = v >> 64;
    }
    ++scale_;
  }

  int compare_magnitude(const ExactDecimal& b) const noexcept {
    for (std::size_t i = limbs_.size(); i-- > 0;)
      if (limbs_[i] != b.limbs_[i]) return limbs_[i] < b.limbs_[i] ? -1 : 1;
    return 0;
  }

  void add_magnitude(const ExactDecimal& b) noexcept {
    unsigned __int128 carry = 0;
    for (std::size_t i = 0; i < limbs_.size(); ++i) {
      const unsigned __int128 v = static_cast<unsigned __int128>(limbs_[i]) + b.limbs_[i] + carry;
      limbs_[i] = static_cast<std::uint64_t>(v);
      carry = v >> 64;
    }
  }

  // |this| >= |b|.
  void subtract_magnitude(const ExactDecimal& b) noexcept {
    std::uint64_t borrow = 0;
    for (std::size_t i = 0; i < limbs_.size(); ++i) {
      const std::uint64_t x = limbs_[i], y = b.limbs_[i];
      const std::uint64_t d = x - y - borrow;
      borrow = (x < y || (x == y && borrow != 0)) ? 1 : 0;
      limbs_[i] = d;
    }
  }

  std::array<std::uint64_t, 4> limbs_{};  // little-endian magnitude
  unsigned scale_ = 0;                    // 0..28
  bool negative_ = false;                 // never set for zero
};

}  // namespace mirtle::exporting
