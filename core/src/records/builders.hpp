// Record builders: section attributes in, a record or a typed failure out.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "mirtle/attrs.hpp"
#include "mirtle/records.hpp"
#include "mirtle/result.hpp"
#include "mirtle/vocabulary.hpp"
#include "parser/attrs/document_keys.hpp"
#include "parser/attrs/key_index.hpp"
#include "text/unicode.hpp"

namespace mirtle {

// Why a section gave no record.  `subject` points into the attributes or
// into the vocabulary, so the failure is rendered (by `message`) before the
// section's attributes go.
struct BuildFailure {
  enum class Cause : std::uint8_t { Value, MissingField, DuplicateField };
  Cause cause = Cause::Value;
  ValueError value = ValueError::InvalidAmount;  // for Cause::Value
  std::string_view subject;  // the value read (Cause::Value), else the key

  static BuildFailure of_value(ValueError error, std::string_view text) noexcept {
    return {Cause::Value, error, text};
  }
  static BuildFailure missing(std::string_view key) noexcept { return {Cause::MissingField, {}, key}; }
  static BuildFailure duplicate(std::string_view key) noexcept { return {Cause::DuplicateField, {}, key}; }
};

// The failure text: "missing field `Номер`", a value's own text, ...
std::string message(const BuildFailure& failure);

// The balance interval of an account section.  The first failed conversion
// wins; then ДатаНачала and НачальныйОстаток must have occurred, in that order.
Result<Interval, BuildFailure> build_interval(std::span<const AttributeView> attrs);

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
class DocumentFields {
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
    const DocField field = follows_[last_];
    const std::size_t split = document_keys::key_size(field);
    // No key holds "=", so one right after the key is the line's first.
    if (line.size() <= split || line[split] != '=' || !document_keys::is_key_of(line.substr(0, split), field))
      return false;
    last_ = static_cast<std::size_t>(field);
    set(field, text::trim(line.substr(split + 1)));
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

 private:
  friend class DocumentBuilder;

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

// Room for the texts of documents built one after another.  Documents share
// blocks, each freed with the last document that holds it: one free a block
// instead of one a document.  Freeing each document's own buffer was a
// tenth of a parse of the 50 MB statement (perf: _int_free, a cache miss on
// every buffer's header).
class TextBlocks {
 public:
  // The rest of the current block, to be filled before the size of what
  // goes there is known; keep(n) then takes its first `n` bytes.
  char* rest(std::size_t& size) const noexcept {
    size = size_ - used_;
    return block_.get() + used_;
  }
  void keep(std::size_t n) noexcept { used_ += n; }
  // Makes the rest at least `n` bytes, in a new block if need be.
  void make_room(std::size_t n) {
    if (n > size_ - used_) start_block(n);
  }
  // The block rest() is in.
  const std::shared_ptr<char[]>& block() const noexcept { return block_; }

 private:
  // 64 KiB: about 60 documents of the generated statements a block.  16 KiB
  // blocks cost 1-2 % of a 50 MB parse, 256 KiB gained nothing (core
  // benchmark, interleaved), and a document kept alone holds its block.
  static constexpr std::size_t kBlockSize = 64 * 1024;

  void start_block(std::size_t n);

  std::shared_ptr<char[]> block_;
  std::size_t used_ = 0;
  std::size_t size_ = 0;
};

// The document of a section, built into `out`.  Values are converted in the
// order their keys first occurred, and the first failure wins; then
// `doc_type` is added under the key СекцияДокумент (a failure if that key
// occurred), then every required field must be there.  False, with
// `failure` set, when there is no document.  `fields` is left holding the
// type.
// Its texts go to `blocks`.
bool build_document(DocumentFields& fields, std::string_view doc_type, TextBlocks& blocks, Document& out,
                    BuildFailure& failure);
// The same, from a section's attributes: a repeated key fails there.
Result<Document, BuildFailure> build_document(std::span<const AttributeView> attrs, std::string_view doc_type,
                                              TextBlocks& blocks);

// The accounts of a statement, in order of each number's first section,
// each with its intervals sorted by start date and exact repeats dropped.
class AccountBook {
 public:
  AccountBook();
  ~AccountBook();
  AccountBook(AccountBook&&) noexcept;
  AccountBook& operator=(AccountBook&&) noexcept;

  void add_interval(std::string_view number, Interval interval);
  // Hands over the accounts; the book is empty afterwards.
  std::vector<Account> finish();

 private:
  struct Filing;
  std::vector<Account> accounts_;
  std::vector<Filing> filings_;  // parallel to accounts_
  KeyIndex index_;
};

}  // namespace mirtle
