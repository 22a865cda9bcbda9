// The document keys' lookup, inline for the reading loop: a perfect hash,
// and a check of one guessed field.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string_view>
#include <type_traits>

#include "mirtle/vocabulary.hpp"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace mirtle::document_keys {

// A perfect hash over a key's length and its first and last eight bytes:
// keys share long prefixes ("Плательщик…") and long endings ("…ИНН" after
// "Плательщик" and "Получатель", both 20 bytes), so it takes both ends.  The
// multiplier is searched at compile time until the 53 keys land in distinct
// slots, so a lookup is one multiply, one load and one compare of at most
// five words, with no probing and no call to memcmp.
constexpr std::size_t kSlotBits = 8;
constexpr std::size_t kSlots = std::size_t{1} << kSlotBits;

// `n` < 8 bytes from `p`, zero-padded, little-endian.
constexpr std::uint64_t load_short(const char* p, std::size_t n) noexcept {
  std::uint64_t w = 0;
  for (std::size_t i = 0; i < n; ++i) w |= std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
  return w;
}

// Eight bytes from `p`, little-endian: one load at run time.
constexpr std::uint64_t load_word(const char* p) noexcept {
  if (std::is_constant_evaluated()) {
    std::uint64_t w = 0;
    for (std::size_t i = 0; i < 8; ++i) w |= std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
    return w;
  }
  std::uint64_t w;
  std::memcpy(&w, p, 8);
  if constexpr (std::endian::native == std::endian::big) w = __builtin_bswap64(w);
  return w;
}

struct KeyEnds {
  std::uint64_t first;
  std::uint64_t last;
};

constexpr KeyEnds ends_of(std::string_view key) noexcept {
  const std::size_t n = key.size();
  if (n < 8) return {load_short(key.data(), n), load_short(key.data(), n)};
  return {load_word(key.data()), load_word(key.data() + n - 8)};
}

constexpr std::size_t slot_of(const KeyEnds& e, std::size_t size, std::uint64_t multiplier) noexcept {
  const std::uint64_t mixed = e.first ^ (e.last << 29 | e.last >> 35) ^ (size * 0x9E3779B97F4A7C15ull);
  return static_cast<std::size_t>((mixed * multiplier) >> (64 - kSlotBits));
}

struct SlotTable {
  std::uint64_t multiplier = 0;
  std::array<std::uint8_t, kSlots> slots{};  // field + 1, 0 for empty
};

constexpr bool try_fill(SlotTable& table) {
  table.slots = {};
  for (std::size_t f = 0; f < kDocFieldCount; ++f) {
    const std::size_t i = slot_of(ends_of(kDocumentFields[f].key), kDocumentFields[f].key.size(), table.multiplier);
    if (table.slots[i] != 0) return false;
    table.slots[i] = static_cast<std::uint8_t>(f + 1);
  }
  return true;
}

constexpr SlotTable make_slots() {
  SlotTable table;
  std::uint64_t state = 0x2545F4914F6CDD1Dull;
  for (int attempt = 0; attempt < 100000; ++attempt) {
    state ^= state << 13;  // xorshift64: a fixed sequence of candidates
    state ^= state >> 7;
    state ^= state << 17;
    table.multiplier = state | 1;
    if (try_fill(table)) return table;
  }
  table.multiplier = 0;
  return table;
}
constexpr SlotTable kSlotTable = make_slots();
static_assert(kSlotTable.multiplier != 0, "no perfect hash for the document keys");

// Every key's bytes in a block of its own, zero-padded: a candidate is
// compared 16 bytes at a time, with no loop over its length.
constexpr std::size_t kKeyBlock = 48;
struct PaddedKey {
  alignas(16) char bytes[kKeyBlock];
};
constexpr std::array<PaddedKey, kDocFieldCount> make_padded_keys() {
  std::array<PaddedKey, kDocFieldCount> keys{};
  for (std::size_t f = 0; f < kDocFieldCount; ++f)
    for (std::size_t i = 0; i < kDocumentFields[f].key.size(); ++i) keys[f].bytes[i] = kDocumentFields[f].key[i];
  return keys;
}
constexpr std::array<PaddedKey, kDocFieldCount> kPaddedKeys = make_padded_keys();
static_assert([] {
  for (const DocFieldInfo& f : kDocumentFields)
    if (f.key.size() > kKeyBlock) return false;
  return true;
}(), "a document key outgrows its block");

// Whether `key` (at least 16 bytes, at most kKeyBlock) equals `candidate`:
// its first, middle and last 16 bytes against the same places of the block.
inline bool same_long_key(const char* key, std::size_t n, const PaddedKey& candidate) noexcept {
#if defined(__SSE2__)
  auto same16 = [&](std::size_t at) {
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(key + at));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(candidate.bytes + at));
    return _mm_movemask_epi8(_mm_cmpeq_epi8(a, b)) == 0xFFFF;
  };
  return same16(0) && same16(n - 16) && (n <= 32 || same16(16));
#else
  return std::memcmp(key, candidate.bytes, n) == 0;
#endif
}

// A line that starts with a key and "=" has its first "=" there.
static_assert([] {
  for (const DocFieldInfo& f : kDocumentFields)
    if (f.key.find('=') != std::string_view::npos) return false;
  return true;
}(), "a document key holds \"=\"");

// The length of `field`'s key.
inline std::size_t key_size(DocField field) noexcept {
  return kDocumentFields[static_cast<std::size_t>(field)].key.size();
}

// Whether `key` is the key of `field`.
inline bool is_key_of(std::string_view key, DocField field) noexcept {
  const auto f = static_cast<std::size_t>(field);
  const std::size_t n = key.size();
  if (kDocumentFields[f].key.size() != n) return false;
  const PaddedKey& candidate = kPaddedKeys[f];
  if (n >= 16) return same_long_key(key.data(), n, candidate);
  if (n >= 8) return load_word(key.data()) == load_word(candidate.bytes) &&
                     load_word(key.data() + n - 8) == load_word(candidate.bytes + n - 8);
  return load_short(key.data(), n) == load_short(candidate.bytes, n);
}

// The field of `key`, or nullopt.
inline std::optional<DocField> find(std::string_view key) noexcept {
  if (key.empty()) return std::nullopt;
  const std::uint8_t slot = kSlotTable.slots[slot_of(ends_of(key), key.size(), kSlotTable.multiplier)];
  if (slot == 0) return std::nullopt;
  const auto field = static_cast<DocField>(slot - 1);
  if (!is_key_of(key, field)) return std::nullopt;
  return field;
}

}  // namespace mirtle::document_keys
