// Record builders: section attributes in, a record or a typed failure out.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mirtle/attrs.hpp"
#include "mirtle/records.hpp"
#include "mirtle/result.hpp"
#include "parser/attrs/key_index.hpp"

namespace mirtle {

// Why a section gave no record.  `subject` points into the attributes or
// into the vocabulary, so the failure is rendered (by `message`) before the
// section's attributes go.
struct BuildFailure {
  enum class Cause : std::uint8_t { Value, MissingField, DuplicateField };
  Cause cause = Cause::Value;
  ValueError value = ValueError::InvalidAmount;  // for Cause::Value
  std::string_view subject;  // the value read (Cause::Value), else the key

  static BuildFailure of_value(ValueError error, std::string_view text) noexcept {
    return {Cause::Value, error, text};
  }
  static BuildFailure missing(std::string_view key) noexcept { return {Cause::MissingField, {}, key}; }
  static BuildFailure duplicate(std::string_view key) noexcept { return {Cause::DuplicateField, {}, key}; }
};

// The failure text: "missing field `Номер`", a value's own text, ...
std::string message(const BuildFailure& failure);

// The balance interval of an account section.  The first failed conversion
// wins; then ДатаНачала and НачальныйОстаток must have occurred, in that order.
Result<Interval, BuildFailure> build_interval(std::span<const AttributeView> attrs);

// The document of a section; `doc_type` is added as the last pair, under the
// key СекцияДокумент.
Result<Document, BuildFailure> build_document(std::span<const AttributeView> attrs,
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
  KeyIndex index_;
};

}  // namespace mirtle
