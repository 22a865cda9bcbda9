#include <bit>
#include <cstdint>
#include <cstring>
#include <new>

#include "records/builders.hpp"

namespace mirtle {

namespace {
using K = FieldKind;

static_assert(kDocFieldCount <= 64, "one bit per field");

// One bit per field: the required ones, and those kept as text.
struct FieldMasks {
  std::uint64_t required = 0;
  std::uint64_t text = 0;
};

FieldMasks make_field_masks() noexcept {
  FieldMasks m;
  for (std::size_t f = 0; f < kDocFieldCount; ++f) {
    const DocFieldInfo& info = document_fields()[f];
    if (info.required) m.required |= std::uint64_t{1} << f;
    if (info.kind == K::Text || info.kind == K::OptionalText) m.text |= std::uint64_t{1} << f;
  }
  return m;
}
// Set once, before main: the field table is a constant.
const FieldMasks kMasks = make_field_masks();
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
    if ((set_ >> f & 1) != 0) {
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
    set_ |= std::uint64_t{1} << f;
    return true;
  }

  bool finish(Document& out, BuildFailure& failure) {
    if (const std::uint64_t missing = kMasks.required & ~set_; missing != 0) {
      failure = BuildFailure::missing(fields_[static_cast<std::size_t>(std::countr_zero(missing))].key);
      return false;
    }
    if (text_bytes_ >= Document::kAbsent) throw std::bad_alloc();  // spans are 32-bit
    // Sized once, then filled in field order: no growth, no per-field checks.
    doc_.storage_.resize(text_bytes_);
    char* const storage = doc_.storage_.data();
    std::uint32_t offset = 0;
    for (std::uint64_t texts = kMasks.text & set_; texts != 0; texts &= texts - 1) {
      const auto f = static_cast<std::size_t>(std::countr_zero(texts));
      const auto length = static_cast<std::uint32_t>(values_[f].size());
      doc_.spans_[f] = {offset, length};
      if (length != 0) std::memcpy(storage + offset, values_[f].data(), length);
      offset += length;
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
  std::uint64_t set_ = 0;  // bit f: field f taken
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
