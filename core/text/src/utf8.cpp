#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define MIRTLE_HAVE_AVX2_PATH 1
#endif

#include "mirtle/unicode.hpp"

namespace mirtle::text {

namespace {

bool block_is_ascii(const char* p) noexcept {
  std::uint64_t a, b;
  std::memcpy(&a, p, 8);
  std::memcpy(&b, p + 8, 8);
  return ((a | b) & 0x8080808080808080ull) == 0;
}

// Validates one multi-byte sequence at p; returns its length or 0.
std::size_t sequence_length(const unsigned char* p, const unsigned char* last) noexcept {
  char32_t cp = 0;
  return decode_sequence(p, last, cp);
}

}  // namespace

bool is_valid_utf8_scalar(const char* first, const char* last) noexcept {
  auto p = reinterpret_cast<const unsigned char*>(first);
  const auto end = reinterpret_cast<const unsigned char*>(last);
  while (p < end) {
    // Statements are mostly ASCII keys and digits: skip 16 bytes at a time.
    if (end - p >= 16 && block_is_ascii(reinterpret_cast<const char*>(p))) {
      p += 16;
      continue;
    }
    if (*p < 0x80) {
      ++p;
      continue;
    }
    const std::size_t n = sequence_length(p, end);
    if (n == 0) return false;
    p += n;
  }
  return true;
}

#ifdef MIRTLE_HAVE_AVX2_PATH
namespace {

// Validation of 32 bytes at a time by table lookups on nibbles: each pair of
// adjacent bytes is classified by the high and low nibble of the first and
// the high nibble of the second; the three classes are ANDed, so a bit stays
// set only for a pair that is wrong in that way.  Continuations expected as
// third or fourth bytes are checked from the bytes two and three back.
constexpr std::uint8_t kTooShort = 1 << 0;   // lead or ASCII, then a lead
constexpr std::uint8_t kTooLong = 1 << 1;    // ASCII, then a continuation
constexpr std::uint8_t kOverlong3 = 1 << 2;  // E0 80..9F
constexpr std::uint8_t kTooLarge = 1 << 3;   // F4 90..BF, F5..FF
constexpr std::uint8_t kSurrogate = 1 << 4;  // ED A0..BF
constexpr std::uint8_t kOverlong2 = 1 << 5;  // C0, C1
constexpr std::uint8_t kTooLarge1000 = 1 << 6;
constexpr std::uint8_t kOverlong4 = 1 << 6;  // F0 80..8F
constexpr std::uint8_t kTwoConts = 1 << 7;   // continuation, then continuation
constexpr std::uint8_t kCarry = kTooShort | kTooLong | kTwoConts;

#define MIRTLE_TABLE(...) _mm256_setr_epi8(__VA_ARGS__, __VA_ARGS__)

__attribute__((target("avx2"))) inline __m256i lookup(__m256i nibbles, __m256i table) {
  return _mm256_shuffle_epi8(table, nibbles);
}

__attribute__((target("avx2"))) inline __m256i high_nibbles(__m256i v) {
  return _mm256_and_si256(_mm256_srli_epi16(v, 4), _mm256_set1_epi8(0x0F));
}

// The bytes of `input` shifted by N, the gap filled from the end of `prev`.
template <int N>
__attribute__((target("avx2"))) inline __m256i previous(__m256i input, __m256i prev) {
  return _mm256_alignr_epi8(input, _mm256_permute2x128_si256(prev, input, 0x21), 16 - N);
}

__attribute__((target("avx2"))) inline __m256i block_errors(__m256i input, __m256i prev_input) {
  const __m256i prev1 = previous<1>(input, prev_input);
  const __m256i byte_1_high = lookup(
      high_nibbles(prev1),
      MIRTLE_TABLE(char(kTooLong), char(kTooLong), char(kTooLong), char(kTooLong), char(kTooLong),
                   char(kTooLong), char(kTooLong), char(kTooLong), char(kTwoConts), char(kTwoConts),
                   char(kTwoConts), char(kTwoConts), char(kTooShort | kOverlong2), char(kTooShort),
                   char(kTooShort | kOverlong3 | kSurrogate),
                   char(kTooShort | kTooLarge | kTooLarge1000 | kOverlong4)));
  const __m256i byte_1_low = lookup(
      _mm256_and_si256(prev1, _mm256_set1_epi8(0x0F)),
      MIRTLE_TABLE(char(kCarry | kOverlong3 | kOverlong2 | kOverlong4), char(kCarry | kOverlong2),
                   char(kCarry), char(kCarry), char(kCarry | kTooLarge),
                   char(kCarry | kTooLarge | kTooLarge1000), char(kCarry | kTooLarge | kTooLarge1000),
                   char(kCarry | kTooLarge | kTooLarge1000), char(kCarry | kTooLarge | kTooLarge1000),
                   char(kCarry | kTooLarge | kTooLarge1000), char(kCarry | kTooLarge | kTooLarge1000),
                   char(kCarry | kTooLarge | kTooLarge1000), char(kCarry | kTooLarge | kTooLarge1000),
                   char(kCarry | kTooLarge | kTooLarge1000 | kSurrogate),
                   char(kCarry | kTooLarge | kTooLarge1000), char(kCarry | kTooLarge | kTooLarge1000)));
  const __m256i byte_2_high = lookup(
      high_nibbles(input),
      MIRTLE_TABLE(char(kTooShort), char(kTooShort), char(kTooShort), char(kTooShort), char(kTooShort),
                   char(kTooShort), char(kTooShort), char(kTooShort),
                   char(kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge1000 | kOverlong4),
                   char(kTooLong | kOverlong2 | kTwoConts | kOverlong3 | kTooLarge),
                   char(kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge),
                   char(kTooLong | kOverlong2 | kTwoConts | kSurrogate | kTooLarge), char(kTooShort),
                   char(kTooShort), char(kTooShort), char(kTooShort)));
  const __m256i special = _mm256_and_si256(_mm256_and_si256(byte_1_high, byte_1_low), byte_2_high);
  // A third byte follows an E0..EF lead two back, a fourth an F0..FF three back.
  const __m256i prev2 = previous<2>(input, prev_input);
  const __m256i prev3 = previous<3>(input, prev_input);
  const __m256i third = _mm256_subs_epu8(prev2, _mm256_set1_epi8(char(0xE0 - 0x80)));
  const __m256i fourth = _mm256_subs_epu8(prev3, _mm256_set1_epi8(char(0xF0 - 0x80)));
  const __m256i expected = _mm256_and_si256(_mm256_or_si256(third, fourth), _mm256_set1_epi8(char(0x80)));
  return _mm256_xor_si256(expected, special);
}

// Nonzero where the block ends inside a sequence that needs more bytes.
__attribute__((target("avx2"))) inline __m256i incomplete_tail(__m256i input) {
  const __m256i limits = _mm256_setr_epi8(
      char(255), char(255), char(255), char(255), char(255), char(255), char(255), char(255), char(255),
      char(255), char(255), char(255), char(255), char(255), char(255), char(255), char(255), char(255),
      char(255), char(255), char(255), char(255), char(255), char(255), char(255), char(255), char(255),
      char(255), char(255), char(0xF0 - 1), char(0xE0 - 1), char(0xC0 - 1));
  return _mm256_subs_epu8(input, limits);
}

#undef MIRTLE_TABLE

__attribute__((target("avx2"))) bool is_valid_utf8_avx2(const unsigned char* p, std::size_t n) noexcept {
  __m256i error = _mm256_setzero_si256();
  __m256i prev_input = _mm256_setzero_si256();
  __m256i prev_incomplete = _mm256_setzero_si256();
  auto feed = [&](__m256i input) __attribute__((target("avx2"))) {
    if (_mm256_movemask_epi8(input) == 0) {
      error = _mm256_or_si256(error, prev_incomplete);
      prev_incomplete = _mm256_setzero_si256();
    } else {
      error = _mm256_or_si256(error, block_errors(input, prev_input));
      prev_incomplete = incomplete_tail(input);
    }
    prev_input = input;
  };
  std::size_t i = 0;
  for (; i + 32 <= n; i += 32) {
    feed(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + i)));
    // Invalid text stops the scan within 4 KiB; the check costs nothing
    // measurable.
    if ((i & 4095) == 0 && !_mm256_testz_si256(error, error)) return false;
  }
  if (i < n) {
    alignas(32) unsigned char tail[32] = {};  // zero padding reads as ASCII
    std::memcpy(tail, p + i, n - i);
    feed(_mm256_load_si256(reinterpret_cast<const __m256i*>(tail)));
  }
  error = _mm256_or_si256(error, prev_incomplete);
  return _mm256_testz_si256(error, error) != 0;
}

bool cpu_has_avx2() noexcept {
  static const bool has = __builtin_cpu_supports("avx2");
  return has;
}

}  // namespace
#endif

bool is_valid_utf8(const char* first, const char* last) noexcept {
#ifdef MIRTLE_HAVE_AVX2_PATH
  if (cpu_has_avx2())
    return is_valid_utf8_avx2(reinterpret_cast<const unsigned char*>(first),
                              static_cast<std::size_t>(last - first));
#endif
  return is_valid_utf8_scalar(first, last);
}

}  // namespace mirtle::text
