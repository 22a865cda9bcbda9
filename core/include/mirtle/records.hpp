// The records a parse produces: balance intervals, accounts, documents.
// Records own all their texts; nothing in them points into the input.
#pragma once

#include <array>
#include <cstdint>
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

// One payment document.  Its texts live in one owned buffer.
class Document {
 public:
  Date doc_date{};
  std::optional<Date> outcome_date;
  std::optional<Date> income_date;
  Decimal amount;

  // The text of a text field; nullopt when an optional field is absent.
  std::optional<std::string_view> text(DocField field) const noexcept {
    const Span s = spans_[static_cast<std::size_t>(field)];
    if (s.length == kAbsent) return std::nullopt;
    return std::string_view(storage_.data() + s.offset, s.length);
  }

  // Equality of every field, amounts as written.
  friend bool operator==(const Document& a, const Document& b) noexcept;

 private:
  friend class DocumentBuilder;
  static constexpr std::uint32_t kAbsent = UINT32_MAX;
  struct Span {
    std::uint32_t offset = 0;
    std::uint32_t length = kAbsent;
  };
  std::string storage_;
  std::array<Span, kDocFieldCount> spans_{};
};

}  // namespace mirtle
