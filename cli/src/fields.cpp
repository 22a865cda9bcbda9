#include "fields.hpp"

#include "mirtle/values.hpp"

namespace mirtle_cli {

using mirtle::DocField;

const std::array<DocAttribute, mirtle::kDocFieldCount> kDocAttributes = {{
    {"doc_number", DocValue::Text, DocField::Number},
    {"doc_type", DocValue::Text, DocField::Type},
    {"doc_date", DocValue::DocDate, DocField::Date},
    {"amount", DocValue::Amount, DocField::Amount},
    {"purpose", DocValue::Text, DocField::Purpose},
    {"payment_type", DocValue::Text, DocField::PaymentType},
    {"ordering", DocValue::Text, DocField::Ordering},
    {"counterparty_inn", DocValue::Text, DocField::PayerInn},
    {"counterparty_kpp", DocValue::Text, DocField::PayerKpp},
    {"counterparty_bic", DocValue::Text, DocField::PayerBic},
    {"counterparty_bank1", DocValue::Text, DocField::PayerBank1},
    {"counterparty_account", DocValue::Text, DocField::PayerAccount},
    {"counterparty", DocValue::Text, DocField::Payer},
    {"counterparty_1", DocValue::Text, DocField::Payer1},
    {"counterparty_ras_account", DocValue::Text, DocField::PayerRasAccount},
    {"counterparty_cor_account", DocValue::Text, DocField::PayerCorAccount},
    {"outcome_date", DocValue::OutcomeDate, DocField::OutcomeDate},
    {"payee_inn", DocValue::Text, DocField::PayeeInn},
    {"payee", DocValue::Text, DocField::Payee},
    {"payee_account", DocValue::Text, DocField::PayeeAccount},
    {"payee_kpp", DocValue::Text, DocField::PayeeKpp},
    {"payee_bic", DocValue::Text, DocField::PayeeBic},
    {"payee_bank1", DocValue::Text, DocField::PayeeBank1},
    {"payee_ras_account", DocValue::Text, DocField::PayeeRasAccount},
    {"payee_cor_account", DocValue::Text, DocField::PayeeCorAccount},
    {"income_date", DocValue::IncomeDate, DocField::IncomeDate},
    {"counterparty_2", DocValue::Text, DocField::Payer2},
    {"counterparty_3", DocValue::Text, DocField::Payer3},
    {"counterparty_4", DocValue::Text, DocField::Payer4},
    {"counterparty_bank2", DocValue::Text, DocField::PayerBank2},
    {"payee_1", DocValue::Text, DocField::Payee1},
    {"payee_2", DocValue::Text, DocField::Payee2},
    {"payee_3", DocValue::Text, DocField::Payee3},
    {"payee_4", DocValue::Text, DocField::Payee4},
    {"payee_bank2", DocValue::Text, DocField::PayeeBank2},
    {"payment_kind", DocValue::Text, DocField::PaymentKind},
    {"payment_deadline", DocValue::Text, DocField::PaymentDeadline},
    {"uin", DocValue::Text, DocField::Uin},
    {"purpose_code", DocValue::Text, DocField::PurposeCode},
    {"purpose_1", DocValue::Text, DocField::Purpose1},
    {"purpose_2", DocValue::Text, DocField::Purpose2},
    {"purpose_3", DocValue::Text, DocField::Purpose3},
    {"purpose_4", DocValue::Text, DocField::Purpose4},
    {"purpose_5", DocValue::Text, DocField::Purpose5},
    {"purpose_6", DocValue::Text, DocField::Purpose6},
    {"compiler_status", DocValue::Text, DocField::CompilerStatus},
    {"kbk", DocValue::Text, DocField::Kbk},
    {"okato", DocValue::Text, DocField::Okato},
    {"tax_basis", DocValue::Text, DocField::TaxBasis},
    {"tax_period", DocValue::Text, DocField::TaxPeriod},
    {"tax_number", DocValue::Text, DocField::TaxNumber},
    {"tax_date", DocValue::Text, DocField::TaxDate},
    {"tax_type", DocValue::Text, DocField::TaxType},
}};

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
  switch (attribute.value) {
    case DocValue::Text:
      return document.text(attribute.field);
    case DocValue::DocDate:
      return date_text(document.doc_date, scratch);
    case DocValue::Amount:
      return amount_text(document.amount, scratch);
    case DocValue::OutcomeDate:
      return optional_text(document.outcome_date, scratch, date_text);
    case DocValue::IncomeDate:
      return optional_text(document.income_date, scratch, date_text);
  }
  return std::nullopt;
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

}  // namespace mirtle_cli
