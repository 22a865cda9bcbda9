// A document section's values by field, as the section stream reads them
// straight from its lines (SectionStream::read_values).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "mirtle/document_keys.hpp"
#include "mirtle/unicode.hpp"
#include "mirtle/vocabulary.hpp"

namespace mirtle {

// The fields whose values are converted: the dates and the amount.  The
// others are kept as texts.
inline constexpr std::uint64_t kTypedFields =
    std::uint64_t{1} << static_cast<unsigned>(DocField::Date) |
    std::uint64_t{1} << static_cast<unsigned>(DocField::Amount) |
    std::uint64_t{1} << static_cast<unsigned>(DocField::OutcomeDate) |
    std::uint64_t{1} << static_cast<unsigned>(DocField::IncomeDate);

// A document section's values by field, as views, while the section is
// read: each key is looked up once, keys of no field are dropped (no field
// reads them), and a repeated key keeps its first place with its last value,
// as in the section's attribute list.  Only the typed fields' places matter:
// they decide which failed conversion is reported.
class DocumentValues {
 public:
  void set(std::string_view key, std::string_view value) noexcept {
    DocField field = follows_[last_];
    if (!document_keys::is_key_of(key, field)) {
      const std::optional<DocField> found = document_keys::find(key);
      if (!found) return;
      follows_[last_] = field = *found;
    }
    last_ = static_cast<std::size_t>(field);
    set(field, value);
  }
  // set() of an untrimmed line "key=value" whose key is exactly the one
  // expected next, with "=" right after it (without white space around
  // the key, its value trimmed, the line is read the same either way);
  // false, and nothing set, otherwise.  The expected key is never
  // СекцияДокумент, which starts a section instead: its line never
  // reaches set().
  bool set_expected(std::string_view line) noexcept {
    std::string_view key, value;
    return set_expected(line, key, value);
  }
  // The same, telling the key and the trimmed value it set.
  bool set_expected(std::string_view line, std::string_view& key, std::string_view& value) noexcept {
    const DocField field = follows_[last_];
    const std::size_t split = document_keys::key_size(field);
    // No key holds "=", so one right after the key is the line's first.
    if (line.size() <= split || line[split] != '=' || !document_keys::is_key_of(line.substr(0, split), field))
      return false;
    last_ = static_cast<std::size_t>(field);
    key = line.substr(0, split);
    value = text::trim(line.substr(split + 1));
    set(field, value);
    return true;
  }
  void set(DocField field, std::string_view value) noexcept {
    const auto f = static_cast<std::size_t>(field);
    const std::uint64_t bit = std::uint64_t{1} << f;
    if ((bit & kTypedFields & ~seen_) != 0) typed_order_[typed_count_++] = field;  // at most 4
    seen_ |= bit;
    values_[f] = value;
  }
  bool has(DocField field) const noexcept { return (seen_ >> static_cast<std::size_t>(field) & 1) != 0; }
  void clear() noexcept {
    seen_ = 0;
    typed_count_ = 0;
    last_ = kDocFieldCount;
  }

 // The value of a field that has() says was set.
  std::string_view value(DocField field) const noexcept { return values_[static_cast<std::size_t>(field)]; }
  // Bit f: field f was set.
  std::uint64_t seen() const noexcept { return seen_; }
  // The typed fields set, in order of first sight.
  std::span<const DocField> typed_order() const noexcept { return {typed_order_.data(), typed_count_}; }

 private:
  std::array<std::string_view, kDocFieldCount> values_;  // set where seen_ says
  std::uint64_t seen_ = 0;                               // bit f: field f set
  std::array<DocField, 4> typed_order_;                  // typed fields in order of first sight
  std::size_t typed_count_ = 0;
  // The field whose key came after each field's in the last section, and
  // the last field set (kDocFieldCount at a section's start): documents
  // mostly list their keys in one order, so the next key is checked
  // against a guess before it is looked up.
  std::array<DocField, kDocFieldCount + 1> follows_{};
  std::size_t last_ = kDocFieldCount;
};

}  // namespace mirtle
