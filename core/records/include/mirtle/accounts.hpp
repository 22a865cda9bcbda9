// The account book: balance intervals filed into accounts exactly as a
// parse files them, for callers that receive intervals one at a time from
// a RecordSink.
#pragma once

#include <memory>
#include <string_view>
#include <vector>

#include "mirtle/records.hpp"

namespace mirtle {

// The accounts of a statement, in order of each number's first section,
// each with its intervals sorted by start date (stable) and exact repeats
// dropped.
class AccountBook {
 public:
  AccountBook();
  ~AccountBook();
  AccountBook(AccountBook&&) noexcept;
  AccountBook& operator=(AccountBook&&) noexcept;

  void add_interval(std::string_view number, Interval interval);
  // Hands over the accounts; the book is empty afterwards.
  std::vector<Account> finish();

 private:
  struct Shelves;
  std::unique_ptr<Shelves> shelves_;
};

}  // namespace mirtle
