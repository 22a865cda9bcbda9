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
  std::uint64_t value_hash() const noexcept;
  // Equality of every field as written (scale included).
  bool identical(const Interval& other) const noexcept;
};

struct Account {
  std::string number;
  std::vector<Interval> intervals;  // sorted by date_start, stable
};

// The 53 document fields in the record's own order (the order in which a
// missing key is looked for).
enum class DocField : std::uint8_t {
  Number, Type, PaymentType, Date, Purpose, Ordering, Amount,
  PayerInn, PayerKpp, PayerBic, PayerBank1, PayerAccount, Payer, Payer1,
  OutcomeDate, PayerRasAccount, PayerCorAccount,
  PayeeInn, Payee, PayeeAccount, PayeeKpp, PayeeBic, PayeeBank1,
  PayeeRasAccount, PayeeCorAccount, IncomeDate,
  Payer2, Payer3, Payer4, PayerBank2,
  Payee1, Payee2, Payee3, Payee4, PayeeBank2,
  PaymentKind, PaymentDeadline, Uin, PurposeCode,
  Purpose1, Purpose2, Purpose3, Purpose4, Purpose5, Purpose6,
  CompilerStatus, Kbk, Okato, TaxBasis, TaxPeriod, TaxNumber, TaxDate, TaxType,
};
inline constexpr std::size_t kDocFieldCount = 53;

enum class FieldKind : std::uint8_t { Text, OptionalText, Date, OptionalDate, Amount };

struct DocFieldInfo {
  std::string_view key;  // the statement key, UTF-8
  FieldKind kind;
  bool required;
};

// The field table, indexed by DocField.
const std::array<DocFieldInfo, kDocFieldCount>& document_fields() noexcept;
// The field of a statement key (exact bytes), or nullopt for other keys.
std::optional<DocField> find_document_field(std::string_view key) noexcept;

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

  bool identical(const Document& other) const noexcept;

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
