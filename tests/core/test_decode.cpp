// Input decoding: the empty-input test, byte-order marks, the UTF-8 or
// windows-1251 decision, UTF-16 after its marks, the plausibility check of
// the windows-1251 path, and the first-line check.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support.hpp"
#include "text/decode.hpp"
#include "text/unicode.hpp"

namespace mirtle {
namespace {

using testing::cp1251_char;
using testing::describe;
using testing::from_cp1251;
using testing::kOneDocument;
using testing::kStatement;
using testing::parse;
using testing::repeat;
using testing::to_cp1251;
using testing::utf8;

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";

std::string utf16(std::string_view text, bool big_endian) {
  std::string out;
  auto unit = [&](std::uint32_t u) {
    const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
    out += big_endian ? hi : lo;
    out += big_endian ? lo : hi;
  };
  for (char32_t cp : testing::code_points(text)) {
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

// The ordinary characters of the plausibility check.
bool ordinary(char32_t c) {
  if (c > 0x3FF) return true;
  if (c >= '0' && c <= '9') return true;
  if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z')) return true;
  if (c == 0x09 || c == 0x0A || c == 0x0C || c == 0x0D || c == 0x20) return true;
  return (c >= 0x21 && c <= 0x2F) || (c >= 0x3A && c <= 0x40) || (c >= 0x5B && c <= 0x60) ||
         (c >= 0x7B && c <= 0x7E);
}

struct Outcome {
  std::string input;
  std::string expected;  // describe() of the result
  std::string why;
};

void expect_outcomes(const std::vector<Outcome>& cases) {
  for (const Outcome& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(describe(parse(c.input)), c.expected);
  }
}

// The UTF-8 text a decoding gives, whether it was decoded at once or is
// left to be decoded line by line.
std::string utf8_text(const text::DecodedText& decoded) {
  if (!decoded.per_line) return std::string(decoded.text);
  std::string out(decoded.text.size() * 3 + 1, '\0');
  out.resize(text::decode_windows1251(decoded.text, out.data()));
  return out;
}

TEST(EmptyInput, OnlyAsciiWhiteSpaceIsEmpty) {
  expect_outcomes({
      {"", "EmptyInput", "no bytes"},
      {"   \n", "EmptyInput", "three spaces and a line feed"},
      {"\t\n\f\r ", "EmptyInput", "all five ASCII white-space bytes"},
      {"\r\n\r\n\r\n", "EmptyInput", "blank lines only"},
      {"\v", "NotStatement", "a vertical tab is not ASCII white space"},
      {" \v \n", "NotStatement", "one vertical tab among spaces"},
      {std::string("\0", 1), "NotStatement", "NUL is not white space"},
      {std::string(kUtf8Mark), "NotStatement", "a byte-order mark alone is not empty"},
      {std::string(kUtf8Mark) + "  \n", "NotStatement", "a mark before spaces"},
      {"\xFF\xFE", "NotStatement", "an empty UTF-16LE text has no character to check"},
      {"\xFE\xFF", "NotStatement", "an empty UTF-16BE text has no character to check"},
      {"\xA0\xA0", "NotStatement", "windows-1251 no-break spaces are not ASCII white space"},
      {" " + utf8(0x3000) + " ", "NotStatement", "Unicode white space is not ASCII white space"},
  });
}

TEST(Windows1251, EveryByteMapsToItsCharacter) {
  for (int b = 0; b < 256; ++b) {
    SCOPED_TRACE(b);
    EXPECT_EQ(text::windows1251(static_cast<unsigned char>(b)), cp1251_char(static_cast<unsigned char>(b)));
  }
}

TEST(Windows1251, DecodingTurnsEveryByteIntoItsCharacter) {
  std::string bytes;
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  // Cyrillic padding keeps the 45 unusual characters below the 4 % limit.
  const std::string input = "1CClientBankExchange\n" + bytes + repeat("\xE0", 2000);
  auto decoded = text::decode_input(input);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->encoding, Encoding::CP1251);
  std::string expected = "1CClientBankExchange\n";
  for (int b = 0; b < 256; ++b) expected += utf8(cp1251_char(static_cast<unsigned char>(b)));
  expected += repeat("а", 2000);
  EXPECT_EQ(utf8_text(*decoded), expected);
}

TEST(Plausibility, OrdinaryCharactersOfEveryWindows1251Byte) {
  // One character alone is 100 % or 0 % ordinary.
  for (int b = 0; b < 256; ++b) {
    const char32_t c = cp1251_char(static_cast<unsigned char>(b));
    SCOPED_TRACE(::testing::Message() << "byte 0x" << std::hex << b);
    EXPECT_EQ(text::looks_like_text(utf8(c)), ordinary(c));
  }
  const std::vector<std::pair<char32_t, bool>> others = {
      {0x0B, false}, {0x7F, false},  {0x80, false},   {0xFF, false},    {0x370, false},
      {0x3FF, false}, {0x400, true}, {0x2028, true},  {0xFEFF, true},   {0x1F600, true},
  };
  for (const auto& [c, expected] : others) {
    SCOPED_TRACE(static_cast<std::uint32_t>(c));
    EXPECT_EQ(text::looks_like_text(utf8(c)), expected);
  }
}

TEST(Plausibility, IntegerPercentMustReach96) {
  // Two-byte ordinary letters against one-byte controls: the count is in
  // characters, not bytes.  20 of 21 is 95.2 %, whose integer part fails.
  EXPECT_FALSE(text::looks_like_text(""));
  for (std::size_t n = 1; n <= 130; ++n) {
    for (std::size_t k = 0; k <= n; ++k) {
      const std::string t = repeat("я", k) + repeat("\x01", n - k);
      ASSERT_EQ(text::looks_like_text(t), 100 * k / n >= 96) << k << " of " << n;
    }
  }
}

TEST(Plausibility, OnlyTheFirst20480CharactersCount) {
  const std::string bad = "\x01";
  struct Case {
    std::string text;
    bool expected;
    const char* why;
  };
  const std::vector<Case> cases = {
      {repeat("я", 20480) + repeat(bad, 5000), true, "controls after the window are not looked at"},
      {repeat("я", 19661) + repeat(bad, 819) + repeat("я", 100000), true, "19661 of 20480 is 96.0 %"},
      {repeat("я", 19660) + repeat(bad, 820) + repeat("я", 100000), false,
       "19660 of 20480 is 95.99 %, however clean the rest"},
      {repeat(bad, 819) + repeat("я", 19661), true, "position within the window does not matter"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(text::looks_like_text(c.text), c.expected);
  }
}

TEST(Plausibility, AppliesToWindows1251OnlyNotToUtf8) {
  // About 1000 characters, of which a number are no-break spaces.
  auto statement = [](std::size_t spaces) {
    return "1CClientBankExchange\nКомментарий=а" + repeat(utf8(0xA0), spaces) + "б\nПримечание=" +
           repeat("ж", 900) + "\n" + kOneDocument;
  };
  const std::string dense = statement(70), sparse = statement(30);
  EXPECT_EQ(describe(parse(to_cp1251(dense))), "NotStatement");

  auto as_utf8 = parse(dense);
  ASSERT_TRUE(as_utf8) << describe(as_utf8);
  EXPECT_EQ(as_utf8->encoding, Encoding::UTF8);

  auto light = parse(to_cp1251(sparse));
  ASSERT_TRUE(light) << describe(light);
  EXPECT_EQ(light->encoding, Encoding::CP1251);
  ASSERT_NE(light->header.find("Комментарий"), nullptr);
  EXPECT_EQ(*light->header.find("Комментарий"), "а" + repeat(utf8(0xA0), 30) + "б");
}

// Well-formed UTF-8 by the table of well-formed byte sequences of the
// Unicode standard.
bool well_formed(const std::vector<unsigned char>& s) {
  std::size_t i = 0;
  auto in = [&](std::size_t k, unsigned lo, unsigned hi) { return k < s.size() && s[k] >= lo && s[k] <= hi; };
  while (i < s.size()) {
    const unsigned c = s[i];
    if (c <= 0x7F) {
      i += 1;
    } else if (c >= 0xC2 && c <= 0xDF) {
      if (!in(i + 1, 0x80, 0xBF)) return false;
      i += 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      const unsigned lo = c == 0xE0 ? 0xA0 : 0x80, hi = c == 0xED ? 0x9F : 0xBF;
      if (!in(i + 1, lo, hi) || !in(i + 2, 0x80, 0xBF)) return false;
      i += 3;
    } else if (c >= 0xF0 && c <= 0xF4) {
      const unsigned lo = c == 0xF0 ? 0x90 : 0x80, hi = c == 0xF4 ? 0x8F : 0xBF;
      if (!in(i + 1, lo, hi) || !in(i + 2, 0x80, 0xBF) || !in(i + 3, 0x80, 0xBF)) return false;
      i += 4;
    } else {
      return false;
    }
  }
  return true;
}

bool valid(std::string_view s) { return text::is_valid_utf8(s.data(), s.data() + s.size()); }

TEST(Utf8Validity, EveryStringOfUpToThreeBytes) {
  std::vector<unsigned char> s;
  std::string t;
  for (int a = 0; a < 256; ++a) {
    s = {static_cast<unsigned char>(a)};
    t.assign(1, static_cast<char>(a));
    ASSERT_EQ(valid(t), well_formed(s)) << a;
    for (int b = 0; b < 256; ++b) {
      s = {static_cast<unsigned char>(a), static_cast<unsigned char>(b)};
      t = {static_cast<char>(a), static_cast<char>(b)};
      ASSERT_EQ(valid(t), well_formed(s)) << a << " " << b;
      for (int c = 0; c < 256; ++c) {
        s = {static_cast<unsigned char>(a), static_cast<unsigned char>(b), static_cast<unsigned char>(c)};
        t = {static_cast<char>(a), static_cast<char>(b), static_cast<char>(c)};
        ASSERT_EQ(valid(t), well_formed(s)) << a << " " << b << " " << c;
      }
    }
  }
}

TEST(Utf8Validity, FourByteSequencesAroundTheirLimits) {
  const std::vector<unsigned> leads = {0x41, 0x80, 0xC2, 0xE0, 0xED, 0xEF, 0xF0, 0xF1, 0xF3, 0xF4, 0xF5, 0xF8, 0xFF};
  const std::vector<unsigned> tails = {0x00, 0x41, 0x7F, 0x80, 0x8F, 0x90, 0x9F, 0xA0, 0xBF, 0xC0, 0xC2, 0xE0, 0xF0, 0xFF};
  for (unsigned a : leads)
    for (unsigned b : tails)
      for (unsigned c : tails)
        for (unsigned d : tails) {
          const std::vector<unsigned char> s = {static_cast<unsigned char>(a), static_cast<unsigned char>(b),
                                                static_cast<unsigned char>(c), static_cast<unsigned char>(d)};
          const std::string t(s.begin(), s.end());
          ASSERT_EQ(valid(t), well_formed(s)) << std::hex << a << " " << b << " " << c << " " << d;
        }
}

TEST(Utf8Validity, OneBadByteAnywhereInALongText) {
  // The whole input is judged, at every offset (block-wise scans included).
  const std::string ascii = repeat("0123456789abcdef", 6);
  for (std::size_t at = 0; at <= ascii.size(); ++at) {
    SCOPED_TRACE(at);
    std::string t = ascii;
    EXPECT_FALSE(valid(t.insert(at, "\x80")));
    t = ascii;
    EXPECT_FALSE(valid(t.insert(at, "\xF0\x9F\x98")));  // cut four-byte sequence
    t = ascii;
    EXPECT_TRUE(valid(t.insert(at, "\xF0\x9F\x98\x80")));
    t = ascii;
    EXPECT_TRUE(valid(t.insert(at, "я")));
  }
}

TEST(EncodingDecision, WellFormedUtf8IsUsedInPlace) {
  const std::string padding = "\nPad=" + repeat("x", 300) + "\n";
  const std::vector<std::pair<std::string, const char*>> sequences = {
      {"\xC2\x80", "U+0080"},         {"\xE0\xA0\x80", "U+0800"},      {"\xED\x9F\xBF", "U+D7FF"},
      {"\xEF\xBF\xBF", "U+FFFF"},     {"\xF0\x9F\x98\x80", "U+1F600"}, {"\xF4\x8F\xBF\xBF", "U+10FFFF"},
      {"Сумма", "Cyrillic"},
  };
  for (const auto& [seq, why] : sequences) {
    SCOPED_TRACE(why);
    const std::string input = "1CClientBankExchange\nKey=" + seq + padding;
    auto decoded = text::decode_input(input);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->encoding, Encoding::UTF8);
    EXPECT_EQ(decoded->text.data(), input.data());
    EXPECT_EQ(decoded->text.size(), input.size());
  }
}

TEST(EncodingDecision, IllFormedUtf8IsReadAsWindows1251) {
  const std::string padding = "\nPad=" + repeat("x", 300) + "\n";
  const std::vector<std::pair<std::string, const char*>> sequences = {
      {"\xC0\x80", "overlong NUL"},        {"\xC1\xBF", "overlong two-byte"},
      {"\xE0\x9F\xBF", "overlong three-byte"}, {"\xF0\x8F\xBF\xBF", "overlong four-byte"},
      {"\xED\xA0\x80", "surrogate"},        {"\xF4\x90\x80\x80", "above U+10FFFF"},
      {"\xF5\x80\x80\x80", "lead F5"},      {"\x80", "lone continuation"},
      {"\xE2\x82", "cut sequence"},         {"\xC2\x41", "lead without continuation"},
      {"\xCF\xF0\xE8\xE2\xE5\xF2", "windows-1251 Cyrillic"},
  };
  for (const auto& [seq, why] : sequences) {
    SCOPED_TRACE(why);
    const std::string input = "1CClientBankExchange\nKey=" + seq + padding;
    auto decoded = text::decode_input(input);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->encoding, Encoding::CP1251);
    EXPECT_EQ(utf8_text(*decoded), from_cp1251(input));
  }
}

TEST(EncodingDecision, OneLateBadByteMakesTheWholeInputWindows1251) {
  const std::string input = "1CClientBankExchange\nКлюч=" + repeat("я", 20000) + "\nX=\xFF\n";
  auto decoded = text::decode_input(input);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->encoding, Encoding::CP1251);
  EXPECT_EQ(utf8_text(*decoded), from_cp1251(input));
}

TEST(ByteOrderMarks, Utf8MarkIsDropped) {
  const std::string utf8_input = std::string(kUtf8Mark) + kStatement;
  auto decoded = text::decode_input(utf8_input);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->encoding, Encoding::UTF8);
  EXPECT_EQ(decoded->text.data(), utf8_input.data() + 3);
  EXPECT_EQ(utf8_text(*decoded), kStatement);

  // A mark before a windows-1251 text is dropped too, not read as "п»ї".
  const std::string cp_input = std::string(kUtf8Mark) + to_cp1251(kStatement);
  decoded = text::decode_input(cp_input);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->encoding, Encoding::CP1251);
  EXPECT_EQ(utf8_text(*decoded), kStatement);

  auto with_mark = parse(cp_input);
  auto without = parse(to_cp1251(kStatement));
  ASSERT_TRUE(with_mark) << describe(with_mark);
  ASSERT_TRUE(without) << describe(without);
  EXPECT_EQ(testing::dump(*with_mark), testing::dump(*without));
}

TEST(ByteOrderMarks, SecondUtf8Mark) {
  // Valid UTF-8 after the first mark keeps U+FEFF on the first line.
  const std::string twice = std::string(kUtf8Mark) + std::string(kUtf8Mark) + kStatement;
  auto decoded = text::decode_input(twice);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(decoded->encoding, Encoding::UTF8);
  EXPECT_EQ(describe(parse(twice)), "NotStatement");
  // Ill-formed UTF-8 after the second mark is a decoding error.
  const std::string bad = std::string(kUtf8Mark) + std::string(kUtf8Mark) + to_cp1251(kStatement);
  auto failed = text::decode_input(bad);
  ASSERT_FALSE(failed);
  EXPECT_EQ(failed.error(), ErrorKind::NotStatement);
}

TEST(ByteOrderMarks, Utf16IsDecodedAndReportedAsWindows1251) {
  // A character outside the BMP travels as a surrogate pair.
  const std::string text = "1CClientBankExchange\nЗнак=😀 №5\n" + kOneDocument;
  auto reference = parse(text);
  ASSERT_TRUE(reference) << describe(reference);
  struct Case {
    std::string input;
    const char* why;
  };
  const std::vector<Case> cases = {
      {"\xFF\xFE" + utf16(text, false), "UTF-16LE"},
      {"\xFE\xFF" + utf16(text, true), "UTF-16BE"},
      {std::string(kUtf8Mark) + "\xFF\xFE" + utf16(text, false), "UTF-16LE after a UTF-8 mark"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    auto decoded = text::decode_input(c.input);
    ASSERT_TRUE(decoded);
    EXPECT_EQ(decoded->encoding, Encoding::CP1251);
    EXPECT_EQ(utf8_text(*decoded), text);
    auto r = parse(c.input);
    ASSERT_TRUE(r) << describe(r);
    EXPECT_EQ(r->encoding, Encoding::CP1251);
    ASSERT_NE(r->header.find("Знак"), nullptr);
    EXPECT_EQ(*r->header.find("Знак"), "😀 №5");
    EXPECT_EQ(r->documents.size(), reference->documents.size());
  }
}

TEST(ByteOrderMarks, MalformedUtf16IsNotAStatement) {
  const std::string le = utf16(kStatement, false), be = utf16(kStatement, true);
  expect_outcomes({
      {"\xFF\xFE" + le + "A", "NotStatement", "LE: odd final byte"},
      {"\xFE\xFF" + be + "A", "NotStatement", "BE: odd final byte"},
      {"\xFF\xFE" + le + "\x3D\xD8", "NotStatement", "LE: high surrogate at the end"},
      {"\xFE\xFF" + be + "\xD8\x3D", "NotStatement", "BE: high surrogate at the end"},
      {"\xFF\xFE" + le + "\x3D\xD8" + std::string("A\0", 2), "NotStatement", "LE: high surrogate before a letter"},
      {"\xFE\xFF" + be + "\xD8\x3D" + std::string("\0A", 2), "NotStatement", "BE: high surrogate before a letter"},
      {"\xFF\xFE" + le + std::string("\x00\xDE", 2), "NotStatement", "LE: lone low surrogate"},
      {"\xFE\xFF" + be + std::string("\xDE\x00", 2), "NotStatement", "BE: lone low surrogate"},
      {"\xFF\xFE" + le.substr(0, 6) + std::string("\x00\xDE", 2) + le.substr(6), "NotStatement",
       "LE: lone low surrogate in the first line"},
      {"\xFF\xFE" + utf16(repeat(utf8(0x01), 100), false), "NotStatement",
       "UTF-16 text goes through the plausibility check"},
      {"\xFF\xFE" + utf16("\n", false), "NotStatement", "plausible, but the first line is empty"},
  });
}

TEST(ByteOrderMarks, MarkBytesElsewhereAreWindows1251Letters) {
  const std::string input = to_cp1251("1CClientBankExchange\nК=") + "\xFF\xFE\xFE\xFF\n" + to_cp1251(kOneDocument);
  auto r = parse(input);
  ASSERT_TRUE(r) << describe(r);
  EXPECT_EQ(r->encoding, Encoding::CP1251);
  ASSERT_NE(r->header.find("К"), nullptr);
  EXPECT_EQ(*r->header.find("К"), "яююя");
}

TEST(FirstLine, MustBeTheMarkerAfterTrimming) {
  const std::string rest = "\n" + kOneDocument;
  expect_outcomes({
      {kStatement, "ok", "plain"},
      {"  1CClientBankExchange \t" + rest, "ok", "ASCII white space around the marker"},
      {utf8(0xA0) + utf8(0x3000) + "1CClientBankExchange" + utf8(0x2028) + utf8(0x85) + rest, "ok",
       "Unicode white space around the marker"},
      {"1CClientBankExchange\r" + rest, "ok", "CR LF"},
      {"1CClientBankExchange\r\r" + rest, "ok", "a second CR is trimmed"},
      {std::string(kUtf8Mark) + kStatement, "ok", "one byte-order mark"},
      {"1CClientBankExchange", "Unfinished", "a text without a line feed is its own first line"},
      {"1cclientbankexchange" + rest, "NotStatement", "lower case"},
      {"1CCLIENTBANKEXCHANGE" + rest, "NotStatement", "upper case"},
      {"\n" + kStatement, "NotStatement", "an empty line first"},
      {" \t\n" + kStatement, "NotStatement", "a blank line first"},
      {"1CClientBankExchange x" + rest, "NotStatement", "more on the line"},
      {"1CClientBankExchange=" + rest, "NotStatement", "an attribute, not the marker"},
      {"1CClientBankExchang" + rest, "NotStatement", "a letter short"},
      {utf8(0x200B) + "1CClientBankExchange" + rest, "NotStatement", "U+200B is not white space"},
      {"1CClientBankExchange\rСекцияДокумент=x\rКонецДокумента\rКонецФайла\r", "NotStatement",
       "lone CR line ends make one long line"},
      {"Foo\nBar\n", "NotStatement", "checked before any line is classified"},
  });
}

}  // namespace
}  // namespace mirtle

namespace mirtle {
namespace {

// A statement whose lines outgrow the decoding blocks: long values inside
// sections (views that must survive later lines), a long header value, many
// sections, and a document that fails.
std::string large_statement() {
  std::string s = "1CClientBankExchange\nОтправитель=" + testing::repeat("Ж", 100000) + "\n";
  for (int i = 0; i < 60; ++i) {
    s += "СекцияРасчСчет\nДатаНачала=01.02.2024\nРасчСчет=4070281000000000000" + std::to_string(i % 7) +
         "\nНачальныйОстаток=" + std::to_string(i) + ".50\nКонецРасчСчет\n";
    s += "СекцияДокумент=Платежное поручение\n" + std::string(testing::kMinimalDocument);
    s += "Плательщик=" + testing::repeat("Ъ", static_cast<std::size_t>(i) * 97 % 40000) + "\n";
    s += "ПлательщикКПП=" + testing::repeat("ё", 40000) + "\n";
    s += i % 10 == 0 ? "Сумма=плохо\n" : "";
    s += "КонецДокумента\n";
  }
  return s + "КонецФайла\n";
}

TEST(Windows1251, LineByLineDecodingGivesTheSameStatementAsUtf8) {
  const std::string utf8 = large_statement();
  const auto from_utf8 = testing::parse(utf8);
  const auto from_cp1251 = testing::parse(testing::to_cp1251(utf8));
  ASSERT_TRUE(from_utf8) << testing::describe(from_utf8);
  ASSERT_TRUE(from_cp1251) << testing::describe(from_cp1251);
  EXPECT_EQ(from_utf8->warnings.size(), 6u);
  std::string expected = testing::dump(*from_utf8);
  expected.replace(0, 5, "cp1251");
  EXPECT_EQ(testing::dump(*from_cp1251), expected);
}

TEST(Windows1251, ErrorsQuoteTheDecodedLine) {
  const std::string text = "1CClientBankExchange\n" + testing::repeat("Щ", 200000) + "\n";
  const auto result = testing::parse(testing::to_cp1251(text));
  ASSERT_FALSE(result);
  EXPECT_EQ(result.error().text, testing::repeat("Щ", 200000));
  EXPECT_EQ(result.error().lineno, 2u);
}

}  // namespace
}  // namespace mirtle

namespace mirtle {
namespace {

std::string hex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string out;
  for (const char c : bytes) {
    const auto b = static_cast<unsigned char>(c);
    out += kDigits[b >> 4];
    out += kDigits[b & 15];
    out += ' ';
  }
  return out;
}

// The vector validator must agree with the portable one everywhere: random
// mixes of valid sequences, boundary bytes and damage, at every length and
// alignment around its 32-byte blocks.
TEST(Utf8Validation, FastPathAgreesWithThePortableOne) {
  const std::vector<std::string> pieces = {
      "a", "=", "\n", "\xD0\x90", "\xD1\x8F", "\xC2\x80", "\xDF\xBF", "\xE0\xA0\x80", "\xEF\xBF\xBF",
      "\xED\x9F\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF", "\xE2\x82\xAC",
      // damage
      "\x80", "\xBF", "\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF",
      "\xF4\x90\x80\x80", "\xF5\x80\x80\x80", "\xFF", "\xC2", "\xE2\x82", "\xF0\x90\x80"};
  std::mt19937 random(7);
  int invalid = 0;
  for (int round = 0; round < 40000; ++round) {
    std::string text;
    const int count = static_cast<int>(random() % 48);
    const bool damaged = random() % 3 == 0;
    for (int i = 0; i < count; ++i) {
      const std::size_t limit = damaged ? pieces.size() : 13;
      text += pieces[random() % limit];
    }
    const std::size_t offset = random() % 8;
    const std::string padded = std::string(offset, 'x') + text;
    const char* first = padded.data() + offset;
    const char* last = padded.data() + padded.size();
    const bool expected = text::is_valid_utf8_scalar(first, last);
    invalid += !expected;
    ASSERT_EQ(text::is_valid_utf8(first, last), expected) << hex(text);
  }
  EXPECT_GT(invalid, 5000);
}

}  // namespace
}  // namespace mirtle
