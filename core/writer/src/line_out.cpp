#include "line_out.hpp"

#include <bit>
#include <cstring>
#include <memory>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#define MIRTLE_WRITER_SSSE3 1
#endif

#include "mirtle/document_keys.hpp"
#include "mirtle/vocabulary.hpp"
#include "mirtle/decode.hpp"
#include "mirtle/unicode.hpp"

namespace mirtle::writer {

namespace {

constexpr std::uint64_t kOnes = 0x0101010101010101ull;
constexpr std::uint64_t kHighBits = 0x8080808080808080ull;

// A high bit set in each byte of `word` that is zero.
constexpr std::uint64_t zero_bytes(std::uint64_t word) noexcept { return (word - kOnes) & ~word & kHighBits; }

bool is_line_break(unsigned char c) noexcept { return c == '\n' || c == '\r'; }

bool has_line_break_byte(std::uint64_t word) noexcept {
  return (zero_bytes(word ^ (kOnes * '\n')) | zero_bytes(word ^ (kOnes * '\r'))) != 0;
}

bool has_line_break(std::string_view text) noexcept {
  const char* p = text.data();
  const char* const end = p + text.size();
  for (; end - p >= 8; p += 8) {
    std::uint64_t word;
    std::memcpy(&word, p, 8);
    if (has_line_break_byte(word)) return true;
  }
  for (; p < end; ++p)
    if (*p == '\n' || *p == '\r') return true;
  return false;
}

bool has_space_at_an_end(std::string_view text) noexcept {
  if (text.empty()) return false;
  const char* first = text.data();
  const char* last = first + text.size();
  return text::space_at(first, last) != 0 || text::space_before(first, last) != 0;
}

#ifdef MIRTLE_WRITER_SSSE3
// For each mask of the bytes of 8 to keep, the shuffle that packs them to
// the front.  A place past the kept ones takes the byte at that place: see
// encode_letters().
struct KeepShuffle {
  alignas(16) std::uint8_t index[16];
};
constexpr std::array<KeepShuffle, 256> make_keep_shuffles() {
  std::array<KeepShuffle, 256> table{};
  for (unsigned mask = 0; mask < 256; ++mask) {
    unsigned n = 0;
    for (unsigned i = 0; i < 8; ++i)
      if ((mask >> i & 1) != 0) table[mask].index[n++] = static_cast<std::uint8_t>(i);
    for (; n < 16; ++n) table[mask].index[n] = static_cast<std::uint8_t>(n < 8 ? n : 0x80);
  }
  return table;
}
constexpr std::array<KeepShuffle, 256> kKeepShuffles = make_keep_shuffles();

// Encodes the 16 bytes at `p` into windows-1251 at `w` (no later than `p`)
// when they are ASCII without line breaks and the letters А..я (D0 90..D0
// BF, D1 80..D1 8F), the last byte possibly the lead of a letter the next
// block holds: returns the bytes read, 16 or 15, and moves `w` past those
// written.  Returns 0, having written nothing, for any other block.
//
// Each half of 8 is packed and stored as 8 bytes.  The stores never reach
// past the block; when its last byte is a lead, left for the next block,
// the second store reaches it only when nothing before it was dropped, and
// then writes it back as it was: the shuffle's last place takes the byte
// at that place.
__attribute__((target("ssse3,popcnt"))) std::size_t encode_letters(const unsigned char* p, char*& w) noexcept {
  const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
  const __m128i lead_d0 = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(0xD0)));
  const __m128i lead_d1 = _mm_cmpeq_epi8(bytes, _mm_set1_epi8(static_cast<char>(0xD1)));
  const auto leads = static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(lead_d0, lead_d1)));
  const auto high = static_cast<unsigned>(_mm_movemask_epi8(bytes));
  // Every other high byte comes right after a lead.
  if ((high & ~leads) != ((leads << 1) & 0xFFFF)) return 0;
  const __m128i breaks = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')), _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\r')));
  const __m128i after_d0 = _mm_slli_si128(lead_d0, 1);
  const __m128i after_d1 = _mm_slli_si128(lead_d1, 1);
  // As signed bytes: 80..8F lie below -112 (0x90), BF is -65.
  const __m128i below_90 = _mm_cmplt_epi8(bytes, _mm_set1_epi8(static_cast<char>(0x90)));
  const __m128i above_bf = _mm_cmpgt_epi8(bytes, _mm_set1_epi8(static_cast<char>(0xBF)));
  const __m128i bad = _mm_or_si128(_mm_or_si128(breaks, _mm_and_si128(after_d0, _mm_or_si128(below_90, above_bf))),
                                   _mm_andnot_si128(below_90, after_d1));
  if (_mm_movemask_epi8(bad) != 0) return 0;
  // D0 90..BF become C0..EF, D1 80..8F become F0..FF.
  const __m128i add = _mm_or_si128(_mm_and_si128(after_d0, _mm_set1_epi8(0x30)), _mm_and_si128(after_d1, _mm_set1_epi8(0x70)));
  const __m128i encoded = _mm_add_epi8(bytes, add);
  const unsigned keep = ~leads & 0xFFFF;
  auto put_half = [&](__m128i half, unsigned mask) __attribute__((target("ssse3,popcnt"))) {
    const __m128i shuffle = _mm_load_si128(reinterpret_cast<const __m128i*>(kKeepShuffles[mask].index));
    _mm_storel_epi64(reinterpret_cast<__m128i*>(w), _mm_shuffle_epi8(half, shuffle));
    w += std::popcount(mask);
  };
  put_half(encoded, keep & 0xFF);
  put_half(_mm_srli_si128(encoded, 8), keep >> 8);
  return (leads & 0x8000) != 0 ? 15 : 16;
}

bool cpu_has_ssse3() noexcept {
  static const bool has = __builtin_cpu_supports("ssse3") && __builtin_cpu_supports("popcnt");
  return has;
}
#endif

// Rewrites out[at..] from UTF-8 into windows-1251 in place: no character
// is longer in windows-1251 than in UTF-8, so the writing position never
// passes the reading one.  Refuses a line break too, found on the way, so
// that the text is read once.
std::optional<Refusal> encode_in_place(std::string& out, std::size_t at, const Windows1251Table& table) {
  char* const base = out.data();
  const auto* p = reinterpret_cast<const unsigned char*>(base + at);
  const auto* const end = reinterpret_cast<const unsigned char*>(base + out.size());
  char* w = base + at;
#ifdef MIRTLE_WRITER_SSSE3
  // Blocks of ASCII and the letters А..я sixteen bytes at a time; after a
  // block of anything else, its bytes go one by one.
  const bool blocks = cpu_has_ssse3();
  const unsigned char* one_by_one_until = p;
#endif
  while (p < end) {
#ifdef MIRTLE_WRITER_SSSE3
    if (blocks && p >= one_by_one_until && end - p >= 16) {
      if (const std::size_t n = encode_letters(p, w)) {
        p += n;
        continue;
      }
      one_by_one_until = p + 16;
    }
#endif
    const unsigned char c = *p;
    if (c < 0x80) {
      // Keys, digits and account numbers are ASCII: eight bytes at a time.
      if (end - p >= 8) {
        std::uint64_t word;
        std::memcpy(&word, p, 8);
        if ((word & kHighBits) == 0) {
          if (has_line_break_byte(word)) return Refusal{WriteErrorKind::LineBreakInValue};
          std::memcpy(w, &word, 8);
          p += 8;
          w += 8;
          continue;
        }
      }
      if (is_line_break(c)) return Refusal{WriteErrorKind::LineBreakInValue};
      *w++ = static_cast<char>(c);
      ++p;
      continue;
    }
    // Most other characters are Cyrillic letters, U+0400..U+047F: lead
    // byte D0 or D1: taken without the general decoding.
    if ((c & 0xFE) == 0xD0 && end - p >= 2 && (p[1] & 0xC0) == 0x80) {
      const unsigned char byte = table.byte_of_cyrillic(static_cast<unsigned>(((c & 1) << 6) | (p[1] & 0x3F)));
      if (byte != 0) {
        *w++ = static_cast<char>(byte);
        p += 2;
        continue;
      }
    }
    char32_t cp = 0;
    const std::size_t n = text::decode_sequence(p, end, cp);
    if (n == 0) return Refusal{WriteErrorKind::InvalidUtf8};
    const unsigned char byte = table.byte_of(cp);
    if (byte == 0) return Refusal{WriteErrorKind::NotInWindows1251, cp};
    *w++ = static_cast<char>(byte);
    p += n;
  }
  out.resize(static_cast<std::size_t>(w - base));
  return std::nullopt;
}

constexpr std::array<std::string_view, kFixedCount - kDocFieldCount> kOwnTexts = {
    account_key::kDateStart,    account_key::kDateEnd,      account_key::kNumber,
    account_key::kStartAmount,  account_key::kTotalIncome,  account_key::kTotalExpense,
    account_key::kEndAmount,    kEncodingKey,
    keyword::kExchange, keyword::kAccountStart, keyword::kAccountEnd, keyword::kDocumentStart,
    keyword::kDocumentEnd, keyword::kFileEnd,
};

}  // namespace

std::string_view fixed_text(Fixed f) noexcept {
  const auto i = static_cast<std::size_t>(f);
  return i < kDocFieldCount ? document_fields()[i].key : kOwnTexts[i - kDocFieldCount];
}

bool is_keyword(std::string_view key) noexcept {
  using namespace keyword;
  return key == kExchange || key == kAccountStart || key == kAccountEnd || key == kDocumentStart ||
         key == kDocumentEnd || key == kFileEnd;
}

Windows1251Table::Windows1251Table() noexcept {
  for (unsigned byte = 0x80; byte <= 0xFF; ++byte) {
    const char in = static_cast<char>(byte);
    unsigned char utf8[4];
    const std::size_t length = text::decode_windows1251(std::string_view(&in, 1), reinterpret_cast<char*>(utf8));
    char32_t cp = 0;
    text::decode_sequence(utf8, utf8 + length, cp);  // the reader's table gives well-formed UTF-8
    if (cp < kLowEnd) {
      low_[cp - 0x80] = static_cast<unsigned char>(byte);
    } else {
      high_[cp - kHighStart] = static_cast<unsigned char>(byte);
    }
  }
}

LineOut::LineOut(const WriteOptions& options, std::string& out, bool check_utf8_each)
    : out_(out),
      crlf_(options.newline == Newline::CRLF),
      utf8_(options.encoding == Encoding::UTF8),
      check_utf8_each_(check_utf8_each) {
  if (utf8_) {
    for (std::size_t i = 0; i < kFixedCount; ++i) forms_[i] = fixed_text(static_cast<Fixed>(i));
    return;
  }
  // Every fixed text has a windows-1251 form; the forms are made once per
  // call, into one buffer, then viewed.
  std::array<std::size_t, kFixedCount + 1> offsets{};
  for (std::size_t i = 0; i < kFixedCount; ++i) {
    storage_.append(fixed_text(static_cast<Fixed>(i)));
    // Cannot be refused: the fixed texts are Cyrillic letters and ASCII.
    static_cast<void>(encode_in_place(storage_, offsets[i], table_));
    offsets[i + 1] = storage_.size();
  }
  for (std::size_t i = 0; i < kFixedCount; ++i)
    forms_[i] = std::string_view(storage_).substr(offsets[i], offsets[i + 1] - offsets[i]);
}

std::optional<Refusal> LineOut::put_text(std::string_view text, bool is_key) {
  const auto line_break =
      Refusal{is_key ? WriteErrorKind::LineBreakInKey : WriteErrorKind::LineBreakInValue};
  // A line break is named before any other fault of the same text.  The
  // windows-1251 encoder finds it on its way, so the text is scanned for
  // it beforehand only for UTF-8 output and for keys, and again only once
  // another fault was found.
  if ((utf8_ || is_key) && has_line_break(text)) return line_break;
  if (is_key) {
    if (text.empty()) return Refusal{WriteErrorKind::EmptyKey};
    if (text.find('=') != std::string_view::npos) return Refusal{WriteErrorKind::EqualsInKey};
    if (has_space_at_an_end(text)) return Refusal{WriteErrorKind::SpaceAroundKey};
    if (is_keyword(text)) return Refusal{WriteErrorKind::KeywordKey};
  } else if (has_space_at_an_end(text)) {
    return has_line_break(text) ? line_break : Refusal{WriteErrorKind::SpaceAroundValue};
  }
  if (utf8_) {
    if (check_utf8_each_ && !text::is_valid_utf8(text.data(), text.data() + text.size()))
      return Refusal{WriteErrorKind::InvalidUtf8};
    out_.append(text);
    return std::nullopt;
  }
  const std::size_t at = out_.size();
  out_.append(text);
  auto refused = encode_in_place(out_, at, table_);
  if (refused && (refused->kind == WriteErrorKind::LineBreakInValue || has_line_break(text))) return line_break;
  return refused;
}

std::optional<Refusal> LineOut::document_start(std::string_view type) {
  put_fixed(Fixed::DocumentStart);
  out_ += '=';
  if (auto refused = put_text(type, false)) return refused;
  newline();
  return std::nullopt;
}

std::optional<Refusal> LineOut::known(Fixed key, std::string_view value) {
  put_fixed(key);
  out_ += '=';
  if (auto refused = put_text(value, false)) return refused;
  newline();
  return std::nullopt;
}

std::optional<Refusal> LineOut::attribute(std::string_view key, std::string_view value) {
  // A document key, as most are, has its form at hand and needs no check;
  // but the type's key, СекцияДокумент, is a keyword.
  if (const std::optional<DocField> field = document_keys::find(key); field && *field != DocField::Type) {
    put_fixed(fixed_of(*field));
  } else if (auto refused = put_text(key, true)) {
    return refused;
  }
  out_ += '=';
  if (auto refused = put_text(value, false)) return refused;
  newline();
  return std::nullopt;
}

std::optional<WriteErrorKind> check_whole_text(const std::string& out, std::size_t start, Encoding encoding) {
  const std::string_view text = std::string_view(out).substr(start);
  if (encoding == Encoding::UTF8) {
    if (!text::is_valid_utf8(text.data(), text.data() + text.size())) return WriteErrorKind::InvalidUtf8;
    return std::nullopt;
  }
  // A reader takes well-formed UTF-8 for UTF-8, but windows-1251 output
  // never is: every statement has a section, and both section markers
  // start with the bytes D1 E5, a lead byte without its continuation.
  if (!text::is_plausible_windows1251(text)) return WriteErrorKind::ImplausibleWindows1251;
  return std::nullopt;
}

}  // namespace mirtle::writer
