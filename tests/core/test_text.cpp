// Text: the input's decoding (empty input, byte-order marks, the UTF-8 or windows-1251 decision and
// its plausibility check, UTF-16), its lines and their numbers, and the field values read from them:
// dates, and decimal amounts in the plain and the exponent form with their failure texts.
#include <algorithm>
#include <map>
#include <memory>
#include <random>
#include <utility>

#include "support.hpp"
#include "mirtle/decode.hpp"
#include "mirtle/lines.hpp"
#include "mirtle/unicode.hpp"

namespace mirtle::testing {
namespace {

const std::string kMark = "\xEF\xBB\xBF", kX = "1CClientBankExchange", kNs = "NotStatement";

// The windows-1251 characters of 0x80 to 0xBF; 0xC0 to 0xFF are А to я.
constexpr char32_t kHigh[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409, 0x2039, 0x040A,
    0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x0098, 0x2122,
    0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6,
    0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456,
    0x0491, 0x00B5, 0x00B6, 0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};
char32_t cp1251(int b) { return b < 0x80 ? char32_t(b) : b < 0xC0 ? kHigh[b - 0x80] : char32_t(0x410 + b - 0xC0); }

std::string to_cp1251(std::string_view text) {  // throws for a character without a byte
  static std::map<std::string, char> bytes;
  for (int b = 0; bytes.size() < 256; ++b) bytes[utf8(cp1251(b))] = static_cast<char>(b);
  std::string out;
  for (std::size_t i = 0, n; i < text.size(); i += n) {
    const auto c = static_cast<unsigned char>(text[i]);
    out += bytes.at(std::string(text.substr(i, n = c < 0x80 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : 4)));
  }
  return out;
}

std::string utf16(std::u16string_view units, bool big_endian = true) {  // after its mark
  std::string out = big_endian ? "\xFE\xFF" : "\xFF\xFE";
  for (char16_t u : units) out += big_endian ? std::string{char(u >> 8), char(u)} : std::string{char(u), char(u >> 8)};
  return out;
}

// The encoding and UTF-8 text of a decoding, or its failure.
std::string decoded(const std::string& input) {
  const auto d = text::decode_input(input);
  if (!d) return d.error() == ErrorKind::EmptyInput ? "EmptyInput" : kNs;
  if (d->encoding == Encoding::UTF8)  // used in place
    return d->text.data() + d->text.size() == input.data() + input.size() ? "utf-8:" + std::string(d->text) : "copied";
  std::string out(d->text.size() * 3 + 1, '\0');
  out.resize(d->per_line ? text::decode_windows1251(d->text, out.data()) : 0);
  return "cp1251:" + (d->per_line ? out : std::string(d->text));
}

TEST(Decoding, EncodingDecisionsAndMarks) {
  const std::string head = kX + "\nKey=", pad = "\nPad=" + repeat("x", 300) + "\n", cp = to_cp1251(kStatement);
  std::string bytes = kX + "\n";
  for (int b = 0; b < 256; ++b) bytes += static_cast<char>(b);
  auto windows = [](const std::string& in) {  // read byte by byte
    std::string out = "cp1251:";
    for (char c : in) out += utf8(cp1251(static_cast<unsigned char>(c)));
    return std::pair{in, out};
  };
  auto same = [](const std::string& in) { return std::pair{in, "utf-8:" + in}; };
  const std::u16string smile = u"1CClientBankExchange\nЗнак=😀 №5\n";  // a surrogate pair in UTF-16
  const std::string as_utf8 = "cp1251:1CClientBankExchange\nЗнак=😀 №5\n", le = utf16(smile, false);
  const std::string spaces = kX + "\n" + repeat(utf8(0xA0), 100);  // not plausible, but only windows-1251 is checked
  check_rows({same(head + "\xF4\x8F\xBF\xBF" + pad), same(spaces), windows(head + "\xC0\x80" + pad),
              windows(head + "\xED\xA0\x80" + pad), windows(head + "\xF4\x90\x80\x80" + pad), {to_cp1251(spaces), kNs},
              windows(head + "\xCF\xF0\xE8\xE2\xE5\xF2" + pad),
              windows(bytes + repeat("\xE0", 2000)),  // Cyrillic keeps the unusual characters below 4 %
              windows(kX + "\nКлюч=" + repeat("я", 20000) + "\nX=\xFF\n"),  // one late bad byte
              windows(to_cp1251(kX + "\nК=") + "\xFF\xFE\xFE\xFF\n" + to_cp1251(kOneDocument)),
              {kMark + kStatement, "utf-8:" + kStatement}, {kMark + cp, "cp1251:" + kStatement},
              {kMark + kMark + kStatement, "utf-8:" + kMark + kStatement}, {kMark + kMark + cp, kNs},
              {le, as_utf8}, {utf16(smile, true), as_utf8}, {kMark + le, as_utf8}, {le + "A", kNs},
              {le + "\x3D\xD8", kNs}, {utf16(smile, true) + std::string("\xD8\x3D\0A", 4), kNs},
              {le.substr(0, 8) + std::string("\x00\xDE", 2) + le.substr(8), kNs},
              {utf16(std::u16string(100, 1), false), kNs}},  // UTF-16 is checked for plausibility too
             decoded);
}

TEST(Decoding, FirstLineAndLineNumbers) {
  const std::string rest = "\n" + kOneDocument, e = "EmptyInput", s = kStatement, ws = utf8(0xA0) + utf8(0x3000);
  check_rows(
      {{"", e}, {"\t\n\f\r ", e}, {"\v", kNs}, {kMark, kNs}, {"\xFF\xFE", kNs}, {"\xA0\xA0", kNs}, {ws, kNs},
       {"  " + kX + " \t" + rest, "ok"}, {kX + "\r\r" + rest, "ok"}, {ws + kX + utf8(0x2028) + utf8(0x85) + rest, "ok"},
       {kX, "Unfinished"}, {"1cclientbankexchange" + rest, kNs}, {"\n" + s, kNs}, {kX + " x" + rest, kNs},
       {kX + "=" + rest, kNs}, {utf8(0x200B) + kX + rest, kNs}, {kMark + kMark + s, kNs}, {utf16(u"\n", false), kNs},
       {kX + "\rСекцияДокумент=x\rКонецДокумента\rКонецФайла\r", kNs}, {utf16(u"1CClientBankExchange\n"), "Unfinished"},
       // Lines are cut at LF only, numbered from 1 with blank ones included, and trimmed.
       {kX + "\n \t\n" + utf8(0x3000) + "\n\r\r\n\nКонецФайла\n", "UnexpectedSection(6, КонецФайла, header)"},
       {kX + "\r\n" + utf8(0x2003) + " Номер 5\t" + utf8(0x205F), "UnrecognizedLine(2, Номер 5)"},
       {kX + "\nСекцияРасчСчет\rКонецРасчСчет\n", "UnrecognizedLine(2, СекцияРасчСчет\rКонецРасчСчет)"},
       {s + "А=x\ry", "UnexpectedAttribute(17, А, x\ry)"}, {s + "\rБ=\rz\r\r", "UnexpectedAttribute(17, Б, z)"},
       {s + "\n  \nмусор\n", "UnrecognizedLine(19, мусор)"}, {s + "\n \t\n" + utf8(0x3000), "ok"},
       {to_cp1251(kX + "\n" + repeat("Щ", 200000)), "UnrecognizedLine(2, " + repeat("Щ", 200000) + ")"},
       // Markers are whole lines; a line with "=" is an attribute, split at the first "=".
       {s + "СекцияДокумент =  a = b", "UnexpectedSection(17, СекцияДокумент=a = b, finished)"},
       {s + "Сумма" + utf8(0xA0) + "= 100 = 5", "UnexpectedAttribute(17, Сумма, 100 = 5)"},
       {s + "=", "UnexpectedAttribute(17, , )"}, {s + "КонецФайла=1", "UnexpectedAttribute(17, КонецФайла, 1)"},
       {s + "КонецФайла 1", "UnrecognizedLine(17, КонецФайла 1)"}},
      [](const std::string& input) { return summary(parse(input)); });
}

TEST(Decoding, PlausibilityNeeds96PercentOrdinaryCharactersAmongTheFirst20480) {
  std::vector<char32_t> chars = {0x0B, 0x7F, 0x80, 0xFF, 0x370, 0x3FF, 0x400, 0x2028, 0xFEFF, 0x1F600};
  for (int b = 0; b < 256; ++b) chars.push_back(cp1251(b));
  for (char32_t c : chars) {  // one character is all or nothing
    const bool ordinary = c > 0x3FF || (c >= 0x20 && c < 0x7F) || (c >= 9 && c <= 13 && c != 11);
    EXPECT_EQ(text::looks_like_text(utf8(c)), ordinary) << std::hex << unsigned{c};
  }
  EXPECT_FALSE(text::looks_like_text(""));
  for (std::size_t n = 1; n <= 130; ++n)  // characters count, not bytes: 20 of 21 fails
    for (std::size_t k = 0; k <= n; ++k)
      ASSERT_EQ(text::looks_like_text(repeat("я", k) + repeat("\x01", n - k)), 100 * k / n >= 96) << k << "/" << n;
  const std::string a = repeat("я", 100000), bad = "\x01";
  EXPECT_TRUE(text::looks_like_text(a.substr(0, 40960) + repeat(bad, 5000)));
  EXPECT_TRUE(text::looks_like_text(repeat(bad, 819) + a.substr(0, 2 * 19661)));
  EXPECT_TRUE(text::looks_like_text(a.substr(0, 2 * 19661) + repeat(bad, 819) + a));
  EXPECT_FALSE(text::looks_like_text(a.substr(0, 2 * 19660) + repeat(bad, 820) + a));  // 95.99 %
}

// The vector validator agrees with the portable one on random mixes of valid sequences and damage, at
// every length and alignment around its 32-byte blocks.  One text in three is mostly ASCII and
// two-byte letters, as statements are, over many blocks, with a piece of damage or a longer
// sequence now and then, falling at every place in and between blocks.
TEST(Decoding, Utf8FastPathAgreesWithThePortableOne) {
  const std::vector<std::string> pieces = {
      "a", "=", "\n", "\xD0\x90", "\xD1\x8F", "\xC2\x80", "\xDF\xBF",  // ASCII and two-byte above
      "\xE0\xA0\x80", "\xEF\xBF\xBF", "\xED\x9F\xBF", "\xF0\x90\x80\x80", "\xF4\x8F\xBF\xBF", "\xE2\x82\xAC",
      // valid above, damage below
      "\x80", "\xBF", "\xC0\x80", "\xC1\xBF", "\xE0\x9F\xBF", "\xED\xA0\x80", "\xF0\x8F\xBF\xBF", "\xF4\x90\x80\x80",
      "\xF5\x80\x80\x80", "\xFF", "\xC2", "\xE2\x82", "\xF0\x90\x80"};
  constexpr std::size_t kTwoByte = 7, kValid = 13;
  std::mt19937 random(7);
  int invalid = 0;
  for (int round = 0; round < 60000; ++round) {
    std::string text(random() % 8, 'x');  // the text proper starts after these
    const std::size_t offset = text.size();
    if (round % 3 == 2) {
      const std::size_t count = random() % 400;
      for (std::size_t i = 0; i < count; ++i)
        text += pieces[random() % 80 == 0 ? kTwoByte + random() % (pieces.size() - kTwoByte) : random() % kTwoByte];
    } else {
      const std::size_t count = random() % 48, limit = random() % 3 == 0 ? pieces.size() : kValid;
      for (std::size_t i = 0; i < count; ++i) text += pieces[random() % limit];
    }
    const char *first = text.data() + offset, *last = text.data() + text.size();
    const bool expected = text::is_valid_utf8_scalar(first, last);
    invalid += !expected;
    ASSERT_EQ(text::is_valid_utf8(first, last), expected) << ::testing::PrintToString(text.substr(offset));
  }
  EXPECT_GT(invalid, 8000);
  // Each piece of damage at every place around two blocks of letters, before ASCII, letters, a longer
  // sequence or the end.
  for (std::size_t at = 0; at < 96; ++at)
    for (std::size_t d = kTwoByte; d < pieces.size(); ++d)
      for (const std::string after : {"", "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa", "ЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯЯ", "€€€€€€€€€€€"}) {
        const std::string text = repeat("Я", at / 2) + repeat("a", at % 2) + pieces[d] + after;
        ASSERT_EQ(text::is_valid_utf8(text.data(), text.data() + text.size()),
                  text::is_valid_utf8_scalar(text.data(), text.data() + text.size()))
            << ::testing::PrintToString(text);
      }
}

// The vector windows-1251 decoder agrees with the table on random mixes of ASCII, the letters А..я
// and the other high bytes, at every length and alignment around its 16-byte blocks, writing only
// inside the room it is promised (3 bytes a byte and one more: ASan checks the heap block).
TEST(Decoding, Windows1251FastPathAgreesWithTheTable) {
  std::mt19937 random(11);
  const std::string ascii = "0123456789 =.,-abcXYZ\t", others = "\x80\x98\xA0\xA8\xB8\xB9\xAB\xBB\x96\xBF";
  for (int round = 0; round < 30000; ++round) {
    const std::size_t offset = random() % 16, length = random() % 80;
    std::string text(offset, 'x');
    const int mix = static_cast<int>(random() % 4);  // ASCII, letters, both, all three
    for (std::size_t i = 0; i < length; ++i) {
      const auto pick = static_cast<unsigned>(random() % 10);
      if (mix == 0 || (mix >= 2 && pick < 4)) text += ascii[random() % ascii.size()];
      else if (mix == 3 && pick == 9) text += others[random() % others.size()];
      else text += static_cast<char>(0xC0 + random() % 64);
    }
    const std::size_t after = random() % 24;  // bytes that may be read but are not decoded
    for (std::size_t i = 0; i < after; ++i) text += static_cast<char>(random() % 256);
    const std::string_view in = std::string_view(text).substr(offset, length);
    const auto slow = std::make_unique<char[]>(in.size() * 3 + 1);
    const std::size_t n = text::decode_windows1251_scalar(in, slow.get());
    for (const char* readable_end : {in.data() + in.size(), std::as_const(text).data() + text.size()}) {
      const auto fast = std::make_unique<char[]>(in.size() * 3 + 1);
      ASSERT_EQ(text::decode_windows1251(in, fast.get(), readable_end), n) << ::testing::PrintToString(text);
      ASSERT_EQ(std::string_view(fast.get(), n), std::string_view(slow.get(), n)) << ::testing::PrintToString(text);
    }
  }
}

// The line cutter, which finds line feeds 64 bytes at a time, agrees with a byte-by-byte reading on
// random texts of every length around its blocks, at every alignment, never reading past the text's
// end (each text is a heap block of its own exact size: ASan checks it).
TEST(Lines, CutterAgreesWithByteByByte) {
  std::mt19937 random(13);
  const std::string_view alphabet[] = {"a", "=", "\n", "\r", "\r\n", " ", "\xD0\x96", "==", "\n\n"};
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    const std::size_t pieces = random() % 3 == 0 ? random() % 200 : random() % 40;
    const std::size_t run = 1 + random() % 70;  // long runs of letters make lines cross blocks
    for (std::size_t i = 0; i < pieces; ++i) text += random() % 3 == 0 ? alphabet[random() % 9] : std::string(random() % run, 'k');
    const auto exact = std::make_unique<char[]>(text.size());
    std::memcpy(exact.get(), text.data(), text.size());
    const std::string_view in(exact.get(), text.size());
    std::string expected, got;
    for (std::size_t at = 0; at < in.size();) {
      std::size_t lf = in.find('\n', at);
      std::string_view line = in.substr(at, lf == std::string_view::npos ? std::string_view::npos : lf - at);
      if (lf != std::string_view::npos && line.ends_with('\r')) line.remove_suffix(1);
      expected.append("[").append(line).append("]");
      at = lf == std::string_view::npos ? in.size() : lf + 1;
    }
    LineCutter cutter(in);
    std::string_view line;
    while (cutter.next(line)) got.append("[").append(line).append("]");
    ASSERT_EQ(got, expected) << ::testing::PrintToString(text);
  }
}

// Lines that outgrow the decoding blocks: long values inside sections (views that must survive later
// lines), a long header with repeated keys, many sections, and documents that fail.
TEST(Decoding, SameStatementWhateverTheEncodingAndLineEnds) {
  std::string text = kX + "\nОтправитель=" + repeat("Ж", 100000) + "\n\n";
  for (int i = 0; i < 80; ++i) text += "К" + std::to_string(i % 40) + "=" + std::to_string(i) + "\n";
  for (std::size_t i = 0; i < 60; ++i)
    text += "СекцияРасчСчет\nДатаНачала=01.02.2024\nРасчСчет=4070281000000000000" + std::to_string(i % 7) +
            "\nНачальныйОстаток=" + std::to_string(i) + ".50\nКонецРасчСчет\nСекцияДокумент=Платежное поручение\n" +
            std::string(kMinimalDocument) + "Плательщик=" + repeat("Ъ", i * 97 % 40000) + "\nПлательщикКПП=" +
            repeat("ё", 40000) + "\n" + (i % 10 == 0 ? "Сумма=плохо\n" : "") + "КонецДокумента\n";
  text += "КонецФайла\n";
  auto with_line_ends = [](std::string_view lines, std::string_view end) {
    std::string out;
    for (const char& c : lines) out += c == '\n' ? end : std::string_view(&c, 1);
    return out;
  };
  const std::string crlf = with_line_ends(text, "\r\n"), cp = to_cp1251(text);
  const auto reference = parse(text);
  ASSERT_TRUE(reference && reference->warnings.size() == 6 && reference->header.size() == 41) << summary(reference);
  EXPECT_EQ(reference->header.entries().at(33), (AttributeMap::Entry{"К32", "72"}));  // first place, last value
  const std::string want = dump(*reference), as_cp1251 = "cp1251" + want.substr(5);
  for (const auto& [input, expected] : Rows{{crlf, want}, {kMark + text, want}, {text.substr(0, text.size() - 1), want},
                                            {with_line_ends(text, "\r\r\n"), want}, {cp, as_cp1251},
                                            {kMark + with_line_ends(cp, "\r\n"), as_cp1251}}) {
    const auto r = parse(input);
    ASSERT_TRUE(r) << summary(r);
    EXPECT_EQ(dump(*r), expected);
  }
}

TEST(Decoding, TrimmingRemovesExactlyTheWhiteSpaceCharacters) {
  const std::u32string white = U"\t\n\v\f\r \x85\xA0\x1680\x2000\x2001\x2002\x2003\x2004\x2005\x2006\x2007\x2008"
                               U"\x2009\x200A\x2028\x2029\x202F\x205F\x3000";
  for (char32_t cp = 0; cp <= 0x10FFFF; cp = cp == 0xD7FF ? 0xE000 : cp + 1) {  // scalar values only
    const std::string c = utf8(cp);
    const bool ws = white.find(cp) != std::u32string::npos;
    if (text::trim(c).empty() != ws || (text::trim_end("я" + c) == "я") != ws ||
        (text::trim_start(c + "я" + c) == "я" + c) != ws)
      ADD_FAILURE() << "U+" << std::hex << unsigned{cp} << " white space: " << ws;
  }
}

const std::string kMax = "79228162514264337593543950335";  // 2^96 - 1

// The date or its failure text; the optional form agrees but for blank text, which is absent.
TEST(Values, DateTable) {
  const std::string nb = utf8(0xA0), E = "empty string is not a valid date", d = "2023-02-01";
  Rows rows = {{"01.02.2023", d}, {"1.2.2023", d}, {"01. 02. 2023", d}, {"\t01.02.2023", d}, {nb + "01.02.2023", d},
               {utf8(0x3000) + "1." + utf8(0x2003) + "2.\n\r 2023", d}, {"01.02.+2023", d},
               {"01.02.+00000000000000000000002023", d}, {" 1. 2.23", "0023-02-01"}, {"01.02.23", "0023-02-01"},
               {"01.02.0", "0000-02-01"}, {"01.02.0000", "0000-02-01"}, {"29.02.2024", "2024-02-29"},
               {"01.02.+20231", "+20231-02-01"}, {"01.02.-1", "-0001-02-01"}, {"31.12.+262142", "+262142-12-31"},
               {"01.01.-262143", "-262143-01-01"}, {"01.01.+10000", "+10000-01-01"}, {"31.12.9999", "9999-12-31"},
               {"31.12.-10000", "-10000-12-31"}, {"29.02.+262140", "+262140-02-29"}, {"29.02.-262140", "-262140-02-29"},
               {"29.02.2000", "2000-02-29"}, {"29.02.2400", "2400-02-29"}, {"29.02.0", "0000-02-29"},
               {"29.02.-4", "-0004-02-29"}, {"29.02.-400", "-0400-02-29"}, {"31.12.-1", "-0001-12-31"},
               {"30.04.2024", "2024-04-30"}};
  const std::vector<std::pair<std::string, std::vector<std::string>>> failures = {
      {"trailing input",  // an unsigned year has at most four digits; this is found before a bad day
       {"01.02.2023 ", "01.02.2023" + nb, "01.02.20231", "01.02.2023x", "01.02.+2023x", "31.02.2023x",
        "31.02.2023 ", "01.01.+262143x", "31.12.262142"}},
      {"input contains invalid characters",
       {"01 .02.2023", "01/02/2023", "+1.02.2023", "x", "-", "01..2023", "01.02.x", "01.02.+x", "01.02.+ 2023",
        "123.01.2023", "01x13.2023", utf8(0x0661) + ".02.2023", utf8(0xFF11) + ".02.2023",
        utf8(0x200B) + "01.02.2023"}},
      {"input is out of range",  // day and month are judged as soon as they are read
       {"01.001.2023", "31.02.2023", "29.02.2023", "32.01.2023", "01.13.2023", "00.01.2023", "001.02.2023",
        "0.01.2023", "0", "01.00.2023", "31.04.2024", "32", "32.13.2023", "32x", "01.13", "01.13x",
        "01.01.+99999999999999999999x", "01.01.+262143", "01.01.-262144", "01.01.+9223372036854775807",
        "01.01.+9223372036854775808", "01.01.-9223372036854775808", "01.01.-9223372036854775809",
        "01.01.+" + repeat("9", 400), "29.02.+262141", "29.02.1900", "29.02.2100", "29.02.-100", "29.02.-1",
        "31.06.2024", "31.09.2024", "31.11.2024", "30.02.2024"}},
      {"premature end of input", {"01.02", "01.02.", "01.02. ", "01.02.+", "01.02.-", "1", "01.", "01. "}},
      {E, {"", " ", "\t\r\n\v\f", nb + utf8(0x3000) + utf8(0x2028) + utf8(0x85)}}};
  for (const auto& [error, texts] : failures)
    for (const std::string& text : texts) rows.push_back({text, error});
  check_rows(rows, [&](const std::string& text) {
    const auto r = parse_date(text);
    const auto o = parse_optional_date(text);
    const std::string got = r ? format_date(*r) : message(r.error(), text);
    EXPECT_EQ(!o ? message(o.error(), text) : *o ? format_date(**o) : "absent", got == E ? "absent" : got);
    return got;
  });
}

// Dates written "DD.MM.YYYY" are read at once; the same text after a space goes through the general
// reader, which skips the space.  Both readings agree on every day and month from 00 to 39 in years
// around the leap rules, and on those forms with any one byte replaced.
TEST(Values, CommonDateFormAgreesWithTheReader) {
  auto reading = [](const std::string& text) {
    const auto r = parse_date(text);
    return r ? format_date(*r) : message(r.error(), text);
  };
  std::string replaced = "?.:/ 0a9";
  replaced += '\0';
  for (const char* year : {"0000", "0004", "1900", "2000", "2023", "2024", "2100", "9999"})
    for (int day = 0; day < 40; ++day)
      for (int month = 0; month < 20; ++month) {
        char text[11];
        std::snprintf(text, sizeof text, "%02d.%02d.%s", day, month, year);
        ASSERT_EQ(reading(text), reading(std::string(" ") + text)) << text;
        for (std::size_t at = 0; at < 10 && day == 29 && month == 2; ++at)
          for (char c : replaced) {
            std::string other = text;
            other[at] = c;
            ASSERT_EQ(reading(other), reading(" " + other)) << other;
          }
      }
}

// Amounts in the common form, digits and one ".", are read by a shortcut; the exponent form
// "<text>e0" takes the general reader to the same value, scale included.
TEST(Values, CommonAmountFormAgreesWithTheReader) {
  auto reading = [](const std::string& text) {
    const auto r = parse_amount(text);
    return r ? format_amount(*r) + (r->negative ? " -" : "") : std::string("!");
  };
  std::mt19937 rng(7);
  const std::string alphabet = "0123456789000.._-+ ";
  for (int i = 0; i < 20000; ++i) {
    std::string text(rng() % 23, ' ');
    for (char& c : text) c = alphabet[rng() % (i % 2 == 0 ? 15 : alphabet.size())];
    ASSERT_EQ(reading(text), reading(text + "e0")) << text;
  }
}

// The amount form ("=" for the text itself), or "!" for a failure, whose text quotes the value.
TEST(Values, AmountTable) {
  const std::string d28 = "1234567890123456789012345678", f29 = "0." + repeat("1", 29), z28 = "0." + repeat("0", 28),
                    c = "7922816251426433759354395033", c4 = "7922816251426433759354395034",
                    k7 = "7." + kMax.substr(1), r28 = "0.1234567890123456789012345679";
  Rows rows = {
      {"100.50", "="}, {"0.00", "="}, {"100", "="}, {"100.", "100"}, {".5", "0.5"}, {"+.5", "0.5"}, {"-.5", "-0.5"},
      {"1_000.5", "1000.5"}, {"1__0_", "10"}, {"1._5", "1.5"}, {"1.5_", "1.5"}, {"-0", "0"}, {"-0.00", "0.00"},
      {"-.0", "0.0"}, {"+0", "0"}, {"-5.10", "="}, {"+5", "5"}, {"0001.20", "1.20"}, {"000", "0"}, {"0.", "0"},
      {".0", "0.0"}, {"00.000", "0.000"}, {"1500.00", "="}, {"0.05", "="}, {"-1500.00", "="},
      // The mantissa holds 2^96 - 1, a fraction past it is rounded away, and a carry past it gives up a digit.
      {kMax, "="}, {"-" + kMax, "="}, {"0000" + kMax, kMax}, {"7_9228_1625_1426_4337_5935_4395_0335", kMax},
      {kMax + ".4", kMax}, {kMax + ".0", kMax}, {kMax + ".", kMax}, {kMax + ".49999", kMax}, {c + ".59", c4},
      {c + ".55", c4}, {c + ".54", c + ".5"}, {c + ".5", "="}, {c + ".6", c4}, {c + ".4", "="},
      {"-" + c + ".59", "-" + c4}, {k7, "="}, {"-" + k7, "="}, {k7 + "4", k7},
      {k7 + "5", "7.922816251426433759354395034"}, {"0." + kMax, "0.7922816251426433759354395034"},
      // Long fractions are rounded half up to scale 28 on the first digit not taken.
      {"0." + d28, "="}, {"0." + d28 + "9", r28}, {"0." + d28 + "4", "0." + d28}, {"0." + d28 + "5", r28},
      {"0." + d28 + "49999999", "0." + d28}, {"-0." + d28 + "5", "-" + r28}, {"0." + d28 + "5_1_2", r28},
      {z28 + "5", "0." + repeat("0", 27) + "1"}, {z28 + "4", z28}, {"-" + z28 + "1", z28},
      {"0." + repeat("9", 29), "1." + repeat("0", 28)}, {"9." + repeat("9", 40), "10." + repeat("0", 27)},
      {"0." + repeat("3", 500), "0." + repeat("3", 28)}, {"0." + repeat("6", 500), "0." + repeat("6", 27) + "7"},
      {"12345678901234567890.123456789", "="}, {"12345678901234567890.1234567895", "12345678901234567890.123456790"},
      // An exponent after a long fraction applies to the rounded value.
      {f29 + "e2", "11." + repeat("1", 26)}, {f29 + "E+1", "1." + repeat("1", 27)},
      {f29 + "e0", "0." + repeat("1", 28)}, {"0." + repeat("9", 29) + "e1", "10." + repeat("0", 27)},
      {"1e3", "1000"}, {"1E3", "1000"}, {"1e+3", "1000"}, {"1e-+3", "0.001"}, {"15e-1", "1.5"}, {"1.50e1", "15.0"},
      {"1.50e2", "150"}, {"1.500e2", "150.0"}, {"1.50e0", "1.50"}, {"1e0", "1"}, {"1e-0", "1"}, {"1.2e3", "1200"},
      {"1.5e2", "150"}, {"0.10e5", "10000"}, {"100e2", "10000"}, {"-1.5e3", "-1500"}, {"+1.5e3", "1500"},
      {"-0e3", "0"}, {"0e5", "0"}, {"1_e3", "1000"}, {"-0.0e-3", "0.0000"}, {".5e1", "5"}, {"5.e1", "50"},
      {"1e00000000000000000003", "1000"}, {"0e-28", z28}, {"1e-28", "0." + repeat("0", 27) + "1"},
      {"-1e-28", "-0." + repeat("0", 27) + "1"}, {"1.5e-27", "0." + repeat("0", 26) + "15"},
      {"1e28", "1" + repeat("0", 28)}, {"7e28", "7" + repeat("0", 28)}, {k7 + "e28", kMax}};
  for (const std::string& text : std::vector<std::string>{
           "", "+", "-", ".", "+.", "-.", "_", "_1", "+_1", "._5", "1.2.3", "1..", " 1", "1 ", "1\t", "1 000", "1,5",
           "12,50", "--1", "+-1", "-+1", "1-", "1+", "0x10", "inf", "NaN", "1/2", "١", "１", "1\xC2\xA0", "0.x",
           "79228162514264337593543950336", "-79228162514264337593543950336", kMax + "0", "1" + repeat("0", 29),
           kMax + ".5", kMax + ".9", "-" + kMax + ".9",
           // characters after the last digit taken are still checked
           f29 + "x", f29 + ".", f29 + " ", f29 + ",5", f29 + "-", "0." + repeat("1", 60) + "a" + repeat("1", 10),
           kMax + ".0x", kMax + ".0.", f29 + "e-1", f29 + "e", f29 + "e2x", kMax + ".9e1", "1e-4294967295",
           "1e4294967295", "1e4294967296", "1e-29", "1.0e-28", "1.5e-28", "0e-29", "0e29", "1e29", "8e28", "1e",
           "e5", "E5", "-e5", ".e1", "_1e3", "1e+", "1e-", "1e-+", "1e+-3", "1e--3", "1e++3", "1e-++3", "1e3.0",
           "1e3_", "1e 3", "1 e3", "1e3 ", "1e3e4", "1ee3", "1e0x10", "1,5e3"})
    rows.push_back({text, "!"});
  for (auto& [text, expected] : rows) expected = expected == "=" ? text : expected;
  check_rows(rows, [](const std::string& text) {
    const auto r = parse_amount(text);
    EXPECT_TRUE(!r || !r->is_zero() || !r->negative) << "negative zero";
    if (r) return format_amount(*r);
    const bool plain = std::all_of(text.begin(), text.end(), [](char ch) { return ch >= ' ' && ch <= '~'; });
    EXPECT_TRUE(!plain || message(r.error(), text) == invalid_amount(text)) << message(r.error(), text);
    return std::string("!");
  });
  Rows quoted = {{"", ""}, {"Сумма 5", "Сумма 5"}, {"1'000", "1'000"}, {"a\"b\\c", "a\\\"b\\\\c"}, {" 1", " 1"},
                 {"\t\r\n" + std::string(1, '\0'), "\\t\\r\\n\\0"}, {"\x01\x1f\x7f", "\\u{1}\\u{1f}\\u{7f}"},
                 {utf8(0x85) + utf8(0x9F), "\\u{85}\\u{9f}"}, {utf8(0xA0) + "1", "\\u{a0}1"}, {"😀№€", "😀№€"},
                 {utf8(0x3000) + utf8(0x2028) + utf8(0x2029), "\\u{3000}\\u{2028}\\u{2029}"},
                 {utf8(0xAD) + utf8(0x200B) + utf8(0xFEFF), "\\u{ad}\\u{200b}\\u{feff}"},
                 {"e" + utf8(0x301), "e\\u{301}"}, {utf8(0xE000) + utf8(0x378), "\\u{e000}\\u{378}"}};
  for (auto& row : quoted) row.second = invalid_amount(row.second);
  check_rows(quoted, [](const std::string& t) {
    return parse_amount(t) ? "parsed" : message(parse_amount(t).error(), t);
  });
}

}  // namespace
}  // namespace mirtle::testing
