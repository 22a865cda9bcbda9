#include <bitset>
#include <cstring>
#include <new>

#include "records/builders.hpp"

namespace mirtle {

namespace {

using K = FieldKind;

constexpr std::array<DocFieldInfo, kDocFieldCount> kFields = {{
    {"Номер", K::Text, true},
    {"СекцияДокумент", K::Text, true},
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

constexpr std::string_view kTypeKey = "СекцияДокумент";

std::string quoted_field_text(std::string_view words, std::string_view key) {
  std::string text(words);
  text += " `";
  text += key;
  text += '`';
  return text;
}

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

// Collects one section's values, then copies every text into the record's
// single buffer: one allocation per document.
class DocumentBuilder {
 public:
  // False, with the failure text set, when the pair fails the build.
  bool take(std::string_view key, std::string_view value, std::string& failure) {
    const std::optional<DocField> field = find_document_field(key);
    if (!field) return true;  // keys outside the table are ignored
    const auto f = static_cast<std::size_t>(*field);
    if (set_[f]) {
      failure = quoted_field_text("duplicate field", kFields[f].key);
      return false;
    }
    switch (kFields[f].kind) {
      case K::Date: {
        auto r = parse_date(value);
        if (!r) return fail_with(std::move(r).error(), failure);
        doc_.doc_date = *r;
        break;
      }
      case K::OptionalDate: {
        auto r = parse_optional_date(value);
        if (!r) return fail_with(std::move(r).error(), failure);
        (*field == DocField::OutcomeDate ? doc_.outcome_date : doc_.income_date) = *r;
        break;
      }
      case K::Amount: {
        auto r = parse_amount(value);
        if (!r) return fail_with(std::move(r).error(), failure);
        doc_.amount = *r;
        break;
      }
      case K::Text:
      case K::OptionalText:
        values_[f] = value;
        text_bytes_ += value.size();
        break;
    }
    set_[f] = true;
    return true;
  }

  bool finish(Document& out, std::string& failure) {
    for (std::size_t f = 0; f < kDocFieldCount; ++f) {
      if (kFields[f].required && !set_[f]) {
        failure = quoted_field_text("missing field", kFields[f].key);
        return false;
      }
    }
    if (text_bytes_ >= Document::kAbsent) throw std::bad_alloc();  // spans are 32-bit
    doc_.storage_.reserve(text_bytes_);
    for (std::size_t f = 0; f < kDocFieldCount; ++f) {
      const K kind = kFields[f].kind;
      if ((kind != K::Text && kind != K::OptionalText) || !set_[f]) continue;
      doc_.spans_[f] = {static_cast<std::uint32_t>(doc_.storage_.size()),
                        static_cast<std::uint32_t>(values_[f].size())};
      doc_.storage_.append(values_[f]);
    }
    out = std::move(doc_);
    return true;
  }

 private:
  static bool fail_with(std::string&& text, std::string& failure) {
    failure = std::move(text);
    return false;
  }

  Document doc_;
  std::array<std::string_view, kDocFieldCount> values_{};
  std::bitset<kDocFieldCount> set_;
  std::size_t text_bytes_ = 0;
};

Result<Document, std::string> build_document(std::span<const AttributeView> attrs,
                                             std::string_view doc_type) {
  DocumentBuilder builder;
  std::string failure;
  for (const AttributeView& a : attrs)
    if (!builder.take(a.key, a.value, failure)) return fail(std::move(failure));
  if (!builder.take(kTypeKey, doc_type, failure)) return fail(std::move(failure));
  Document doc;
  if (!builder.finish(doc, failure)) return fail(std::move(failure));
  return doc;
}

bool Document::identical(const Document& o) const noexcept {
  auto same_amount = [](const Decimal& a, const Decimal& b) {
    return a.lo == b.lo && a.hi == b.hi && a.scale == b.scale && a.negative == b.negative;
  };
  if (doc_date != o.doc_date || outcome_date != o.outcome_date || income_date != o.income_date ||
      !same_amount(amount, o.amount))
    return false;
  for (std::size_t f = 0; f < kDocFieldCount; ++f)
    if (text(static_cast<DocField>(f)) != o.text(static_cast<DocField>(f))) return false;
  return true;
}

}  // namespace mirtle
