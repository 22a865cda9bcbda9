#include <bit>
#include <cstdint>
#include <cstring>
#include <new>

#include "builders.hpp"

namespace mirtle {

namespace {
using K = FieldKind;

static_assert(kDocFieldCount <= 64, "one bit per field");

// One bit per required field.
std::uint64_t make_required_mask() noexcept {
  std::uint64_t required = 0;
  for (std::size_t f = 0; f < kDocFieldCount; ++f)
    if (document_fields()[f].required) required |= std::uint64_t{1} << f;
  return required;
}
// Set once, before main: the field table is a constant.
const std::uint64_t kRequiredFields = make_required_mask();
// The fields kept as text: all but the typed ones.
constexpr std::uint64_t kTextFields = ((std::uint64_t{1} << kDocFieldCount) - 1) & ~kTypedFields;

// Copies `n` bytes, reading and writing none outside them.  Values up to
// 64 bytes (numbers, dates, codes, names) are copied with two overlapping
// moves of the largest size that fits; memcpy's call and its own size
// tests cost more there.
inline void copy_value(char* to, const char* from, std::size_t n) noexcept {
  auto move_ends = [&]<std::size_t kSize>() {
    char head[kSize], tail[kSize];
    std::memcpy(head, from, kSize);
    std::memcpy(tail, from + n - kSize, kSize);
    std::memcpy(to, head, kSize);
    std::memcpy(to + n - kSize, tail, kSize);
  };
  if (n > 64) {
    std::memcpy(to, from, n);
  } else if (n > 32) {
    move_ends.operator()<32>();
  } else if (n > 16) {
    move_ends.operator()<16>();
  } else if (n >= 8) {
    move_ends.operator()<8>();
  } else if (n >= 4) {
    move_ends.operator()<4>();
  } else if (n != 0) {
    to[0] = from[0];
    to[n / 2] = from[n / 2];
    to[n - 1] = from[n - 1];
  }
}
}  // namespace

// Converts a section's typed fields and copies every text, one after
// another, into the block of text the record then holds.
class DocumentBuilder {
 public:
  DocumentBuilder(DocumentValues& fields, TextBlocks& blocks, Document& out) noexcept
      : fields_(fields), blocks_(blocks), doc_(out) {}

  // False, with `failure` set, at the first value that does not convert.
  bool convert_all(BuildFailure& failure) noexcept {
    for (const DocField field : fields_.typed_order())
      if (!convert(field, fields_.value(field), failure)) return false;
    return true;
  }

  // Adds the type, last, under its key; then every required field must be there.
  bool finish(std::string_view doc_type, BuildFailure& failure) {
    if (fields_.has(DocField::Type)) {
      failure = BuildFailure::duplicate(keyword::kDocumentStart);
      return false;
    }
    fields_.set(DocField::Type, doc_type);
    return store(failure);
  }

  bool convert(DocField field, std::string_view value, BuildFailure& failure) noexcept {
    switch (info_[static_cast<std::size_t>(field)].kind) {
      case K::Date: {
        const auto r = parse_date(value);
        if (!r) return fail_with(BuildFailure::of_value(r.error(), value), failure);
        doc_.doc_date = *r;
        return true;
      }
      case K::OptionalDate: {
        const auto r = parse_optional_date(value);
        if (!r) return fail_with(BuildFailure::of_value(r.error(), value), failure);
        (field == DocField::OutcomeDate ? doc_.outcome_date : doc_.income_date) = *r;
        return true;
      }
      case K::Amount: {
        const auto r = parse_amount(value);
        if (!r) return fail_with(BuildFailure::of_value(r.error(), value), failure);
        doc_.amount = *r;
        return true;
      }
      case K::Text:
      case K::OptionalText: return true;
    }
    return true;
  }

 private:
  bool store(BuildFailure& failure) {
    if (const std::uint64_t missing = kRequiredFields & ~fields_.seen(); missing != 0) {
      failure = BuildFailure::missing(info_[static_cast<std::size_t>(std::countr_zero(missing))].key);
      return false;
    }
    const std::uint64_t texts = kTextFields & fields_.seen();
    doc_.present_ = texts;
    if (copy_texts(texts)) return true;
    // Too long for the rest of the block: a block with room for it.
    std::size_t text_bytes = 0;
    for (std::uint64_t t = texts; t != 0; t &= t - 1) text_bytes += value_of(t).size();
    if (text_bytes > Document::kTextLimit) throw std::bad_alloc();
    blocks_.make_room(text_bytes);
    return copy_texts(texts);
  }

  // Copies the texts, in field order, into the rest of the current block;
  // false if they do not fit.  One pass: their sizes are summed only when
  // they do not fit.
  bool copy_texts(std::uint64_t texts) noexcept {
    std::size_t room;
    char* const storage = blocks_.rest(room);
    std::size_t offset = 0;
    for (std::uint64_t t = texts; t != 0; t &= t - 1) {
      const std::string_view value = value_of(t);
      if (value.size() > room - offset) return false;
      copy_value(storage + offset, value.data(), value.size());
      offset += value.size();
      doc_.ends_[static_cast<std::size_t>(std::countr_zero(t))] = static_cast<std::uint32_t>(offset);
    }
    blocks_.keep(offset);
    doc_.block_ = blocks_.block();
    doc_.texts_ = storage;
    return true;
  }

  // The value of the lowest field in `mask`.
  std::string_view value_of(std::uint64_t mask) const noexcept {
    return fields_.value(static_cast<DocField>(std::countr_zero(mask)));
  }

  static bool fail_with(BuildFailure found, BuildFailure& failure) noexcept {
    failure = found;
    return false;
  }

  const std::array<DocFieldInfo, kDocFieldCount>& info_ = document_fields();
  DocumentValues& fields_;
  TextBlocks& blocks_;
  Document& doc_;
};

void TextBlocks::start_block(std::size_t n) {
  size_ = n > kBlockSize ? n : kBlockSize;
#if defined(__cpp_lib_smart_ptr_for_overwrite)
  block_ = std::make_shared_for_overwrite<char[]>(size_);
#else
  // Older standard libraries (emscripten's libc++ 14) lack it: the same
  // uninitialised bytes, with the count kept apart from them.
  block_ = std::shared_ptr<char[]>(new char[size_]);
#endif
  used_ = 0;
}

bool build_document(DocumentValues& fields, std::string_view doc_type, TextBlocks& blocks, Document& out,
                    BuildFailure& failure) {
  // A document reused from an earlier section keeps its optional dates.
  out.outcome_date.reset();
  out.income_date.reset();
  DocumentBuilder builder(fields, blocks, out);
  return builder.convert_all(failure) && builder.finish(doc_type, failure);
}

Result<Document, BuildFailure> build_document(std::span<const AttributeView> attrs, std::string_view doc_type,
                                              TextBlocks& blocks) {
  // Each value is read as its key comes, so that a repeated key fails where
  // it repeats, after the values before it.
  DocumentValues fields;
  Document doc;
  DocumentBuilder builder(fields, blocks, doc);
  BuildFailure failure;
  for (const AttributeView& a : attrs) {
    const std::optional<DocField> field = document_keys::find(a.key);
    if (!field) continue;  // keys outside the table are ignored
    if (fields.has(*field))
      return fail(BuildFailure::duplicate(document_fields()[static_cast<std::size_t>(*field)].key));
    fields.set(*field, a.value);
    if (!builder.convert(*field, a.value, failure)) return fail(failure);
  }
  if (!builder.finish(doc_type, failure)) return fail(failure);
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
