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
#include "mirtle/sections.hpp"

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

// Room for the texts of documents built one after another.  Documents share
// blocks, each freed with the last document that holds it: one free a block
// instead of one a document, each a cache miss.
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
bool build_document(DocumentValues& fields, std::string_view doc_type, TextBlocks& blocks, Document& out,
                    BuildFailure& failure);
// The same, from a section's attributes: a repeated key fails there.
Result<Document, BuildFailure> build_document(std::span<const AttributeView> attrs, std::string_view doc_type,
                                              TextBlocks& blocks);

}  // namespace mirtle
