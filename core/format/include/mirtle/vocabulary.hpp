// The words of the "1CClientBankExchange" format and of this library's
// errors, in one place: markers, account keys, the interval fields, the 53
// document fields with their kinds, encodings and the names a statement
// gives them, the limits of values, section types, parser contexts and
// error kinds.  Every text is UTF-8 and compared byte for byte.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

namespace mirtle {

// --- markers ---------------------------------------------------------------

namespace keyword {
inline constexpr std::string_view kExchange = "1CClientBankExchange";
inline constexpr std::string_view kAccountStart = "СекцияРасчСчет";
inline constexpr std::string_view kAccountEnd = "КонецРасчСчет";
// Followed by "=" and the document type; also the key of the type field.
inline constexpr std::string_view kDocumentStart = "СекцияДокумент";
inline constexpr std::string_view kDocumentEnd = "КонецДокумента";
inline constexpr std::string_view kFileEnd = "КонецФайла";
}  // namespace keyword

// `text` in windows-1251 bytes, for keywords of ASCII and the letters А..я:
// for callers that look for a marker in text not yet decoded.
template <std::size_t N>
constexpr std::array<char, N> windows1251_keyword(std::string_view text) {
  std::array<char, N> out{};
  std::size_t n = 0;
  for (std::size_t i = 0; i < text.size() && n < N; ++n) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c < 0x80) {
      out[n] = static_cast<char>(c);
      ++i;
      continue;
    }
    const unsigned code = (c & 0x1Fu) << 6 | (static_cast<unsigned char>(text[i + 1]) & 0x3Fu);
    out[n] = static_cast<char>(code - 0x410 + 0xC0);  // А (U+0410) is 0xC0
    i += 2;
  }
  return out;
}

namespace keyword_1251 {
inline constexpr auto kAccountStartBytes = windows1251_keyword<14>(keyword::kAccountStart);
inline constexpr auto kDocumentStartBytes = windows1251_keyword<14>(keyword::kDocumentStart);
// "СекцияРасчСчет" and "СекцияДокумент" in windows-1251.
inline constexpr std::string_view kAccountStart{kAccountStartBytes.data(), kAccountStartBytes.size()};
inline constexpr std::string_view kDocumentStart{kDocumentStartBytes.data(), kDocumentStartBytes.size()};
static_assert(kDocumentStartBytes[0] == '\xD1' && kDocumentStartBytes[13] == '\xF2');  // С, т
}  // namespace keyword_1251

// --- account sections -------------------------------------------------------

namespace account_key {
inline constexpr std::string_view kNumber = "РасчСчет";
inline constexpr std::string_view kDateStart = "ДатаНачала";
inline constexpr std::string_view kDateEnd = "ДатаКонца";
inline constexpr std::string_view kStartAmount = "НачальныйОстаток";
inline constexpr std::string_view kEndAmount = "КонечныйОстаток";
inline constexpr std::string_view kTotalIncome = "ВсегоПоступило";
inline constexpr std::string_view kTotalExpense = "ВсегоСписано";
}  // namespace account_key

// The six values of a balance interval, in the order callers show them.
enum class IntervalField : std::uint8_t { DateStart, DateEnd, StartAmount, EndAmount, TotalIncome, TotalExpense };
inline constexpr std::size_t kIntervalFieldCount = 6;

struct IntervalAttribute {
  std::string_view name;  // the Python module's Interval attribute, the tool's column
  std::string_view key;   // the statement key
  IntervalField field;
  bool is_date;
  bool required;
};

// Indexed by IntervalField.  Each name is a NUL-terminated literal.
inline constexpr std::array<IntervalAttribute, kIntervalFieldCount> kIntervalAttributes = {{
    {"date_start", account_key::kDateStart, IntervalField::DateStart, true, true},
    {"date_end", account_key::kDateEnd, IntervalField::DateEnd, true, false},
    {"start_amount", account_key::kStartAmount, IntervalField::StartAmount, false, true},
    {"end_amount", account_key::kEndAmount, IntervalField::EndAmount, false, false},
    {"total_income", account_key::kTotalIncome, IntervalField::TotalIncome, false, false},
    {"total_expense", account_key::kTotalExpense, IntervalField::TotalExpense, false, false},
}};

// --- document sections ------------------------------------------------------

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
  std::string_view key;  // the statement key
  FieldKind kind;
  bool required;
};

// The field table, indexed by DocField.
inline constexpr std::array<DocFieldInfo, kDocFieldCount> kDocumentFields = {{
    {"Номер", FieldKind::Text, true},
    {keyword::kDocumentStart, FieldKind::Text, true},
    {"ВидОплаты", FieldKind::OptionalText, false},
    {"Дата", FieldKind::Date, true},
    {"НазначениеПлатежа", FieldKind::Text, true},
    {"Очередность", FieldKind::OptionalText, false},
    {"Сумма", FieldKind::Amount, true},
    {"ПлательщикИНН", FieldKind::Text, true},
    {"ПлательщикКПП", FieldKind::OptionalText, false},
    {"ПлательщикБИК", FieldKind::Text, true},
    {"ПлательщикБанк1", FieldKind::Text, true},
    {"ПлательщикСчет", FieldKind::Text, true},
    {"Плательщик", FieldKind::OptionalText, false},
    {"Плательщик1", FieldKind::OptionalText, false},
    {"ДатаСписано", FieldKind::OptionalDate, false},
    {"ПлательщикРасчСчет", FieldKind::OptionalText, false},
    {"ПлательщикКорсчет", FieldKind::OptionalText, false},
    {"ПолучательИНН", FieldKind::Text, true},
    {"Получатель", FieldKind::OptionalText, false},
    {"ПолучательСчет", FieldKind::Text, true},
    {"ПолучательКПП", FieldKind::OptionalText, false},
    {"ПолучательБИК", FieldKind::Text, true},
    {"ПолучательБанк1", FieldKind::Text, true},
    {"ПолучательРасчСчет", FieldKind::OptionalText, false},
    {"ПолучательКорсчет", FieldKind::OptionalText, false},
    {"ДатаПоступило", FieldKind::OptionalDate, false},
    {"Плательщик2", FieldKind::OptionalText, false},
    {"Плательщик3", FieldKind::OptionalText, false},
    {"Плательщик4", FieldKind::OptionalText, false},
    {"ПлательщикБанк2", FieldKind::OptionalText, false},
    {"Получатель1", FieldKind::OptionalText, false},
    {"Получатель2", FieldKind::OptionalText, false},
    {"Получатель3", FieldKind::OptionalText, false},
    {"Получатель4", FieldKind::OptionalText, false},
    {"ПолучательБанк2", FieldKind::OptionalText, false},
    {"ВидПлатежа", FieldKind::OptionalText, false},
    {"СрокПлатежа", FieldKind::OptionalText, false},
    {"Код", FieldKind::OptionalText, false},
    {"КодНазПлатежа", FieldKind::OptionalText, false},
    {"НазначениеПлатежа1", FieldKind::OptionalText, false},
    {"НазначениеПлатежа2", FieldKind::OptionalText, false},
    {"НазначениеПлатежа3", FieldKind::OptionalText, false},
    {"НазначениеПлатежа4", FieldKind::OptionalText, false},
    {"НазначениеПлатежа5", FieldKind::OptionalText, false},
    {"НазначениеПлатежа6", FieldKind::OptionalText, false},
    {"СтатусСоставителя", FieldKind::OptionalText, false},
    {"ПоказательКБК", FieldKind::OptionalText, false},
    {"ОКАТО", FieldKind::OptionalText, false},
    {"ПоказательОснования", FieldKind::OptionalText, false},
    {"ПоказательПериода", FieldKind::OptionalText, false},
    {"ПоказательНомера", FieldKind::OptionalText, false},
    {"ПоказательДаты", FieldKind::OptionalText, false},
    {"ПоказательТипа", FieldKind::OptionalText, false},
}};
// The same table.  Does not allocate.
const std::array<DocFieldInfo, kDocFieldCount>& document_fields() noexcept;
// The field of a statement key (exact bytes), or nullopt for other keys.
std::optional<DocField> find_document_field(std::string_view key) noexcept;

// A field's name as callers see it: the Python module's Document attributes,
// the tool's JSON members and CSV columns.
struct DocAttribute {
  std::string_view name;
  DocField field;
};

// The 53 attributes in the order callers show them, which differs from the
// record's.  Each name is a NUL-terminated literal.
inline constexpr std::array<DocAttribute, kDocFieldCount> kDocumentAttributes = {{
    {"doc_number", DocField::Number},
    {"doc_type", DocField::Type},
    {"doc_date", DocField::Date},
    {"amount", DocField::Amount},
    {"purpose", DocField::Purpose},
    {"payment_type", DocField::PaymentType},
    {"ordering", DocField::Ordering},
    {"counterparty_inn", DocField::PayerInn},
    {"counterparty_kpp", DocField::PayerKpp},
    {"counterparty_bic", DocField::PayerBic},
    {"counterparty_bank1", DocField::PayerBank1},
    {"counterparty_account", DocField::PayerAccount},
    {"counterparty", DocField::Payer},
    {"counterparty_1", DocField::Payer1},
    {"counterparty_ras_account", DocField::PayerRasAccount},
    {"counterparty_cor_account", DocField::PayerCorAccount},
    {"outcome_date", DocField::OutcomeDate},
    {"payee_inn", DocField::PayeeInn},
    {"payee", DocField::Payee},
    {"payee_account", DocField::PayeeAccount},
    {"payee_kpp", DocField::PayeeKpp},
    {"payee_bic", DocField::PayeeBic},
    {"payee_bank1", DocField::PayeeBank1},
    {"payee_ras_account", DocField::PayeeRasAccount},
    {"payee_cor_account", DocField::PayeeCorAccount},
    {"income_date", DocField::IncomeDate},
    {"counterparty_2", DocField::Payer2},
    {"counterparty_3", DocField::Payer3},
    {"counterparty_4", DocField::Payer4},
    {"counterparty_bank2", DocField::PayerBank2},
    {"payee_1", DocField::Payee1},
    {"payee_2", DocField::Payee2},
    {"payee_3", DocField::Payee3},
    {"payee_4", DocField::Payee4},
    {"payee_bank2", DocField::PayeeBank2},
    {"payment_kind", DocField::PaymentKind},
    {"payment_deadline", DocField::PaymentDeadline},
    {"uin", DocField::Uin},
    {"purpose_code", DocField::PurposeCode},
    {"purpose_1", DocField::Purpose1},
    {"purpose_2", DocField::Purpose2},
    {"purpose_3", DocField::Purpose3},
    {"purpose_4", DocField::Purpose4},
    {"purpose_5", DocField::Purpose5},
    {"purpose_6", DocField::Purpose6},
    {"compiler_status", DocField::CompilerStatus},
    {"kbk", DocField::Kbk},
    {"okato", DocField::Okato},
    {"tax_basis", DocField::TaxBasis},
    {"tax_period", DocField::TaxPeriod},
    {"tax_number", DocField::TaxNumber},
    {"tax_date", DocField::TaxDate},
    {"tax_type", DocField::TaxType},
}};

inline const std::array<DocAttribute, kDocFieldCount>& document_attributes() noexcept { return kDocumentAttributes; }

// --- statements, sections, errors -------------------------------------------

enum class Encoding : std::uint8_t { CP1251 = 0, UTF8 = 1 };

// The header key that names a statement's encoding.
inline constexpr std::string_view kEncodingKey = "Кодировка";

// What a Кодировка value names, ASCII case ignored: "Windows",
// "Windows-1251" and "CP1251" name windows-1251; "UTF-8" and "UTF8" UTF-8;
// "DOS" and "CP866" an encoding this library reads as windows-1251 but
// never writes; anything else is unknown.
enum class NamedEncoding : std::uint8_t { Windows1251, Utf8, Dos, Unknown };
NamedEncoding named_encoding(std::string_view value) noexcept;
// The Кодировка value a written statement gives its encoding: "Windows"
// or "UTF-8".
std::string_view header_name(Encoding encoding) noexcept;
// Whether a Кодировка value names `encoding`.
bool names_encoding(std::string_view value, Encoding encoding) noexcept;

// --- limits -------------------------------------------------------------------

// The most digits after the point an amount may have.
inline constexpr unsigned kMaxAmountScale = 28;
// The characters of windows-1251 text (one per byte) that the plausibility
// check looks at: text whose start is not ordinary enough is not a statement.
inline constexpr std::size_t kPlausibilitySample = 20480;

enum class SectionType : std::uint8_t { Document = 0, Account = 1 };

// The reader's states, named in errors.  The order is part of the interface.
enum class ParserContext : std::uint8_t {
  Header,
  Document,
  Account,
  Finished,
  Init,
  ReadNextSection,
};

enum class ErrorKind : std::uint8_t {
  Syntax,
  InvalidDocument,
  Unfinished,
  NotStatement,
  EmptyInput,
};

// The line-level kinds carried by ErrorKind::Syntax, in their fixed order.
enum class SyntaxKind : std::uint8_t {
  UnexpectedSection,    // lineno, found, context
  UnexpectedAttribute,  // lineno, key, value
  UnrecognizedLine,     // lineno, line
  MissingField,         // lineno, field, context
  AccountParseError,    // lineno, message
  DocumentParseError,   // lineno, message
  HookError,            // lineno, message
};

// "cp1251", "utf-8"
std::string_view name(Encoding encoding) noexcept;
// "Document", "Account"
std::string_view name(SectionType type) noexcept;
// "header", "document", "account", "finished", "init", "read_next_section"
std::string_view name(ParserContext context) noexcept;
// "Syntax", "InvalidDocument", "Unfinished", "NotStatement", "EmptyInput"
std::string_view name(ErrorKind kind) noexcept;
// "UnexpectedSection", "UnexpectedAttribute", "UnrecognizedLine",
// "MissingField", "AccountParseError", "DocumentParseError", "HookError"
std::string_view name(SyntaxKind kind) noexcept;

}  // namespace mirtle
