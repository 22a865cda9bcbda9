#include "mirtle/decode.hpp"

#include <array>
#include <bit>
#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define MIRTLE_HAVE_SSSE3_PATH 1
#endif

#include "mirtle/unicode.hpp"

namespace mirtle::text {

namespace {

// The windows-1251 table for bytes 0x80..0xFF; 0x98 maps to U+0098.
constexpr std::array<char16_t, 128> kHighHalf = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409,
    0x2039, 0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0,
    0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB,
    0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6,
    0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, 0x0410, 0x0411,
    0x0412, 0x0413, 0x0414, 0x0415, 0x0416, 0x0417, 0x0418, 0x0419, 0x041A, 0x041B, 0x041C,
    0x041D, 0x041E, 0x041F, 0x0420, 0x0421, 0x0422, 0x0423, 0x0424, 0x0425, 0x0426, 0x0427,
    0x0428, 0x0429, 0x042A, 0x042B, 0x042C, 0x042D, 0x042E, 0x042F, 0x0430, 0x0431, 0x0432,
    0x0433, 0x0434, 0x0435, 0x0436, 0x0437, 0x0438, 0x0439, 0x043A, 0x043B, 0x043C, 0x043D,
    0x043E, 0x043F, 0x0440, 0x0441, 0x0442, 0x0443, 0x0444, 0x0445, 0x0446, 0x0447, 0x0448,
    0x0449, 0x044A, 0x044B, 0x044C, 0x044D, 0x044E, 0x044F,
};

// The UTF-8 form of each high byte, precomputed: length then bytes.
struct Utf8Char {
  std::uint8_t length;
  char bytes[3];
};

char* put_utf8(char32_t cp, char* out) noexcept {
  if (cp < 0x80) {
    *out++ = static_cast<char>(cp);
  } else if (cp < 0x800) {
    *out++ = static_cast<char>(0xC0 | (cp >> 6));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *out++ = static_cast<char>(0xE0 | (cp >> 12));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    *out++ = static_cast<char>(0xF0 | (cp >> 18));
    *out++ = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    *out++ = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    *out++ = static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

constexpr std::array<Utf8Char, 128> make_high_utf8() {
  std::array<Utf8Char, 128> table{};
  for (std::size_t i = 0; i < 128; ++i) {
    const char32_t cp = kHighHalf[i];
    if (cp < 0x800) {
      table[i] = {2, {static_cast<char>(0xC0 | (cp >> 6)), static_cast<char>(0x80 | (cp & 0x3F)), 0}};
    } else {
      table[i] = {3,
                  {static_cast<char>(0xE0 | (cp >> 12)), static_cast<char>(0x80 | ((cp >> 6) & 0x3F)),
                   static_cast<char>(0x80 | (cp & 0x3F))}};
    }
  }
  return table;
}
constexpr std::array<Utf8Char, 128> kHighUtf8 = make_high_utf8();

bool starts_with(std::string_view s, std::string_view prefix) noexcept {
  return s.size() >= prefix.size() && std::memcmp(s.data(), prefix.data(), prefix.size()) == 0;
}

bool all_ascii_space(std::string_view input) noexcept {
  for (const char c : input)
    if (!is_ascii_space(static_cast<unsigned char>(c))) return false;
  return true;
}

// The UTF-8 form of every byte, for branch-free decoding: each write
// stores four bytes and advances by the character's length.
struct Utf8Form {
  char bytes[4];
  std::uint32_t length;
};

constexpr std::array<Utf8Form, 256> make_utf8_forms() {
  std::array<Utf8Form, 256> table{};
  for (std::size_t b = 0; b < 256; ++b) {
    if (b < 0x80) {
      table[b] = {{static_cast<char>(b), 0, 0, 0}, 1};
    } else {
      const Utf8Char& u = kHighUtf8[b - 0x80];
      table[b] = {{u.bytes[0], u.bytes[1], u.bytes[2], 0}, u.length};
    }
  }
  return table;
}
constexpr std::array<Utf8Form, 256> kUtf8Forms = make_utf8_forms();

inline char* put_windows1251(unsigned char byte, char* out) noexcept {
  const Utf8Form& form = kUtf8Forms[byte];
  std::memcpy(out, form.bytes, 4);
  return out + form.length;
}

// Table decoding with a fast path for ASCII runs, which are most of a
// statement (keys, digits, account numbers).  `out` has room for 3 bytes
// per input byte and one more.
std::size_t decode_high_text_scalar(std::string_view in, char* out) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const auto* end = p + in.size();
  char* const start = out;
  while (end - p >= 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if ((word & 0x8080808080808080ull) == 0) {
      std::memcpy(out, p, 8);
      out += 8;
    } else {
      for (int i = 0; i < 8; ++i) out = put_windows1251(p[i], out);
    }
    p += 8;
  }
  while (p < end) out = put_windows1251(*p++, out);
  return static_cast<std::size_t>(out - start);
}

#ifdef MIRTLE_HAVE_SSSE3_PATH
// For each mask of the Cyrillic letters among 8 bytes (bit i: byte i), the
// shuffle that keeps of the 8 two-byte pairs the first byte of an ASCII one
// and both bytes of a letter's.
struct PairShuffle {
  alignas(16) std::uint8_t index[16];
};
constexpr std::array<PairShuffle, 256> make_pair_shuffles() {
  std::array<PairShuffle, 256> table{};
  for (unsigned mask = 0; mask < 256; ++mask) {
    unsigned n = 0;
    for (unsigned i = 0; i < 8; ++i) {
      table[mask].index[n++] = static_cast<std::uint8_t>(2 * i);
      if ((mask >> i & 1) != 0) table[mask].index[n++] = static_cast<std::uint8_t>(2 * i + 1);
    }
    while (n < 16) table[mask].index[n++] = 0x80;  // zero: written over by the next store
  }
  return table;
}
constexpr std::array<PairShuffle, 256> kPairShuffles = make_pair_shuffles();

// The letters А..я (0xC0..0xFF) of a block, as a mask; `high` is the mask
// of its bytes >= 0x80.
__attribute__((target("ssse3,popcnt"))) inline unsigned letters_of(__m128i block, unsigned high) noexcept {
  return high & static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpgt_epi8(block, _mm_set1_epi8(-65))));
}

// Writes the UTF-8 forms of the first 8 bytes of a block (or all 16 when
// `both_halves`), each of one byte or two: `first` holds each one's first
// byte, `second` the second byte of those whose bit is set in `pairs`.
// Returns the end of the first half's or of both halves' forms.  Stores 16
// bytes a half, whatever the length.
__attribute__((target("ssse3,popcnt"))) inline char* put_pairs(__m128i first, __m128i second, unsigned pairs,
                                                               bool both_halves, char* out) noexcept {
  auto put_half = [&](__m128i interleaved, unsigned mask) __attribute__((target("ssse3,popcnt"))) {
    const __m128i shuffle = _mm_load_si128(reinterpret_cast<const __m128i*>(kPairShuffles[mask].index));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_shuffle_epi8(interleaved, shuffle));
    out += 8 + std::popcount(mask);
  };
  put_half(_mm_unpacklo_epi8(first, second), pairs & 0xFF);
  if (both_halves) put_half(_mm_unpackhi_epi8(first, second), pairs >> 8);
  return out;
}

// put_pairs() of a block of ASCII and letters А..я (U+0410..U+044F: 0xD0
// 0x90..0xBF, then 0xD1 0x80..0x8F); `letters` is their mask.
__attribute__((target("ssse3,popcnt"))) inline char* put_letters(__m128i block, unsigned letters, bool both_halves,
                                                                 char* out) noexcept {
  const __m128i is_letter = _mm_cmplt_epi8(block, _mm_setzero_si128());
  // 0xD0 below 0xF0 and 0xD1 from it: 0xF0..0xFF are those above -17 as signed bytes.
  const __m128i lead = _mm_sub_epi8(_mm_set1_epi8(static_cast<char>(0xD0)), _mm_cmpgt_epi8(block, _mm_set1_epi8(-17)));
  const __m128i first = _mm_or_si128(_mm_and_si128(is_letter, lead), _mm_andnot_si128(is_letter, block));
  const __m128i second = _mm_or_si128(_mm_and_si128(_mm_add_epi8(block, _mm_set1_epi8(0x10)), _mm_set1_epi8(0x3F)),
                                      _mm_set1_epi8(static_cast<char>(0x80)));
  return put_pairs(first, second, letters, both_halves, out);
}

// The two bytes of the UTF-8 form of each of 0x80..0xBF, in four tables of
// 16 for shuffles by the low four bits; zero for the bytes whose form is
// three bytes long (€, №, ™, typographic quotes, dashes, ellipsis).
struct TwoByteForms {
  alignas(16) std::uint8_t lead[4][16];
  alignas(16) std::uint8_t second[4][16];
};
constexpr TwoByteForms make_two_byte_forms() {
  TwoByteForms forms{};
  for (std::size_t i = 0; i < 64; ++i) {
    const char32_t cp = kHighHalf[i];
    if (cp >= 0x800) continue;
    forms.lead[i / 16][i % 16] = static_cast<std::uint8_t>(0xC0 | (cp >> 6));
    forms.second[i / 16][i % 16] = static_cast<std::uint8_t>(0x80 | (cp & 0x3F));
  }
  return forms;
}
constexpr TwoByteForms kTwoByteForms = make_two_byte_forms();

// put_pairs() of a block of ASCII, letters and the other characters of two
// bytes (Ё, ё, «, », the non-breaking space...); `high` is the mask of its
// bytes >= 0x80.  Returns nullptr, having written nothing, when a byte of
// the block has a form of three bytes.
__attribute__((target("ssse3,popcnt"))) inline char* put_two_byte_forms(__m128i block, unsigned high,
                                                                        bool both_halves, char* out) noexcept {
  // The bytes of each group of 16 from 0x80 on become 0x70..0x7F, the index
  // of a shuffle; all others 0x80 or more, which the shuffle turns into 0.
  __m128i lead = _mm_setzero_si128(), second = _mm_setzero_si128();
  for (int group = 0; group < 4; ++group) {
    const __m128i index = _mm_adds_epu8(_mm_xor_si128(block, _mm_set1_epi8(static_cast<char>(0x80 + 16 * group))),
                                        _mm_set1_epi8(0x70));
    lead = _mm_or_si128(lead, _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(kTwoByteForms.lead[group])), index));
    second = _mm_or_si128(second, _mm_shuffle_epi8(_mm_load_si128(reinterpret_cast<const __m128i*>(kTwoByteForms.second[group])), index));
  }
  const __m128i is_high = _mm_cmplt_epi8(block, _mm_setzero_si128());
  const __m128i is_letter = _mm_and_si128(is_high, _mm_cmpgt_epi8(block, _mm_set1_epi8(-65)));  // 0xC0..0xFF
  const auto no_form = static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(lead, _mm_setzero_si128())));
  const auto letters = static_cast<unsigned>(_mm_movemask_epi8(is_letter));
  if ((high & ~letters & no_form) != 0) return nullptr;
  const __m128i letter_lead =
      _mm_sub_epi8(_mm_set1_epi8(static_cast<char>(0xD0)), _mm_cmpgt_epi8(block, _mm_set1_epi8(-17)));
  const __m128i letter_second = _mm_or_si128(
      _mm_and_si128(_mm_add_epi8(block, _mm_set1_epi8(0x10)), _mm_set1_epi8(0x3F)), _mm_set1_epi8(static_cast<char>(0x80)));
  // ASCII bytes have a zero lead: they stand for themselves.
  const __m128i first = _mm_or_si128(_mm_and_si128(is_letter, letter_lead),
                                     _mm_andnot_si128(is_letter, _mm_or_si128(lead, _mm_andnot_si128(is_high, block))));
  second = _mm_or_si128(_mm_and_si128(is_letter, letter_second), _mm_andnot_si128(is_letter, second));
  return put_pairs(first, second, high, both_halves, out);
}

// The table decoding, 16 bytes at a time: ASCII blocks are copied, blocks of
// ASCII and letters А..я, and then of any character of one or two bytes,
// are decoded with shuffles, and the blocks with one of three bytes (№,
// typographic quotes and dashes) go through the table.
__attribute__((target("ssse3,popcnt"))) std::size_t decode_high_text_ssse3(std::string_view in, char* out,
                                                                            const char* readable_end) noexcept {
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const auto* end = p + in.size();
  char* const start = out;
  while (end - p >= 16) {
    const __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const auto high = static_cast<unsigned>(_mm_movemask_epi8(block));
    if (high == 0) {
      _mm_storeu_si128(reinterpret_cast<__m128i*>(out), block);
      out += 16;
    } else if (const unsigned letters = letters_of(block, high); letters == high) {
      out = put_letters(block, letters, true, out);
    } else if (char* const next = put_two_byte_forms(block, high, true, out)) {
      out = next;
    } else {
      for (int i = 0; i < 16; ++i) out = put_windows1251(p[i], out);
    }
    p += 16;
  }
  // Most lines are shorter than 32 bytes, so the last part of a line is
  // decoded as one more block, padded with NULs (ASCII) that are not counted.
  // The block writes up to 32 bytes, so it is used only where the room for
  // the whole input leaves that much.
  const auto rest = static_cast<std::size_t>(end - p);
  if (rest == 0) return static_cast<std::size_t>(out - start);
  __m128i block;
  if (readable_end - reinterpret_cast<const char*>(p) >= 16) {
    // Read on and clear the bytes past the end: cheaper than a copy.
    static constexpr std::array<std::uint8_t, 32> kKeep = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    block = _mm_and_si128(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p)),
                          _mm_loadu_si128(reinterpret_cast<const __m128i*>(kKeep.data() + 16 - rest)));
  } else {
    alignas(16) unsigned char tail[16] = {};
    std::memcpy(tail, p, rest);
    block = _mm_load_si128(reinterpret_cast<const __m128i*>(tail));
  }
  const auto high = static_cast<unsigned>(_mm_movemask_epi8(block));
  const char* const room_end = start + 3 * in.size() + 1;
  if (room_end - out >= 32) {
    const auto written = rest + static_cast<std::size_t>(std::popcount(high));
    if (const unsigned letters = letters_of(block, high); letters == high) {
      put_letters(block, letters, rest > 8, out);
      return static_cast<std::size_t>(out - start) + written;
    }
    if (put_two_byte_forms(block, high, rest > 8, out) != nullptr) return static_cast<std::size_t>(out - start) + written;
  }
  for (std::size_t i = 0; i < rest; ++i) out = put_windows1251(p[i], out);
  return static_cast<std::size_t>(out - start);
}

bool cpu_has_ssse3() noexcept {
  static const bool has = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
  return has;
}
#endif

std::size_t decode_high_text(std::string_view in, char* out, const char* readable_end) noexcept {
#ifdef MIRTLE_HAVE_SSSE3_PATH
  if (cpu_has_ssse3()) return decode_high_text_ssse3(in, out, readable_end);
#else
  static_cast<void>(readable_end);
#endif
  return decode_high_text_scalar(in, out);
}
// UTF-16 with the given byte order; false on an odd final byte or an
// unpaired surrogate.  `out` has room for 3 bytes per 2 input bytes.
bool decode_utf16(std::string_view in, bool big_endian, char* out, std::size_t& length) noexcept {
  if (in.size() % 2 != 0) return false;
  const auto* p = reinterpret_cast<const unsigned char*>(in.data());
  const auto* end = p + in.size();
  auto unit = [big_endian](const unsigned char* q) -> char32_t {
    return big_endian ? static_cast<char32_t>((q[0] << 8) | q[1])
                      : static_cast<char32_t>((q[1] << 8) | q[0]);
  };
  char* const start = out;
  while (p < end) {
    char32_t cp = unit(p);
    p += 2;
    if (cp >= 0xD800 && cp <= 0xDBFF) {
      if (end - p < 2) return false;
      const char32_t low = unit(p);
      if (low < 0xDC00 || low > 0xDFFF) return false;
      p += 2;
      cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
    } else if (cp >= 0xDC00 && cp <= 0xDFFF) {
      return false;
    }
    out = put_utf8(cp, out);
  }
  length = static_cast<std::size_t>(out - start);
  return true;
}

bool is_ordinary(char32_t c) noexcept {
  if (c > 0x3FF) return true;
  if (c >= 0x80) return false;
  if (c >= 0x21 && c <= 0x7E) return true;  // letters, digits, punctuation
  return is_ascii_space(static_cast<unsigned char>(c));
}

}  // namespace

std::size_t decode_windows1251(std::string_view in, char* out) noexcept {
  return decode_high_text(in, out, in.data() + in.size());
}

std::size_t decode_windows1251(std::string_view in, char* out, const char* readable_end) noexcept {
  return decode_high_text(in, out, readable_end);
}

std::size_t decode_windows1251_scalar(std::string_view in, char* out) noexcept {
  return decode_high_text_scalar(in, out);
}

bool looks_like_text(std::string_view utf8) noexcept {
  const char* p = utf8.data();
  const char* const end = p + utf8.size();
  std::size_t examined = 0, ordinary = 0;
  while (p < end && examined < kPlausibilitySample) {
    ordinary += is_ordinary(next_code_point(p, end)) ? 1 : 0;
    ++examined;
  }
  return examined != 0 && (100 * ordinary) / examined > 95;
}

bool is_plausible_windows1251(std::string_view bytes) {
  const std::string_view sample = bytes.substr(0, kPlausibilitySample);
  const std::unique_ptr<char[]> buffer(new char[sample.size() * 3 + 1]);
  const std::size_t length = decode_high_text(sample, buffer.get(), sample.data() + sample.size());
  return looks_like_text(std::string_view(buffer.get(), length));
}

Result<DecodedText, ErrorKind> decode_input(std::string_view input) {
  return decode_input(input, [](std::string_view text) { return is_valid_utf8(text.data(), text.data() + text.size()); });
}

Result<DecodedText, ErrorKind> decode_input(std::string_view input,
                                            const std::function<bool(std::string_view)>& is_utf8) {
  if (all_ascii_space(input)) return fail(ErrorKind::EmptyInput);

  constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
  std::string_view rest = input;
  if (starts_with(rest, kUtf8Mark)) rest.remove_prefix(3);

  DecodedText decoded;
  if (is_utf8(rest)) {
    decoded.encoding = Encoding::UTF8;
    decoded.text = rest;
    return decoded;
  }

  // Not UTF-8: windows-1251, unless a mark names a Unicode encoding.  The
  // encoding is reported as cp1251 whichever mark was found.
  decoded.encoding = Encoding::CP1251;
  if (starts_with(rest, kUtf8Mark)) {
    // The rest after a second mark is not valid UTF-8 either (the mark is).
    return fail(ErrorKind::NotStatement);
  }
  if (starts_with(rest, "\xFF\xFE") || starts_with(rest, "\xFE\xFF")) {
    const bool big_endian = rest[0] == '\xFE';
    const std::string_view units = rest.substr(2);
    decoded.owned.reset(new char[units.size() / 2 * 3 + 1]);
    std::size_t length = 0;
    if (!decode_utf16(units, big_endian, decoded.owned.get(), length))
      return fail(ErrorKind::NotStatement);
    decoded.text = std::string_view(decoded.owned.get(), length);
    if (!looks_like_text(decoded.text)) return fail(ErrorKind::NotStatement);
    return decoded;
  }
  // Plain windows-1251, decoded line by line later.  Only the characters the
  // plausibility check looks at are decoded now.
  if (!is_plausible_windows1251(rest)) return fail(ErrorKind::NotStatement);
  decoded.text = rest;
  decoded.per_line = true;
  return decoded;
}

}  // namespace mirtle::text
