// The records a parse produces: balance intervals, accounts, documents.
// Records own all their texts; nothing in them points into the input.
#pragma once

#include <array>
#include <bit>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "mirtle/values.hpp"
#include "mirtle/vocabulary.hpp"

namespace mirtle {

// The balance of one account over one period.
struct Interval {
  Date date_start;
  std::optional<Date> date_end;
  Decimal start_amount;
  std::optional<Decimal> end_amount;
  std::optional<Decimal> total_income;
  std::optional<Decimal> total_expense;

  // Equality used to drop repeats: amounts compare by value.
  bool same_value(const Interval& other) const noexcept;
  // A hash consistent with same_value.
  std::uint64_t value_hash() const noexcept;

  // Equality of every field as written (scale included).
  friend bool operator==(const Interval&, const Interval&) = default;
};

struct Account {
  std::string number;
  std::vector<Interval> intervals;  // sorted by date_start, stable

  friend bool operator==(const Account&, const Account&) = default;
};

// One payment document.  Its texts are owned with those of the documents
// read before and after it: documents share blocks of text, each freed with
// the last document (or copy) that holds it.
class Document {
 public:
  Date doc_date{};
  std::optional<Date> outcome_date;
  std::optional<Date> income_date;
  Decimal amount;

  // The text of a text field; nullopt when an optional field is absent.
  std::optional<std::string_view> text(DocField field) const noexcept {
    const auto f = static_cast<unsigned>(field);
    if ((present_ >> f & 1) == 0) return std::nullopt;
    // Texts are stored in field order, so one starts where the last present
    // field before it ends.
    const std::uint64_t before = present_ & ((std::uint64_t{1} << f) - 1);
    const std::uint32_t start = before == 0 ? 0 : ends_[63 - static_cast<unsigned>(std::countl_zero(before))];
    return std::string_view(texts_ + start, ends_[f] - start);
  }

  // The bytes of all its texts together.
  std::size_t text_bytes() const noexcept {
    return present_ == 0 ? 0 : ends_[63 - static_cast<unsigned>(std::countl_zero(present_))];
  }

  // Equality of every field, amounts as written.
  friend bool operator==(const Document& a, const Document& b) noexcept;

 private:
  friend class DocumentBuilder;
  // The texts' bytes together stay below this: their ends are 32-bit.
  static constexpr std::size_t kTextLimit = UINT32_MAX;

  std::shared_ptr<const char[]> block_;  // owns the bytes at texts_
  const char* texts_ = nullptr;          // every present text, in field order
  std::uint64_t present_ = 0;            // bit f: text field f is present
  // The end of each present text after texts_; the others are not read.
  // Half the size of offset and length pairs (a document: 296 bytes, not
  // 496): documents are moved into their statement's vector as it grows,
  // and that growth was a third of a parse.
  std::array<std::uint32_t, kDocFieldCount> ends_{};
};

}  // namespace mirtle
