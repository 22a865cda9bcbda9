#include <algorithm>
#include <unordered_map>

#include "records/builders.hpp"

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

// Per-account filing state.  Intervals are appended in filing order and
// stably sorted by start date at the end, which gives the same order as
// inserting each one after the run of equal starts.  Repeats are found by a
// scan while an account has few intervals, by a hash of the value beyond.
struct AccountBook::Filing {
  static constexpr std::size_t kScanLimit = 16;
  bool sorted = true;
  std::unique_ptr<std::unordered_multimap<std::uint64_t, std::uint32_t>> by_value;
};

AccountBook::AccountBook() = default;
AccountBook::~AccountBook() = default;
AccountBook::AccountBook(AccountBook&&) noexcept = default;
AccountBook& AccountBook::operator=(AccountBook&&) noexcept = default;

void AccountBook::add_interval(std::string_view number, Interval interval) {
  auto key_at = [this](std::uint32_t i) { return std::string_view(accounts_[i].number); };
  std::int64_t pos = -1;
  if (index_.active()) {
    pos = index_.find(number, key_at);
  } else {
    for (std::size_t i = 0; i < accounts_.size(); ++i)
      if (accounts_[i].number == number) {
        pos = static_cast<std::int64_t>(i);
        break;
      }
  }
  if (pos < 0) {
    accounts_.push_back(Account{std::string(number), {}});
    accounts_.back().intervals.push_back(interval);
    filings_.emplace_back();
    const auto last = static_cast<std::uint32_t>(accounts_.size() - 1);
    if (index_.active())
      index_.insert(number, last, key_at);
    else if (accounts_.size() > KeyIndex::kLinearLimit)
      index_.build(accounts_.size(), key_at);
    return;
  }

  Account& account = accounts_[static_cast<std::size_t>(pos)];
  Filing& filing = filings_[static_cast<std::size_t>(pos)];
  std::vector<Interval>& intervals = account.intervals;
  const std::uint64_t hash = interval.value_hash();
  if (filing.by_value) {
    auto [first, last] = filing.by_value->equal_range(hash);
    for (auto it = first; it != last; ++it)
      if (intervals[it->second].same_value(interval)) return;
  } else {
    for (const Interval& kept : intervals)
      if (kept.same_value(interval)) return;
  }
  if (interval.date_start < intervals.back().date_start) filing.sorted = false;
  intervals.push_back(interval);
  if (filing.by_value) {
    filing.by_value->emplace(hash, static_cast<std::uint32_t>(intervals.size() - 1));
  } else if (intervals.size() > Filing::kScanLimit) {
    filing.by_value = std::make_unique<std::unordered_multimap<std::uint64_t, std::uint32_t>>();
    for (std::uint32_t i = 0; i < intervals.size(); ++i) filing.by_value->emplace(intervals[i].value_hash(), i);
  }
}

std::vector<Account> AccountBook::finish() {
  for (std::size_t i = 0; i < accounts_.size(); ++i) {
    if (filings_[i].sorted) continue;
    std::stable_sort(accounts_[i].intervals.begin(), accounts_[i].intervals.end(),
                     [](const Interval& a, const Interval& b) { return a.date_start < b.date_start; });
  }
  filings_.clear();
  index_.clear();
  return std::move(accounts_);
}

}  // namespace mirtle
