// The open section's attributes: views into the decoded text.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

#include "mirtle/attrs.hpp"
#include "parser/attrs/key_index.hpp"

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
  // The value of `key`, or nullptr.
  const std::string_view* find(std::string_view key) const noexcept;
  // Empties the list, keeping its capacity for the next section.
  void clear() noexcept {
    items_.clear();
    tags_.clear();
    seen_ = {};
    index_.clear();
  }

  const std::vector<AttributeView>& items() const noexcept { return items_; }
  // Replaces the contents of `map` with owned copies, in order.
  void copy_to(AttributeMap& map) const;
  std::size_t size() const noexcept { return items_.size(); }

 private:
  // Sections this long are scanned; longer ones get the hash index.
  static constexpr std::size_t kScanLimit = 128;

  // A key's length and last bytes: keys share long prefixes ("Плательщик…"),
  // so the scan compares these first and whole keys only when they match.
  static std::uint64_t tag_of(std::string_view key) noexcept;
  std::int64_t scan(std::string_view key) const noexcept;

  std::vector<AttributeView> items_;
  std::vector<std::uint64_t> tags_;  // tag_of each key, while scanning
  // One bit per tag hash: most keys of a section are new, and a clear bit
  // proves it without a scan.
  std::array<std::uint64_t, 4> seen_{};
  KeyIndex index_;
};

}  // namespace mirtle
