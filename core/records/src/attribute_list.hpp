// The open section's attributes: views into the decoded text.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "mirtle/attrs.hpp"
#include "key_index.hpp"

namespace mirtle {

// The open section's attributes: views into the decoded text, valid only
// while that text lives.  Starts with room for 32 pairs.
class AttributeList {
 public:
  AttributeList() {
    items_.reserve(32);
    tags_.reserve(32);
  }

  // Sets `key` to `value`: replaces in place when present, else appends.
  void set(std::string_view key, std::string_view value);
  // set() of a key known not to be in the list: appends with no look.
  void append(std::string_view key, std::string_view value);
  // The value of `key`, or nullptr.
  const std::string_view* find(std::string_view key) const noexcept;
  // Empties the list, keeping its capacity for the next section.
  void clear() noexcept {
    if (items_.empty()) return;  // documents read without hooks never fill it
    items_.clear();
    tags_.clear();
    first_with_bits_ = {};
    index_.clear();
  }

  const std::vector<AttributeView>& items() const noexcept { return items_; }
  std::size_t size() const noexcept { return items_.size(); }

 private:
  // Sections this long are scanned; longer ones get the hash index.  Real
  // sections have about 30 keys; past 128 the table's 256 slots fill and the
  // scan would turn quadratic (bench_core limits/section_keys).
  static constexpr std::size_t kScanLimit = 128;

  // A key's length and last bytes: keys share long prefixes ("Плательщик…"),
  // so the scan compares these first and whole keys only when they match.
  static std::uint64_t tag_of(std::string_view key) noexcept;
  // Eight bits of a tag, for the table below.
  static unsigned bits_of(std::uint64_t tag) noexcept {
    return static_cast<unsigned>((tag * 0x9E3779B97F4A7C15ull) >> 56);
  }
  std::int64_t scan(std::string_view key, std::uint64_t tag) const noexcept;
  // Appends a key not in the list; `tag` is its tag_of while scanning.
  void add(std::string_view key, std::string_view value, std::uint64_t tag);

  std::vector<AttributeView> items_;
  std::vector<std::uint64_t> tags_;  // tag_of each key, while scanning
  // Position + 1 of the first key whose tag has these bits, 0 for none.
  // Most keys of a section are new and most bits are free, so one look-up
  // usually settles a key; a taken slot holding another key sends the look-up
  // to the scan.  Positions fit: scanned sections are at most kScanLimit long.
  std::array<std::uint8_t, 256> first_with_bits_{};
  static_assert(kScanLimit < 256);
  KeyIndex index_;
};

}  // namespace mirtle
