
#include "builders.hpp"

namespace mirtle {

namespace {

using namespace account_key;

template <typename T>
bool same_optional(const std::optional<T>& a, const std::optional<T>& b) noexcept {
  if (a.has_value() != b.has_value()) return false;
  return !a || a->same_value(*b);
}

std::uint64_t mix(std::uint64_t h, std::uint64_t v) noexcept {
  return (h ^ (v + 0x9E3779B97F4A7C15ull + (h << 6) + (h >> 2))) * 0xFF51AFD7ED558CCDull;
}

std::uint64_t date_bits(const Date& d) noexcept {
  return (static_cast<std::uint64_t>(static_cast<std::uint32_t>(d.year)) << 16) |
         (static_cast<std::uint64_t>(d.month) << 8) | d.day;
}

}  // namespace

bool Interval::same_value(const Interval& o) const noexcept {
  if (date_start != o.date_start || date_end != o.date_end) return false;
  return start_amount.same_value(o.start_amount) && same_optional(end_amount, o.end_amount) &&
         same_optional(total_income, o.total_income) && same_optional(total_expense, o.total_expense);
}

std::uint64_t Interval::value_hash() const noexcept {
  std::uint64_t h = mix(0, date_bits(date_start));
  h = mix(h, date_end ? date_bits(*date_end) + 1 : 0);
  h = mix(h, start_amount.value_hash());
  for (const std::optional<Decimal>* a : {&end_amount, &total_income, &total_expense})
    h = mix(h, *a ? (*a)->value_hash() + 1 : 0);
  return h;
}

Result<Interval, BuildFailure> build_interval(std::span<const AttributeView> attrs) {
  Interval interval{};
  bool has_start = false, has_start_amount = false;
  for (const AttributeView& a : attrs) {
    if (a.key == kDateStart) {
      auto r = parse_date(a.value);
      if (!r) return fail(BuildFailure::of_value(r.error(), a.value));
      interval.date_start = *r;
      has_start = true;
    } else if (a.key == kDateEnd) {
      auto r = parse_optional_date(a.value);
      if (!r) return fail(BuildFailure::of_value(r.error(), a.value));
      interval.date_end = *r;
    } else if (a.key == kStartAmount || a.key == kEndAmount || a.key == kTotalIncome || a.key == kTotalExpense) {
      auto r = parse_amount(a.value);
      if (!r) return fail(BuildFailure::of_value(r.error(), a.value));
      if (a.key == kStartAmount) {
        interval.start_amount = *r;
        has_start_amount = true;
      } else if (a.key == kEndAmount) {
        interval.end_amount = *r;
      } else if (a.key == kTotalIncome) {
        interval.total_income = *r;
      } else {
        interval.total_expense = *r;
      }
    }
  }
  if (!has_start) return fail(BuildFailure::missing(kDateStart));
  if (!has_start_amount) return fail(BuildFailure::missing(kStartAmount));
  return interval;
}

}  // namespace mirtle
