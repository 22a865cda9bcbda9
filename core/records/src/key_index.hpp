// A position index for key lists that outgrow a linear scan.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace mirtle {

// An open-addressing index from key to position, built only once a list
// outgrows a linear scan, so that hostile sections with thousands of keys
// stay linear.  Stores positions; the owner compares the keys.
class KeyIndex {
 public:
  // Lists up to this long are scanned: the crossover of scan and index
  // (bench_core limits/map_keys); headers (about 15 keys) stay on the scan.
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

}  // namespace mirtle
