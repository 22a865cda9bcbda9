// Record builders: section attributes in, a record or a failure text out.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mirtle/attrs.hpp"
#include "mirtle/records.hpp"
#include "mirtle/result.hpp"

namespace mirtle {

// The balance interval of an account section.  The first failed conversion
// wins; then ДатаНачала and НачальныйОстаток must have occurred, in that order.
Result<Interval, std::string> build_interval(std::span<const AttributeView> attrs);

// The document of a section; `doc_type` is added as the last pair, under the
// key СекцияДокумент.
Result<Document, std::string> build_document(std::span<const AttributeView> attrs,
                                             std::string_view doc_type);

// The accounts of a statement, in order of each number's first section,
// each with its intervals sorted by start date and exact repeats dropped.
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
  struct Filing;
  std::vector<Account> accounts_;
  std::vector<Filing> filings_;  // parallel to accounts_
  detail::KeyIndex index_;
};

}  // namespace mirtle
