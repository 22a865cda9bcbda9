#include <bitset>
#include <cstring>
#include <new>

#include "records/builders.hpp"

namespace mirtle {

namespace {
using K = FieldKind;
}  // namespace

// Collects one section's values, then copies every text into the record's
// single buffer: one allocation per document.
class DocumentBuilder {
 public:
  // False, with `failure` set, when the pair fails the build.
  bool take(std::string_view key, std::string_view value, BuildFailure& failure) noexcept {
    const std::optional<DocField> field = find_document_field(key);
    if (!field) return true;  // keys outside the table are ignored
    const auto f = static_cast<std::size_t>(*field);
    if (set_[f]) {
      failure = BuildFailure::duplicate(fields_[f].key);
      return false;
    }
    switch (fields_[f].kind) {
      case K::Date: {
        const auto r = parse_date(value);
        if (!r) return fail_with(BuildFailure::of_value(r.error(), value), failure);
        doc_.doc_date = *r;
        break;
      }
      case K::OptionalDate: {
        const auto r = parse_optional_date(value);
        if (!r) return fail_with(BuildFailure::of_value(r.error(), value), failure);
        (*field == DocField::OutcomeDate ? doc_.outcome_date : doc_.income_date) = *r;
        break;
      }
      case K::Amount: {
        const auto r = parse_amount(value);
        if (!r) return fail_with(BuildFailure::of_value(r.error(), value), failure);
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

  bool finish(Document& out, BuildFailure& failure) {
    for (std::size_t f = 0; f < kDocFieldCount; ++f) {
      if (fields_[f].required && !set_[f]) {
        failure = BuildFailure::missing(fields_[f].key);
        return false;
      }
    }
    if (text_bytes_ >= Document::kAbsent) throw std::bad_alloc();  // spans are 32-bit
    doc_.storage_.reserve(text_bytes_);
    for (std::size_t f = 0; f < kDocFieldCount; ++f) {
      const K kind = fields_[f].kind;
      if ((kind != K::Text && kind != K::OptionalText) || !set_[f]) continue;
      doc_.spans_[f] = {static_cast<std::uint32_t>(doc_.storage_.size()),
                        static_cast<std::uint32_t>(values_[f].size())};
      doc_.storage_.append(values_[f]);
    }
    out = std::move(doc_);
    return true;
  }

 private:
  static bool fail_with(BuildFailure found, BuildFailure& failure) noexcept {
    failure = found;
    return false;
  }

  const std::array<DocFieldInfo, kDocFieldCount>& fields_ = document_fields();
  Document doc_;
  std::array<std::string_view, kDocFieldCount> values_{};
  std::bitset<kDocFieldCount> set_;
  std::size_t text_bytes_ = 0;
};

Result<Document, BuildFailure> build_document(std::span<const AttributeView> attrs,
                                              std::string_view doc_type) {
  DocumentBuilder builder;
  BuildFailure failure;
  for (const AttributeView& a : attrs)
    if (!builder.take(a.key, a.value, failure)) return fail(failure);
  if (!builder.take(keyword::kDocumentStart, doc_type, failure)) return fail(failure);
  Document doc;
  if (!builder.finish(doc, failure)) return fail(failure);
  return doc;
}

bool operator==(const Document& a, const Document& b) noexcept {
  if (a.doc_date != b.doc_date || a.outcome_date != b.outcome_date || a.income_date != b.income_date ||
      a.amount != b.amount)
    return false;
  for (std::size_t f = 0; f < kDocFieldCount; ++f)
    if (a.text(static_cast<DocField>(f)) != b.text(static_cast<DocField>(f))) return false;
  return true;
}

}  // namespace mirtle
