// Framing: lines cut at line feeds, numbered from 1 with blank lines
// counted, trimmed by Unicode White_Space, and classified into markers and
// key=value attributes.
#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "parser/model/line.hpp"
#include "support.hpp"
#include "text/unicode.hpp"

namespace mirtle {
namespace {

using testing::describe;
using testing::dump;
using testing::kMinimalDocument;
using testing::kOneDocument;
using testing::kStatement;
using testing::parse;
using testing::utf8;

// The White_Space property of the Unicode character database.
const std::set<char32_t> kWhiteSpace = {
    0x09,   0x0A,   0x0B,   0x0C,   0x0D,   0x20,   0x85,   0xA0,   0x1680, 0x2000, 0x2001, 0x2002, 0x2003,
    0x2004, 0x2005, 0x2006, 0x2007, 0x2008, 0x2009, 0x200A, 0x2028, 0x2029, 0x202F, 0x205F, 0x3000,
};

std::string replace_all(std::string s, std::string_view from, std::string_view to) {
  for (std::size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

const std::string kRich = "1CClientBankExchange\n"
                          "ВерсияФормата=1.03\n"
                          "Кодировка=Windows\n"
                          "\n"
                          "СекцияРасчСчет\n"
                          "РасчСчет=40702810000000000001\n"
                          "ДатаНачала=01.03.2024\n"
                          "НачальныйОстаток=100.00\n"
                          "КонецРасчСчет\n"
                          "СекцияДокумент=Платежное поручение\n" +
                          std::string(kMinimalDocument) +
                          "КонецДокумента\n"
                          "СекцияДокумент=Платежное поручение\n"
                          "Номер=18\n"
                          "КонецДокумента\n"
                          "КонецФайла\n";

TEST(LineEnds, CrLfAndLfGiveTheSameStatement) {
  auto lf = parse(kRich);
  ASSERT_TRUE(lf) << describe(lf);
  ASSERT_EQ(lf->documents.size(), 1u);
  ASSERT_EQ(lf->warnings.size(), 1u);
  const std::string expected = dump(*lf);

  const std::vector<std::pair<std::string, const char*>> variants = {
      {replace_all(kRich, "\n", "\r\n"), "CR LF"},
      {"\xEF\xBB\xBF" + replace_all(kRich, "\n", "\r\n"), "mark and CR LF"},
      {"\xEF\xBB\xBF" + kRich, "mark and LF"},
      {kRich.substr(0, kRich.size() - 1), "no line feed after the last line"},
      {replace_all(kRich, "\n", "\r\r\n"), "two CRs: one is cut, the other trimmed"},
  };
  for (const auto& [input, why] : variants) {
    SCOPED_TRACE(why);
    auto r = parse(input);
    ASSERT_TRUE(r) << describe(r);
    EXPECT_EQ(dump(*r), expected);
  }
}

TEST(LineEnds, LoneCarriageReturnIsPartOfTheLine) {
  // Only LF ends a line: a CR inside a value stays, at its ends it is trimmed.
  auto r = parse("1CClientBankExchange\nА=x\ry\nБ=\rz\r\n\rВ=w\r\r\n" + kOneDocument);
  ASSERT_TRUE(r) << describe(r);
  ASSERT_EQ(r->header.size(), 3u);
  EXPECT_EQ(r->header.entries()[0], (AttributeMap::Entry{"А", "x\ry"}));
  EXPECT_EQ(r->header.entries()[1], (AttributeMap::Entry{"Б", "z"}));
  EXPECT_EQ(r->header.entries()[2], (AttributeMap::Entry{"В", "w"}));

  // A CR in the middle of a marker line makes it unrecognized.
  auto bad = parse("1CClientBankExchange\nСекцияРасчСчет\rКонецРасчСчет\n");
  EXPECT_EQ(describe(bad), "UnrecognizedLine(2, СекцияРасчСчет\rКонецРасчСчет)");
}

TEST(LineNumbers, EveryLineCountsBlankOnesIncluded) {
  struct Case {
    std::string input;
    std::string expected;
    const char* why;
  };
  const std::vector<Case> cases = {
      {"1CClientBankExchange\n\nFoo\n", "UnrecognizedLine(3, Foo)", "marker, empty line, Foo"},
      {"1CClientBankExchange\r\n\r\nFoo\r\n", "UnrecognizedLine(3, Foo)", "the same with CR LF"},
      {"1CClientBankExchange\n \t\n" + utf8(0x3000) + "\n\nFoo", "UnrecognizedLine(5, Foo)",
       "blank lines of white space, last line without a line feed"},
      {"1CClientBankExchange\n\r\r\n\nКонецФайла\n", "UnexpectedSection(4, КонецФайла, header)",
       "a line of two CRs is blank"},
      {"1CClientBankExchange\nА=1\n\n\nСекцияДокумент=x\n\nКонецДокумента\n\n", "Unfinished",
       "blank lines never reach the reader"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(describe(parse(c.input)), c.expected);
  }
}

TEST(LineNumbers, WarningsCarryTheClosingLineNumber) {
  auto r = parse("1CClientBankExchange\n\n\nСекцияДокумент=x\n\nНомер=1\n\nКонецДокумента\n\nКонецФайла\n");
  ASSERT_TRUE(r) << describe(r);
  ASSERT_EQ(r->warnings.size(), 1u);
  EXPECT_EQ(r->warnings[0].lineno, 8u);
}

TEST(Trimming, EveryCodePointIsWhiteSpaceOrNot) {
  // Alone, after a letter and before a letter: trimmed exactly when it is
  // White_Space.  Surrogates are not scalar values and are left out.
  for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
    if (cp == 0xD800) cp = 0xE000;
    const std::string c = utf8(cp);
    const bool ws = kWhiteSpace.contains(cp);
    const std::string after = "я" + c, before = c + "я";
    if (text::trim(c).empty() != ws || (text::trim_end(after) == "я") != ws ||
        (text::trim_start(before) == "я") != ws || text::is_blank(c) != ws) {
      ADD_FAILURE() << "U+" << std::hex << static_cast<std::uint32_t>(cp) << " white space: " << ws;
    }
  }
}

TEST(Trimming, RunsOfMixedWhiteSpaceAtBothEnds) {
  std::string all;
  for (char32_t cp : kWhiteSpace) all += utf8(cp);
  EXPECT_EQ(text::trim(all + "а б" + all), "а б");
  EXPECT_EQ(text::trim_start(all + "а" + all), "а" + all);
  EXPECT_EQ(text::trim_end(all + "а" + all), all + "а");
  EXPECT_EQ(text::trim(all), "");
  // Characters that look like spaces but are not White_Space.
  for (char32_t cp : {0x200B, 0x2060, 0xFEFF, 0x180E}) {
    SCOPED_TRACE(static_cast<std::uint32_t>(cp));
    EXPECT_EQ(text::trim(utf8(cp) + "x" + utf8(cp)), utf8(cp) + "x" + utf8(cp));
  }
}

TEST(Trimming, KeysValuesAndMarkersAreTrimmedInTheStatement) {
  const std::string nbsp = utf8(0xA0), ideo = utf8(0x3000), ls = utf8(0x2028), nel = utf8(0x85);
  const std::string input = "1CClientBankExchange\n" + nbsp + "Ключ" + ideo + "=" + ls + "Значение 1" + nel + "\n" +
                            ideo + "СекцияДокумент" + nbsp + "=" + ideo + "Платежное поручение" + ls + "\n" +
                            std::string(kMinimalDocument) + "\t" + "КонецДокумента" + nbsp + "\n" + ideo +
                            "КонецФайла" + ls + "\n";
  auto r = parse(input);
  ASSERT_TRUE(r) << describe(r);
  ASSERT_EQ(r->header.size(), 1u);
  EXPECT_EQ(r->header.entries()[0], (AttributeMap::Entry{"Ключ", "Значение 1"}));
  ASSERT_EQ(r->documents.size(), 1u);
  EXPECT_EQ(r->documents[0].text(DocField::Type), "Платежное поручение");
}

TEST(Trimming, UnrecognizedLineIsReportedTrimmed) {
  EXPECT_EQ(describe(parse("1CClientBankExchange\n" + utf8(0x2003) + " Номер 5\t" + utf8(0x205F) + "\n")),
            "UnrecognizedLine(2, Номер 5)");
}

struct LineCase {
  std::string line;
  std::optional<LineKind> kind;  // nullopt: unrecognized
  std::string key;
  std::string value;
  const char* why;
};

TEST(ClassifyLine, MarkersAttributesAndUnrecognizedLines) {
  using K = LineKind;
  const std::string nbsp = utf8(0xA0);
  const std::vector<LineCase> cases = {
      {"1CClientBankExchange", K::ExchangeStart, "", "", "exchange marker"},
      {"СекцияРасчСчет", K::AccountStart, "", "", "account start"},
      {"КонецРасчСчет", K::AccountEnd, "", "", "account end"},
      {"КонецДокумента", K::DocumentEnd, "", "", "document end"},
      {"КонецФайла", K::FileEnd, "", "", "file end"},
      {"СекцияДокумент=Платежное поручение", K::DocumentStart, "", "Платежное поручение", "document start"},
      {"СекцияДокумент=", K::DocumentStart, "", "", "document start with the empty type"},
      {"СекцияДокумент =Платежное поручение", K::DocumentStart, "", "Платежное поручение",
       "space before the ="},
      {"СекцияДокумент" + nbsp + "= " + nbsp + "Платежное поручение", K::DocumentStart, "",
       "Платежное поручение", "Unicode white space around the ="},
      {"СекцияДокумент=a=b", K::DocumentStart, "", "a=b", "the type may hold ="},
      {"Сумма = 100 = 5", K::Attribute, "Сумма", "100 = 5", "later = belong to the value"},
      {"=", K::Attribute, "", "", "empty key and value"},
      {"=5", K::Attribute, "", "5", "empty key"},
      {"Номер=", K::Attribute, "Номер", "", "empty value"},
      {"Ключ" + nbsp + "=" + nbsp + "x", K::Attribute, "Ключ", "x", "key end and value start trimmed"},
      {"СекцияРасчСчет=", K::Attribute, "СекцияРасчСчет", "", "a marker keyword with = is a key"},
      {"КонецФайла=1", K::Attribute, "КонецФайла", "1", "another keyword as a key"},
      {"секциядокумент=x", K::Attribute, "секциядокумент", "x", "document start in lower case"},
      {"СекцияДокументы=x", K::Attribute, "СекцияДокументы", "x", "a longer word"},
      {"КонецФайла 1", std::nullopt, "", "", "keyword followed by more"},
      {"конецфайла", std::nullopt, "", "", "keyword in lower case"},
      {"КОНЕЦФАЙЛА", std::nullopt, "", "", "keyword in upper case"},
      {"1cclientbankexchange", std::nullopt, "", "", "exchange marker in lower case"},
      {"СекцияДокумент", std::nullopt, "", "", "document start without ="},
      {"Номер 5", std::nullopt, "", "", "no ="},
      {"КонецРасчСчета", std::nullopt, "", "", "near miss"},
  };
  for (const LineCase& c : cases) {
    SCOPED_TRACE(c.why);
    const auto got = classify_line(c.line);
    ASSERT_EQ(got.has_value(), c.kind.has_value());
    if (!got) continue;
    EXPECT_EQ(got->kind, *c.kind);
    if (*c.kind == K::Attribute) {
      EXPECT_EQ(got->key, c.key);
    }
    if (*c.kind == K::Attribute || *c.kind == K::DocumentStart) {
      EXPECT_EQ(got->value, c.value);
    }
  }
}

TEST(ClassifyLine, CanonicalTextOfMarkers) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"СекцияДокумент =  Платежное поручение", "СекцияДокумент=Платежное поручение"},
      {"СекцияДокумент=", "СекцияДокумент="},
      {"СекцияДокумент = a = b", "СекцияДокумент=a = b"},
      {"КонецФайла", "КонецФайла"},
      {"1CClientBankExchange", "1CClientBankExchange"},
      {"СекцияРасчСчет", "СекцияРасчСчет"},
      {"КонецРасчСчет", "КонецРасчСчет"},
      {"КонецДокумента", "КонецДокумента"},
  };
  for (const auto& [line, canonical] : cases) {
    SCOPED_TRACE(line);
    const auto got = classify_line(line);
    ASSERT_TRUE(got);
    EXPECT_EQ(canonical_text(*got), canonical);
  }
}

TEST(ClassifyLine, ViewsPointIntoTheLine) {
  const std::string line = "Ключ = Значение";
  const auto got = classify_line(line);
  ASSERT_TRUE(got);
  EXPECT_GE(got->key.data(), line.data());
  EXPECT_LE(got->value.data() + got->value.size(), line.data() + line.size());
}

TEST(Framing, LinesAfterFileEndAreStillClassified) {
  EXPECT_EQ(describe(parse(kStatement + "\n  \nмусор\n")), "UnrecognizedLine(" +
                                                                std::to_string(std::count(kStatement.begin(), kStatement.end(), '\n') + 3) +
                                                                ", мусор)");
  auto r = parse(kStatement + "\n \t\n" + utf8(0x3000) + "\n");
  EXPECT_TRUE(r) << describe(r);
}

}  // namespace
}  // namespace mirtle
