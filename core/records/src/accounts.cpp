// Files balance intervals into accounts as a parse does.
#include "mirtle/accounts.hpp"

#include <algorithm>
#include <memory>
#include <unordered_map>

#include "key_index.hpp"

namespace mirtle {

namespace {

// Per-account filing state.  Intervals are appended in filing order and
// stably sorted by start date at the end, which gives the same order as
// inserting each one after the run of equal starts.  Repeats are found by a
// scan while an account has few intervals, by a hash of the value beyond.
struct Filing {
  // Accounts hold one interval per period, a dozen a year; a hostile file
  // with thousands meets the hash.  The scan stays the cheaper side up to
  // here (bench_core limits/intervals).
  static constexpr std::size_t kScanLimit = 16;
  bool sorted = true;
  std::unique_ptr<std::unordered_multimap<std::uint64_t, std::uint32_t>> by_value;
};

}  // namespace

struct AccountBook::Shelves {
  std::vector<Account> accounts;
  std::vector<Filing> filings;  // parallel to accounts
  KeyIndex index;
};

AccountBook::AccountBook() : shelves_(std::make_unique<Shelves>()) {}
AccountBook::~AccountBook() = default;
AccountBook::AccountBook(AccountBook&&) noexcept = default;
AccountBook& AccountBook::operator=(AccountBook&&) noexcept = default;

void AccountBook::add_interval(std::string_view number, Interval interval) {
  std::vector<Account>& accounts = shelves_->accounts;
  std::vector<Filing>& filings = shelves_->filings;
  KeyIndex& index = shelves_->index;
  auto key_at = [&accounts](std::uint32_t i) { return std::string_view(accounts[i].number); };
  std::int64_t pos = -1;
  if (index.active()) {
    pos = index.find(number, key_at);
  } else {
    for (std::size_t i = 0; i < accounts.size(); ++i)
      if (accounts[i].number == number) {
        pos = static_cast<std::int64_t>(i);
        break;
      }
  }
  if (pos < 0) {
    accounts.push_back(Account{std::string(number), {}});
    accounts.back().intervals.push_back(interval);
    filings.emplace_back();
    const auto last = static_cast<std::uint32_t>(accounts.size() - 1);
    if (index.active())
      index.insert(number, last, key_at);
    else if (accounts.size() > KeyIndex::kLinearLimit)
      index.build(accounts.size(), key_at);
    return;
  }

  Account& account = accounts[static_cast<std::size_t>(pos)];
  Filing& filing = filings[static_cast<std::size_t>(pos)];
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
  std::vector<Account>& accounts = shelves_->accounts;
  std::vector<Filing>& filings = shelves_->filings;
  KeyIndex& index = shelves_->index;
  for (std::size_t i = 0; i < accounts.size(); ++i) {
    if (filings[i].sorted) continue;
    std::stable_sort(accounts[i].intervals.begin(), accounts[i].intervals.end(),
                     [](const Interval& a, const Interval& b) { return a.date_start < b.date_start; });
  }
  filings.clear();
  index.clear();
  return std::move(accounts);
}

}  // namespace mirtle
