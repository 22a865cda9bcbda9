// Section attributes: the open section's views, and the owned ordered map
// used for the header and for hooks.  Both keep one value per key: a
// repeated key keeps its first position and takes the last value.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace mirtle {

struct AttributeView {
  std::string_view key;
  std::string_view value;
};

namespace detail {
// An open-addressing index from key to position, built only once a list
// outgrows a linear scan, so that hostile sections with thousands of keys
// stay linear.  Stores positions; the owner compares the keys.
class KeyIndex {
 public:
  static constexpr std::size_t kLinearLimit = 32;

  bool active() const noexcept { return !slots_.empty(); }
  void clear() noexcept { slots_.clear(); used_ = 0; }

  // Finds the position of `key`, or -1.  `key_at(i)` returns the i-th key.
  template <typename KeyAt>
  std::int64_t find(std::string_view key, const KeyAt& key_at) const noexcept;
  // Adds position `pos` for `key` (not present).
  template <typename KeyAt>
  void insert(std::string_view key, std::uint32_t pos, const KeyAt& key_at);
  // Builds the index over positions 0..count-1.
  template <typename KeyAt>
  void build(std::size_t count, const KeyAt& key_at);

  static std::uint64_t hash(std::string_view key) noexcept;

 private:
  static constexpr std::uint32_t kEmpty = UINT32_MAX;
  template <typename KeyAt>
  void grow(std::size_t count, const KeyAt& key_at);

  std::vector<std::uint32_t> slots_;  // power of two, positions or kEmpty
  std::size_t used_ = 0;
};
}  // namespace detail

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
  detail::KeyIndex index_;
};

// An ordered map of owned key and value texts.
class AttributeMap {
 public:
  using Entry = std::pair<std::string, std::string>;

  AttributeMap() = default;

  // Sets `key` to `value`: replaces in place when present, else appends.
  void set(std::string_view key, std::string_view value);
  void set(std::string&& key, std::string&& value);
  // The value of `key`, or nullptr.
  const std::string* find(std::string_view key) const noexcept;
  void clear() noexcept {
    entries_.clear();
    index_.clear();
  }

  const std::vector<Entry>& entries() const noexcept { return entries_; }
  std::vector<Entry>& entries_for_move() noexcept { return entries_; }
  std::size_t size() const noexcept { return entries_.size(); }
  bool empty() const noexcept { return entries_.empty(); }

  // Views of the entries, in order, for the record builders.
  std::vector<AttributeView> views() const;

  static AttributeMap from(const AttributeList& list);

 private:
  std::int64_t position_of(std::string_view key) const noexcept;
  void append(std::string&& key, std::string&& value);

  std::vector<Entry> entries_;
  detail::KeyIndex index_;
};

namespace detail {

inline std::uint64_t KeyIndex::hash(std::string_view key) noexcept {
  // FNV-1a: keys are short words, and this runs only on oversized sections.
  std::uint64_t h = 1469598103934665603ull;
  for (unsigned char c : key) h = (h ^ c) * 1099511628211ull;
  return h ^ (h >> 29);
}

template <typename KeyAt>
std::int64_t KeyIndex::find(std::string_view key, const KeyAt& key_at) const noexcept {
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash(key) & mask;; i = (i + 1) & mask) {
    const std::uint32_t pos = slots_[i];
    if (pos == kEmpty) return -1;
    if (key_at(pos) == key) return pos;
  }
}

template <typename KeyAt>
void KeyIndex::insert(std::string_view key, std::uint32_t pos, const KeyAt& key_at) {
  if ((used_ + 1) * 2 > slots_.size()) {
    grow(used_ + 1, key_at);
    return;  // grow() indexed every position up to and including pos
  }
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = hash(key) & mask;
  while (slots_[i] != kEmpty) i = (i + 1) & mask;
  slots_[i] = pos;
  ++used_;
}

template <typename KeyAt>
void KeyIndex::build(std::size_t count, const KeyAt& key_at) {
  grow(count, key_at);
}

template <typename KeyAt>
void KeyIndex::grow(std::size_t count, const KeyAt& key_at) {
  std::size_t size = 64;
  while (size < count * 4) size *= 2;
  slots_.assign(size, kEmpty);
  const std::size_t mask = size - 1;
  for (std::uint32_t pos = 0; pos < count; ++pos) {
    std::size_t i = hash(key_at(pos)) & mask;
    while (slots_[i] != kEmpty) i = (i + 1) & mask;
    slots_[i] = pos;
  }
  used_ = count;
}

}  // namespace detail

}  // namespace mirtle
