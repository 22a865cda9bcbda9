// The section reader: its transitions and rejections, the header and the
// section attributes, the statement it builds, and the hooks it calls when a
// section closes.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "parser/model/reader.hpp"
#include "support.hpp"

namespace mirtle {
namespace {

using testing::context_name;
using testing::describe;
using testing::dump;
using testing::kMinimalDocument;
using testing::kOneDocument;
using testing::parse;

// ---------------------------------------------------------------------------
// The transition table, stepped line by line.

const StatementLine kExchange{LineKind::ExchangeStart, {}, {}};
const StatementLine kAccountStart{LineKind::AccountStart, {}, {}};
const StatementLine kAccountEnd{LineKind::AccountEnd, {}, {}};
const StatementLine kDocumentStart{LineKind::DocumentStart, {}, "Платежное поручение"};
const StatementLine kDocumentEnd{LineKind::DocumentEnd, {}, {}};
const StatementLine kFileEnd{LineKind::FileEnd, {}, {}};
const StatementLine kAttribute{LineKind::Attribute, "Ключ", "Значение"};

std::vector<StatementLine> prefix_for(ParserContext state) {
  const StatementLine number{LineKind::Attribute, "РасчСчет", "40702810000000000001"};
  const StatementLine start{LineKind::Attribute, "ДатаНачала", "01.01.2024"};
  const StatementLine balance{LineKind::Attribute, "НачальныйОстаток", "0"};
  switch (state) {
    case ParserContext::Init: return {};
    case ParserContext::Header: return {kExchange};
    case ParserContext::Account: return {kExchange, kAccountStart, number, start, balance};
    case ParserContext::Document: return {kExchange, kDocumentStart};
    case ParserContext::ReadNextSection: return {kExchange, kDocumentStart, kDocumentEnd};
    case ParserContext::Finished: return {kExchange, kDocumentStart, kDocumentEnd, kFileEnd};
  }
  return {};
}

struct Transition {
  ParserContext state;
  const StatementLine* line;
  std::string expected;  // "-> state" or the error
};

TEST(Transitions, EveryStateAgainstEveryKindOfLine) {
  using C = ParserContext;
  const std::string ds = "СекцияДокумент=Платежное поручение";
  const std::vector<Transition> table = {
      {C::Init, &kExchange, "-> header"},
      {C::Init, &kAccountStart, "UnexpectedSection(1, СекцияРасчСчет, init)"},
      {C::Init, &kAccountEnd, "UnexpectedSection(1, КонецРасчСчет, init)"},
      {C::Init, &kDocumentStart, "UnexpectedSection(1, " + ds + ", init)"},
      {C::Init, &kDocumentEnd, "UnexpectedSection(1, КонецДокумента, init)"},
      {C::Init, &kFileEnd, "UnexpectedSection(1, КонецФайла, init)"},
      {C::Init, &kAttribute, "UnexpectedAttribute(1, Ключ, Значение)"},

      {C::Header, &kExchange, "UnexpectedSection(2, 1CClientBankExchange, header)"},
      {C::Header, &kAccountStart, "-> account"},
      {C::Header, &kAccountEnd, "UnexpectedSection(2, КонецРасчСчет, header)"},
      {C::Header, &kDocumentStart, "-> document"},
      {C::Header, &kDocumentEnd, "UnexpectedSection(2, КонецДокумента, header)"},
      {C::Header, &kFileEnd, "UnexpectedSection(2, КонецФайла, header)"},
      {C::Header, &kAttribute, "-> header"},

      {C::Account, &kExchange, "UnexpectedSection(6, 1CClientBankExchange, account)"},
      {C::Account, &kAccountStart, "UnexpectedSection(6, СекцияРасчСчет, account)"},
      {C::Account, &kAccountEnd, "-> read_next_section"},
      {C::Account, &kDocumentStart, "UnexpectedSection(6, " + ds + ", account)"},
      {C::Account, &kDocumentEnd, "UnexpectedSection(6, КонецДокумента, account)"},
      {C::Account, &kFileEnd, "UnexpectedSection(6, КонецФайла, account)"},
      {C::Account, &kAttribute, "-> account"},

      {C::Document, &kExchange, "UnexpectedSection(3, 1CClientBankExchange, document)"},
      {C::Document, &kAccountStart, "UnexpectedSection(3, СекцияРасчСчет, document)"},
      {C::Document, &kAccountEnd, "UnexpectedSection(3, КонецРасчСчет, document)"},
      {C::Document, &kDocumentStart, "UnexpectedSection(3, " + ds + ", document)"},
      {C::Document, &kDocumentEnd, "-> read_next_section"},
      {C::Document, &kFileEnd, "UnexpectedSection(3, КонецФайла, document)"},
      {C::Document, &kAttribute, "-> document"},

      {C::ReadNextSection, &kExchange, "UnexpectedSection(4, 1CClientBankExchange, read_next_section)"},
      {C::ReadNextSection, &kAccountStart, "-> account"},
      {C::ReadNextSection, &kAccountEnd, "UnexpectedSection(4, КонецРасчСчет, read_next_section)"},
      {C::ReadNextSection, &kDocumentStart, "-> document"},
      {C::ReadNextSection, &kDocumentEnd, "UnexpectedSection(4, КонецДокумента, read_next_section)"},
      {C::ReadNextSection, &kFileEnd, "-> finished"},
      {C::ReadNextSection, &kAttribute, "UnexpectedAttribute(4, Ключ, Значение)"},

      {C::Finished, &kExchange, "UnexpectedSection(5, 1CClientBankExchange, finished)"},
      {C::Finished, &kAccountStart, "UnexpectedSection(5, СекцияРасчСчет, finished)"},
      {C::Finished, &kAccountEnd, "UnexpectedSection(5, КонецРасчСчет, finished)"},
      {C::Finished, &kDocumentStart, "UnexpectedSection(5, " + ds + ", finished)"},
      {C::Finished, &kDocumentEnd, "UnexpectedSection(5, КонецДокумента, finished)"},
      {C::Finished, &kFileEnd, "UnexpectedSection(5, КонецФайла, finished)"},
      {C::Finished, &kAttribute, "UnexpectedAttribute(5, Ключ, Значение)"},
  };
  for (const Transition& t : table) {
    SCOPED_TRACE(std::string(context_name(t.state)) + " + " + canonical_text(*t.line) + std::string(t.line->key));
    SectionReader reader({}, Encoding::UTF8);
    LineNo n = 0;
    for (const StatementLine& line : prefix_for(t.state)) {
      auto r = reader.step(++n, line);
      ASSERT_TRUE(r) << describe(r.error());
    }
    ASSERT_EQ(reader.state(), t.state);
    auto r = reader.step(++n, *t.line);
    EXPECT_EQ(r ? std::string("-> ") + context_name(reader.state()) : describe(r.error()), t.expected);
  }
}

// ---------------------------------------------------------------------------
// The same rules seen through whole statements, with real line numbers.

struct Case {
  std::string input;
  std::string expected;
  const char* why;
};

void expect_cases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    EXPECT_EQ(describe(parse(c.input)), c.expected);
  }
}

const std::string kAccount = "СекцияРасчСчет\n"
                             "РасчСчет=40702810000000000001\n"
                             "ДатаНачала=01.03.2024\n"
                             "НачальныйОстаток=100.00\n"
                             "КонецРасчСчет\n";

TEST(Rejections, LinesThatTheStateDoesNotAllow) {
  const std::string head = "1CClientBankExchange\nВерсияФормата=1.03\n\n";  // three lines
  expect_cases({
      {head + "КонецФайла\n", "UnexpectedSection(4, КонецФайла, header)", "a statement needs a section"},
      {head + "КонецДокумента\n", "UnexpectedSection(4, КонецДокумента, header)", "no section is open"},
      {head + "1CClientBankExchange\n", "UnexpectedSection(4, 1CClientBankExchange, header)", "marker again"},
      {head + kAccount + " Ключ = Значение \n", "UnexpectedAttribute(9, Ключ, Значение)",
       "attribute between sections, key and value trimmed"},
      {head + kAccount + "=\n", "UnexpectedAttribute(9, , )", "empty attribute between sections"},
      {head + "СекцияРасчСчет\nРасчСчет=1\nСекцияДокумент = Платежное поручение\n",
       "UnexpectedSection(6, СекцияДокумент=Платежное поручение, account)", "document start inside an account"},
      {head + "СекцияРасчСчет\nСекцияРасчСчет\n", "UnexpectedSection(5, СекцияРасчСчет, account)",
       "sections do not nest"},
      {head + "СекцияРасчСчет\nКонецДокумента\n", "UnexpectedSection(5, КонецДокумента, account)",
       "wrong closing line"},
      {head + "СекцияДокумент=\nКонецРасчСчет\n", "UnexpectedSection(5, КонецРасчСчет, document)",
       "wrong closing line of a document"},
      {head + "СекцияДокумент=x\nСекцияРасчСчет\n", "UnexpectedSection(5, СекцияРасчСчет, document)",
       "account start inside a document"},
      {head + "СекцияДокумент=x\nКонецФайла\n", "UnexpectedSection(5, КонецФайла, document)",
       "end of file inside a document"},
      {head + kAccount + "КонецРасчСчет\n", "UnexpectedSection(9, КонецРасчСчет, read_next_section)",
       "closing twice"},
      {head + kAccount + "КонецФайла\n\nКонецФайла\n", "UnexpectedSection(11, КонецФайла, finished)",
       "a second end of file"},
      {head + kAccount + "КонецФайла\nА=1\n", "UnexpectedAttribute(10, А, 1)", "attribute after the end"},
      {head + kAccount + "КонецФайла\nСекцияРасчСчет\n", "UnexpectedSection(10, СекцияРасчСчет, finished)",
       "section after the end"},
      {head + kAccount + "КонецФайла\n \n\t\n", "ok", "blank lines after the end"},
  });
}

TEST(Rejections, TextEndingBeforeTheEndOfFileIsUnfinished) {
  const std::string head = "1CClientBankExchange\nВерсияФормата=1.03\n";
  expect_cases({
      {head, "Unfinished", "in the header"},
      {head + "СекцияРасчСчет\nРасчСчет=1\n", "Unfinished", "inside an account section"},
      {head + "СекцияДокумент=x\n" + std::string(kMinimalDocument), "Unfinished", "inside a document section"},
      {head + kAccount, "Unfinished", "between sections"},
      {head + kAccount + "\n\n", "Unfinished", "between sections, blank lines after"},
  });
}

TEST(Rejections, AccountSectionsThatCannotBeFiled) {
  const std::string head = "1CClientBankExchange\n";
  const std::string doc = "СекцияДокумент=x\nКонецДокумента\n";  // fails: a warning, not an error
  expect_cases({
      {head + "СекцияРасчСчет\nКонецРасчСчет\nКонецФайла\n", "AccountParseError(3, missing field `ДатаНачала`)",
       "empty section: the interval fails before the number is looked up"},
      {head + "СекцияРасчСчет\nДатаНачала=01.01.2024\nНачальныйОстаток=1\n\nКонецРасчСчет\nКонецФайла\n",
       "MissingField(6, РасчСчет, account)", "interval built, number missing"},
      {head + "СекцияРасчСчет\nРасчСчет=1\nДатаНачала=01.01.2024\nКонецРасчСчет\n",
       "AccountParseError(5, missing field `НачальныйОстаток`)", "no opening balance"},
      {head + "СекцияРасчСчет\nРасчСчет=1\nДатаНачала=31.04.2024\nНачальныйОстаток=1\nКонецРасчСчет\n",
       "AccountParseError(6, input is out of range)", "impossible date"},
      {head + doc + "СекцияРасчСчет\nРасчСчет=1\nДатаНачала=01.01.2024\nНачальныйОстаток=1,5\nКонецРасчСчет\n",
       "AccountParseError(8, invalid value: string \"1,5\", expected a Decimal type representing a fixed-point "
       "number)",
       "a bad amount is an error even after a document warning"},
  });
}

TEST(Statement, HeaderKeepsFirstPositionsAndLastValues) {
  auto r = parse("1CClientBankExchange\nА=1\nБ=2\nА=3\nВ=\nБ=4\n" + kOneDocument);
  ASSERT_TRUE(r) << describe(r);
  const std::vector<AttributeMap::Entry> expected = {{"А", "3"}, {"Б", "4"}, {"В", ""}};
  EXPECT_EQ(r->header.entries(), expected);
}

TEST(Statement, LongHeaderWithRepeatsKeepsOneEntryPerKey) {
  // More keys than a section has room for at the start.
  std::string input = "1CClientBankExchange\n";
  std::vector<AttributeMap::Entry> expected;
  for (int i = 0; i < 80; ++i) {
    input += "Ключ" + std::to_string(i) + "=" + std::to_string(i) + "\n";
    expected.push_back({"Ключ" + std::to_string(i), std::to_string(i)});
  }
  for (int i : {0, 31, 32, 33, 79, 5}) {
    input += "Ключ" + std::to_string(i) + "=новое" + std::to_string(i) + "\n";
    expected[static_cast<std::size_t>(i)].second = "новое" + std::to_string(i);
  }
  auto r = parse(input + kOneDocument);
  ASSERT_TRUE(r) << describe(r);
  EXPECT_EQ(r->header.entries(), expected);
  ASSERT_NE(r->header.find("Ключ33"), nullptr);
  EXPECT_EQ(*r->header.find("Ключ33"), "новое33");
  EXPECT_EQ(r->header.find("Ключ80"), nullptr);
}

TEST(Statement, RecordsInTheirOrder) {
  const std::string input = "1CClientBankExchange\n"
                            "ВерсияФормата=1.03\n"
                            "СекцияДокумент=Платежное поручение\n" +
                            std::string(kMinimalDocument) +
                            "КонецДокумента\n"
                            "СекцияРасчСчет\nРасчСчет=2\nДатаНачала=01.02.2024\nНачальныйОстаток=5\nКонецРасчСчет\n"
                            "СекцияДокумент=Банковский ордер\n" +  // line 22
                            "Номер=2\nКонецДокумента\n" +            // lines 23, 24
                            "СекцияРасчСчет\nРасчСчет=1\nДатаНачала=01.01.2024\nНачальныйОстаток=7\nКонецРасчСчет\n"
                            "СекцияДокумент=Мемориальный ордер\n" + std::string(kMinimalDocument) +
                            "Номер=3\nКонецДокумента\n"
                            "СекцияРасчСчет\nРасчСчет=2\nДатаНачала=01.01.2024\nНачальныйОстаток=9\nКонецРасчСчет\n"
                            "КонецФайла\n";
  auto r = parse(input);
  ASSERT_TRUE(r) << describe(r);
  EXPECT_EQ(r->encoding, Encoding::UTF8);
  ASSERT_EQ(r->accounts.size(), 2u);
  EXPECT_EQ(r->accounts[0].number, "2");  // first seen, not sorted
  EXPECT_EQ(r->accounts[1].number, "1");
  ASSERT_EQ(r->accounts[0].intervals.size(), 2u);
  EXPECT_EQ(format_date(r->accounts[0].intervals[0].date_start), "2024-01-01");
  EXPECT_EQ(format_date(r->accounts[0].intervals[1].date_start), "2024-02-01");
  ASSERT_EQ(r->documents.size(), 2u);
  EXPECT_EQ(r->documents[0].text(DocField::Type), "Платежное поручение");
  EXPECT_EQ(r->documents[1].text(DocField::Type), "Мемориальный ордер");
  EXPECT_EQ(r->documents[1].text(DocField::Number), "3");
  ASSERT_EQ(r->warnings.size(), 1u);
  EXPECT_EQ(r->warnings[0].lineno, 24u);
  EXPECT_EQ(r->warnings[0].message, "missing field `Дата`");
}

TEST(Statement, RepeatedKeyInASectionTakesTheLastValue) {
  auto r = parse("1CClientBankExchange\nСекцияДокумент=x\n" + std::string(kMinimalDocument) +
                 "Номер=99\nСумма=7\nКонецДокумента\n"
                 "СекцияРасчСчет\nРасчСчет=1\nДатаНачала=01.01.2024\nНачальныйОстаток=1\nДатаНачала=02.01.2024\n"
                 "КонецРасчСчет\nКонецФайла\n");
  ASSERT_TRUE(r) << describe(r);
  ASSERT_EQ(r->documents.size(), 1u);
  EXPECT_TRUE(r->warnings.empty());
  EXPECT_EQ(r->documents[0].text(DocField::Number), "99");
  EXPECT_EQ(format_amount(r->documents[0].amount), "7");
  ASSERT_EQ(r->accounts.size(), 1u);
  EXPECT_EQ(format_date(r->accounts[0].intervals[0].date_start), "2024-01-02");
}

TEST(Statement, FailedDocumentIsAWarningAndTheParseGoesOn) {
  auto r = parse("1CClientBankExchange\n" + kAccount +
                 "СекцияДокумент=x\nДата=05.03.2024\nКонецДокумента\n"  // lines 7-9, no Номер
                 "СекцияДокумент=x\n" +
                 std::string(kMinimalDocument) + "Дата=\nКонецДокумента\n" +  // line 24
                 "СекцияДокумент=Платежное поручение\n" + std::string(kMinimalDocument) +
                 "КонецДокумента\nКонецФайла\n");
  ASSERT_TRUE(r) << describe(r);
  ASSERT_EQ(r->warnings.size(), 2u);
  EXPECT_EQ(r->warnings[0].lineno, 9u);
  EXPECT_EQ(r->warnings[0].message, "missing field `Номер`");
  EXPECT_EQ(r->warnings[1].lineno, 24u);
  EXPECT_EQ(r->warnings[1].message, "empty string is not a valid date");
  ASSERT_EQ(r->documents.size(), 1u);
  EXPECT_EQ(r->documents[0].text(DocField::Number), "17");
  ASSERT_EQ(r->accounts.size(), 1u);
}

TEST(Statement, Windows1251InputIsReportedAsSuch) {
  auto r = parse(testing::to_cp1251(testing::kStatement));
  ASSERT_TRUE(r) << describe(r);
  EXPECT_EQ(r->encoding, Encoding::CP1251);
  ASSERT_EQ(r->documents.size(), 1u);
  EXPECT_EQ(r->documents[0].text(DocField::PayeeBank1), "ПАО Банк");
}

// ---------------------------------------------------------------------------
// Hooks.

std::string render(const AttributeMap& m) {
  std::string out;
  for (const auto& [k, v] : m.entries()) out += (out.empty() ? "" : ",") + k + "=" + v;
  return out;
}

const char* type_name(SectionType t) { return t == SectionType::Account ? "Account" : "Document"; }

// Writes "name:type{attrs}" for every call.
class Recorder : public Hook {
 public:
  Recorder(std::string name, std::vector<std::string>& log) : name_(std::move(name)), log_(log) {}
  HookOutcome on_section(SectionType type, AttributeMap& attrs, const AttributeMap& header) noexcept override {
    log_.push_back(name_ + ":" + type_name(type) + "{" + render(attrs) + "}");
    last_header = render(header);
    return HookOutcome::ok();
  }
  std::string last_header;

 private:
  std::string name_;
  std::vector<std::string>& log_;
};

class Setter : public Hook {
 public:
  Setter(std::string key, std::string value) : key_(std::move(key)), value_(std::move(value)) {}
  HookOutcome on_section(SectionType, AttributeMap& attrs, const AttributeMap&) noexcept override {
    attrs.set(key_, value_);
    return HookOutcome::ok();
  }

 private:
  std::string key_, value_;
};

// Removes keys by rebuilding the map without them.
class Remover : public Hook {
 public:
  explicit Remover(std::vector<std::string> keys) : keys_(std::move(keys)) {}
  HookOutcome on_section(SectionType, AttributeMap& attrs, const AttributeMap&) noexcept override {
    const std::vector<AttributeMap::Entry> old = attrs.entries();
    attrs.clear();
    for (const auto& [k, v] : old)
      if (std::find(keys_.begin(), keys_.end(), k) == keys_.end()) attrs.set(k, v);
    return HookOutcome::ok();
  }

 private:
  std::vector<std::string> keys_;
};

class Clearer : public Hook {
 public:
  HookOutcome on_section(SectionType, AttributeMap& attrs, const AttributeMap&) noexcept override {
    attrs.clear();
    return HookOutcome::ok();
  }
};

class NoOp : public Hook {
 public:
  HookOutcome on_section(SectionType, AttributeMap&, const AttributeMap&) noexcept override {
    return HookOutcome::ok();
  }
};

class Failer : public Hook {
 public:
  Failer(std::string message, std::optional<SectionType> only = std::nullopt)
      : message_(std::move(message)), only_(only) {}
  HookOutcome on_section(SectionType type, AttributeMap&, const AttributeMap&) noexcept override {
    if (only_ && *only_ != type) return HookOutcome::ok();
    return HookOutcome::failure(message_);
  }

 private:
  std::string message_;
  std::optional<SectionType> only_;
};

const std::string kShortDocument = "СекцияДокумент=Платежное поручение\nНомер=5\nДата=01.02.2024\nКонецДокумента\n";

TEST(Hooks, CalledInListOrderAtEveryClosingLineWithTheHeader) {
  std::vector<std::string> log;
  Recorder first("first", log), second("second", log);
  auto r = parse("1CClientBankExchange\nВерсия=1\nВерсия=2\nОтправитель=Банк\n" + kAccount + kShortDocument +
                     "КонецФайла\n",
                 {&first, &second});
  ASSERT_TRUE(r) << describe(r);
  const std::vector<std::string> expected = {
      "first:Account{РасчСчет=40702810000000000001,ДатаНачала=01.03.2024,НачальныйОстаток=100.00}",
      "second:Account{РасчСчет=40702810000000000001,ДатаНачала=01.03.2024,НачальныйОстаток=100.00}",
      "first:Document{Номер=5,Дата=01.02.2024}",  // the type is not among them
      "second:Document{Номер=5,Дата=01.02.2024}",
  };
  EXPECT_EQ(log, expected);
  EXPECT_EQ(first.last_header, "Версия=2,Отправитель=Банк");
  EXPECT_EQ(second.last_header, "Версия=2,Отправитель=Банк");
}

TEST(Hooks, SeeTheSectionWithRepeatsResolved) {
  std::string section = "СекцияДокумент=x\n";
  std::string expected = "h:Document{";
  for (int i = 0; i < 40; ++i) section += "Доп" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  section += "Доп3=новое\nДоп39=последнее\nДоп35=а\nДоп35=б\nКонецДокумента\nКонецФайла\n";
  for (int i = 0; i < 40; ++i) {
    const std::string value = i == 3 ? "новое" : i == 39 ? "последнее" : i == 35 ? "б" : std::to_string(i);
    expected += (i ? "," : "") + ("Доп" + std::to_string(i)) + "=" + value;
  }
  std::vector<std::string> log;
  Recorder h("h", log);
  auto r = parse("1CClientBankExchange\n" + section, {&h});
  ASSERT_TRUE(r) << describe(r);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0], expected + "}");
}

TEST(Hooks, EachSeesTheChangesOfTheOnesBefore) {
  std::vector<std::string> log;
  Setter renumber("Номер", "99"), add("Новый", "1");
  Recorder after("after", log);
  auto r = parse("1CClientBankExchange\nСекцияДокумент=x\n" + std::string(kMinimalDocument) +
                     "КонецДокумента\nКонецФайла\n",
                 {&renumber, &add, &after});
  ASSERT_TRUE(r) << describe(r);
  ASSERT_EQ(log.size(), 1u);
  EXPECT_EQ(log[0].rfind("after:Document{Номер=99,", 0), 0u) << log[0];
  EXPECT_NE(log[0].find(",Новый=1}"), std::string::npos) << log[0];
  ASSERT_EQ(r->documents.size(), 1u);
  EXPECT_EQ(r->documents[0].text(DocField::Number), "99");  // the record is built from the changed map
}

TEST(Hooks, FailureStopsAtTheClosingLine) {
  struct HookCase {
    std::string input;
    std::string expected;
    std::vector<std::string> log;
    const char* why;
  };
  const std::string head = "1CClientBankExchange\n\n";  // two lines
  const std::vector<HookCase> cases = {
      {head + kAccount + "КонецФайла\n", "HookError(7, отказ: счет)",
       {"before:Account{РасчСчет=40702810000000000001,ДатаНачала=01.03.2024,НачальныйОстаток=100.00}"},
       "account section"},
      {head + kShortDocument + "КонецФайла\n", "HookError(6, отказ: счет)",
       {"before:Document{Номер=5,Дата=01.02.2024}"},
       "document section"},
  };
  for (const HookCase& c : cases) {
    SCOPED_TRACE(c.why);
    std::vector<std::string> log;
    Recorder before("before", log), after("after", log);
    Failer failer("отказ: счет");
    EXPECT_EQ(describe(parse(c.input, {&before, &failer, &after})), c.expected);
    EXPECT_EQ(log, c.log);  // later hooks are not called
  }
}

TEST(Hooks, FailureOnALaterSectionEndsTheParse) {
  std::vector<std::string> log;
  Recorder rec("r", log);
  Failer accounts_only("no accounts", SectionType::Account);
  auto r = parse("1CClientBankExchange\n" + kShortDocument + kAccount + "КонецФайла\n", {&rec, &accounts_only});
  EXPECT_EQ(describe(r), "HookError(10, no accounts)");
  EXPECT_EQ(log.size(), 2u);
}

TEST(Hooks, NotCalledForSectionsThatNeverClose) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"1CClientBankExchange\nСекцияДокумент=x\nНомер=1\n", "Unfinished"},
      {"1CClientBankExchange\nСекцияРасчСчет\nРасчСчет=1\n", "Unfinished"},
      {"1CClientBankExchange\nСекцияРасчСчет\nРасчСчет=1\nКонецФайла\n", "UnexpectedSection(4, КонецФайла, account)"},
      {"1CClientBankExchange\nСекцияДокумент=x\nмусор\nКонецДокумента\n", "UnrecognizedLine(3, мусор)"},
  };
  for (const auto& [input, expected] : cases) {
    SCOPED_TRACE(expected);
    std::vector<std::string> log;
    Recorder rec("r", log);
    Failer failer("must not be asked");
    EXPECT_EQ(describe(parse(input, {&rec, &failer})), expected);
    EXPECT_TRUE(log.empty());
  }
}

TEST(Hooks, ChangesDecideWhatIsBuilt) {
  const std::string doc = "1CClientBankExchange\nСекцияДокумент=Платежное поручение\n" +
                          std::string(kMinimalDocument) + "КонецДокумента\nКонецФайла\n";  // closes on line 15
  const std::string acc = "1CClientBankExchange\n" + kAccount + "КонецФайла\n";                // closes on line 6
  struct HookCase {
    std::string input;
    Hook* hook;
    std::string expected;  // the error, or the warnings of the statement
    const char* why;
  };
  Clearer clear;
  Remover no_amount({"Сумма"}), no_number({"РасчСчет"});
  Setter type("СекцияДокумент", "Платежное поручение"), unknown("Неизвестный", "x"),
      bad_start("ДатаНачала", "31.02.2024"), spaced_date("Дата", "\t05.03.2024"), trailing_date("Дата", "05.03.2024 "),
      spaced_amount("Сумма", " 1");
  const std::vector<HookCase> cases = {
      {doc, &clear, "W 15 missing field `Номер`", "an emptied document is a warning"},
      {doc, &no_amount, "W 15 missing field `Сумма`", "a removed amount"},
      {doc, &type, "W 15 duplicate field `СекцияДокумент`", "the type added as a key"},
      {doc, &unknown, "", "an unknown key changes nothing"},
      {doc, &spaced_date, "", "white space before a date is skipped"},
      {doc, &trailing_date, "W 15 trailing input", "white space after a date"},
      {doc, &spaced_amount,
       "W 15 invalid value: string \" 1\", expected a Decimal type representing a fixed-point number",
       "white space in an amount"},
      {acc, &clear, "AccountParseError(6, missing field `ДатаНачала`)", "an emptied account is an error"},
      {acc, &no_number, "MissingField(6, РасчСчет, account)", "a removed account number"},
      {acc, &bad_start, "AccountParseError(6, input is out of range)", "a bad start date"},
  };
  for (const HookCase& c : cases) {
    SCOPED_TRACE(c.why);
    auto r = parse(c.input, {c.hook});
    std::string got;
    if (r) {
      for (const Warning& w : r->warnings) got += "W " + std::to_string(w.lineno) + " " + w.message;
    } else {
      got = describe(r.error());
    }
    EXPECT_EQ(got, c.expected);
  }
}

TEST(Hooks, ChangedAccountNumberFilesTheInterval) {
  Setter renumber("РасчСчет", "30101810400000000225");
  auto r = parse("1CClientBankExchange\n" + kAccount + "КонецФайла\n", {&renumber});
  ASSERT_TRUE(r) << describe(r);
  ASSERT_EQ(r->accounts.size(), 1u);
  EXPECT_EQ(r->accounts[0].number, "30101810400000000225");
}

TEST(Hooks, NoHooksAndHooksThatChangeNothingGiveTheSameStatement) {
  const std::string input = "1CClientBankExchange\nВерсияФормата=1.03\nВерсияФормата=1.04\n" + kAccount +
                            "СекцияРасчСчет\nРасчСчет=40702810000000000001\nДатаНачала=01.03.2024\n"
                            "НачальныйОстаток=100\nКонецРасчСчет\n" +
                            "СекцияРасчСчет\nРасчСчет=2\nДатаНачала=01.02.2024\nНачальныйОстаток=-0.00\n"
                            "КонечныйОстаток=5e2\nДатаКонца=\nКонецРасчСчет\n" +
                            kShortDocument + "СекцияДокумент=Платежное поручение\n" + std::string(kMinimalDocument) +
                            "Номер=\nПлательщикКПП=\nДатаСписано=\nНеизвестный=1\nКонецДокумента\nКонецФайла\n";
  auto plain = parse(input);
  ASSERT_TRUE(plain) << describe(plain);
  ASSERT_EQ(plain->documents.size(), 1u);
  ASSERT_EQ(plain->warnings.size(), 1u);

  NoOp a, b;
  std::vector<std::string> log;
  Recorder rec("r", log);
  Remover nothing({"нет такого ключа"});  // rebuilds the map with the same pairs
  auto hooked = parse(input, {&a, &rec, &nothing, &b});
  ASSERT_TRUE(hooked) << describe(hooked);
  EXPECT_EQ(dump(*hooked), dump(*plain));
  EXPECT_EQ(log.size(), 5u);
}

}  // namespace
}  // namespace mirtle
