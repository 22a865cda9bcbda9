#include "mirtle/vocabulary.hpp"

#include <cstring>

namespace mirtle {

namespace {

using K = FieldKind;

constexpr std::array<DocFieldInfo, kDocFieldCount> kFields = {{
    {"Номер", K::Text, true},
    {keyword::kDocumentStart, K::Text, true},
    {"ВидОплаты", K::OptionalText, false},
    {"Дата", K::Date, true},
    {"НазначениеПлатежа", K::Text, true},
    {"Очередность", K::OptionalText, false},
    {"Сумма", K::Amount, true},
    {"ПлательщикИНН", K::Text, true},
    {"ПлательщикКПП", K::OptionalText, false},
    {"ПлательщикБИК", K::Text, true},
    {"ПлательщикБанк1", K::Text, true},
    {"ПлательщикСчет", K::Text, true},
    {"Плательщик", K::OptionalText, false},
    {"Плательщик1", K::OptionalText, false},
    {"ДатаСписано", K::OptionalDate, false},
    {"ПлательщикРасчСчет", K::OptionalText, false},
    {"ПлательщикКорсчет", K::OptionalText, false},
    {"ПолучательИНН", K::Text, true},
    {"Получатель", K::OptionalText, false},
    {"ПолучательСчет", K::Text, true},
    {"ПолучательКПП", K::OptionalText, false},
    {"ПолучательБИК", K::Text, true},
    {"ПолучательБанк1", K::Text, true},
    {"ПолучательРасчСчет", K::OptionalText, false},
    {"ПолучательКорсчет", K::OptionalText, false},
    {"ДатаПоступило", K::OptionalDate, false},
    {"Плательщик2", K::OptionalText, false},
    {"Плательщик3", K::OptionalText, false},
    {"Плательщик4", K::OptionalText, false},
    {"ПлательщикБанк2", K::OptionalText, false},
    {"Получатель1", K::OptionalText, false},
    {"Получатель2", K::OptionalText, false},
    {"Получатель3", K::OptionalText, false},
    {"Получатель4", K::OptionalText, false},
    {"ПолучательБанк2", K::OptionalText, false},
    {"ВидПлатежа", K::OptionalText, false},
    {"СрокПлатежа", K::OptionalText, false},
    {"Код", K::OptionalText, false},
    {"КодНазПлатежа", K::OptionalText, false},
    {"НазначениеПлатежа1", K::OptionalText, false},
    {"НазначениеПлатежа2", K::OptionalText, false},
    {"НазначениеПлатежа3", K::OptionalText, false},
    {"НазначениеПлатежа4", K::OptionalText, false},
    {"НазначениеПлатежа5", K::OptionalText, false},
    {"НазначениеПлатежа6", K::OptionalText, false},
    {"СтатусСоставителя", K::OptionalText, false},
    {"ПоказательКБК", K::OptionalText, false},
    {"ОКАТО", K::OptionalText, false},
    {"ПоказательОснования", K::OptionalText, false},
    {"ПоказательПериода", K::OptionalText, false},
    {"ПоказательНомера", K::OptionalText, false},
    {"ПоказательДаты", K::OptionalText, false},
    {"ПоказательТипа", K::OptionalText, false},
}};

// Keys differ mostly in their length and last bytes ("Плательщик1" and
// "Плательщик2", "ПлательщикИНН" and "ПлательщикКПП"): hash those.
constexpr std::size_t kSlots = 256;

constexpr std::uint32_t key_hash(std::string_view key) noexcept {
  std::uint32_t h = static_cast<std::uint32_t>(key.size()) * 0x9E3779B1u;
  const std::size_t n = key.size() < 4 ? key.size() : 4;
  for (std::size_t i = key.size() - n; i < key.size(); ++i)
    h = (h ^ static_cast<unsigned char>(key[i])) * 0x01000193u;
  return h ^ (h >> 15);
}

constexpr std::array<std::uint8_t, kSlots> make_slots() {
  std::array<std::uint8_t, kSlots> slots{};  // field + 1, 0 for empty
  for (std::size_t f = 0; f < kDocFieldCount; ++f) {
    std::size_t i = key_hash(kFields[f].key) % kSlots;
    while (slots[i] != 0) i = (i + 1) % kSlots;
    slots[i] = static_cast<std::uint8_t>(f + 1);
  }
  return slots;
}
constexpr std::array<std::uint8_t, kSlots> kSlotTable = make_slots();

}  // namespace

const std::array<DocFieldInfo, kDocFieldCount>& document_fields() noexcept { return kFields; }

std::optional<DocField> find_document_field(std::string_view key) noexcept {
  if (key.empty()) return std::nullopt;
  for (std::size_t i = key_hash(key) % kSlots;; i = (i + 1) % kSlots) {
    const std::uint8_t slot = kSlotTable[i];
    if (slot == 0) return std::nullopt;
    const std::string_view candidate = kFields[slot - 1].key;
    if (candidate.size() == key.size() && std::memcmp(candidate.data(), key.data(), key.size()) == 0)
      return static_cast<DocField>(slot - 1);
  }
}

namespace {

template <typename Enum, std::size_t N>
std::string_view name_in(const std::array<std::string_view, N>& names, Enum value) noexcept {
  const auto i = static_cast<std::size_t>(value);
  return i < N ? names[i] : std::string_view();
}

}  // namespace

std::string_view name(Encoding encoding) noexcept {
  static constexpr std::array<std::string_view, 2> kNames = {"cp1251", "utf-8"};
  return name_in(kNames, encoding);
}

std::string_view name(SectionType type) noexcept {
  static constexpr std::array<std::string_view, 2> kNames = {"Document", "Account"};
  return name_in(kNames, type);
}

std::string_view name(ParserContext context) noexcept {
  static constexpr std::array<std::string_view, 6> kNames = {"header", "document", "account",
                                                             "finished", "init", "read_next_section"};
  return name_in(kNames, context);
}

std::string_view name(ErrorKind kind) noexcept {
  static constexpr std::array<std::string_view, 5> kNames = {"Syntax", "InvalidDocument", "Unfinished",
                                                             "NotStatement", "EmptyInput"};
  return name_in(kNames, kind);
}

std::string_view name(SyntaxKind kind) noexcept {
  static constexpr std::array<std::string_view, 7> kNames = {
      "UnexpectedSection", "UnexpectedAttribute", "UnrecognizedLine", "MissingField",
      "AccountParseError", "DocumentParseError", "HookError"};
  return name_in(kNames, kind);
}

}  // namespace mirtle
