#include "fields.hpp"

#include "mirtle/values.hpp"

namespace mirtle::exporting {

using mirtle::DocField;

namespace {

std::string_view date_text(const mirtle::Date& date, ValueScratch& scratch) noexcept {
  return {scratch.data(), mirtle::format_date(date, scratch.data())};
}

std::string_view amount_text(const mirtle::Decimal& amount, ValueScratch& scratch) noexcept {
  return {scratch.data(), mirtle::format_amount(amount, scratch.data())};
}

template <typename T, typename Format>
std::optional<std::string_view> optional_text(const std::optional<T>& value, ValueScratch& scratch,
                                              Format format) noexcept {
  if (!value) return std::nullopt;
  return format(*value, scratch);
}

}  // namespace

std::optional<std::string_view> attribute_text(const mirtle::Document& document, const DocAttribute& attribute,
                                               ValueScratch& scratch) noexcept {
  switch (attribute.field) {
    case DocField::Date: return date_text(document.doc_date, scratch);
    case DocField::Amount: return amount_text(document.amount, scratch);
    case DocField::OutcomeDate: return optional_text(document.outcome_date, scratch, date_text);
    case DocField::IncomeDate: return optional_text(document.income_date, scratch, date_text);
    default: return document.text(attribute.field);
  }
}

std::array<std::optional<std::string_view>, 6> interval_texts(const mirtle::Interval& interval,
                                                             std::array<ValueScratch, 6>& scratch) noexcept {
  return {
      date_text(interval.date_start, scratch[0]),
      optional_text(interval.date_end, scratch[1], date_text),
      amount_text(interval.start_amount, scratch[2]),
      optional_text(interval.end_amount, scratch[3], amount_text),
      optional_text(interval.total_income, scratch[4], amount_text),
      optional_text(interval.total_expense, scratch[5], amount_text),
  };
}

}  // namespace mirtle::exporting
