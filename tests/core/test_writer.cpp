// The writer: its canonical text, every refusal with its message, the Кодировка rule, the
// windows-1251 table as the reader's inverse, and the round trip over samples and random statements.
#include <map>
#include <optional>
#include <random>

#include "mirtle/sections.hpp"
#include "mirtle/writer.hpp"
#include "support.hpp"
#include "mirtle/decode.hpp"

namespace mirtle::testing {
namespace {

const WriteOptions kUtf8Lf{Encoding::UTF8, Newline::LF, false};
const WriteOptions kAllOptions[] = {{Encoding::CP1251, Newline::CRLF, false},
                                    {Encoding::CP1251, Newline::LF, false},
                                    {Encoding::UTF8, Newline::CRLF, false},
                                    kUtf8Lf};

// Records equal field by field, written scales and absent-versus-empty included; not the warnings.
std::string records(const Statement& s) {
  Statement copy;
  copy.header = s.header;
  copy.accounts = s.accounts;
  for (const Document& d : s.documents) copy.documents.push_back(d);
  return dump(copy).substr(dump(copy).find('\n') + 1);
}

// A hook that puts `value` under `key` in every document section: how texts that the reader never
// gives (white space at the ends, line breaks) reach a Document.
class SetHook final : public Hook {
 public:
  SetHook(std::string key, std::string value) : key_(std::move(key)), value_(std::move(value)) {}
  HookOutcome on_section(SectionType type, AttributeMap& attrs, const AttributeMap&) noexcept override {
    if (type == SectionType::Document) attrs.set(std::string_view(key_), std::string_view(value_));
    return HookOutcome::ok();
  }

 private:
  std::string key_, value_;
};

Statement parsed(std::string_view text, const std::vector<Hook*>& hooks = {}) {
  auto r = parse(text, hooks);
  EXPECT_TRUE(r) << summary(r);
  return r ? std::move(r).value() : Statement{};
}

Statement with_hook(std::string key, std::string value) {
  SetHook hook(std::move(key), std::move(value));
  return parsed(kStatement, {&hook});
}

RawStatement raw(std::vector<RawAttribute> header, std::vector<RawAttribute> attributes,
                 SectionType type = SectionType::Document, std::string doc_type = "Платежное поручение") {
  RawStatement s;
  s.header = std::move(header);
  s.sections.push_back(RawSection{type, std::move(doc_type), 0, 0, std::move(attributes)});
  return s;
}

TEST(Writer, CanonicalText) {
  const Statement s = parsed(
      "1CClientBankExchange\n Кодировка = UTF-8\nА=1\nСекцияДокумент=Платежное поручение\n" + std::string(kMinimalDocument) +
      "ПлательщикКПП=\nДатаСписано=\nДатаПоступило=1.2.23\nСумма=1e3\nКод=a=b\nКонецДокумента\nСекцияРасчСчет\n"
      "ДатаНачала=29.02.-4\nРасчСчет=40702\nНачальныйОстаток=-0.00\nВсегоСписано=.5\nДатаКонца=01.01.+20231\n"
      "КонецРасчСчет\nКонецФайла\n");
  const std::string expected =
      "1CClientBankExchange\nКодировка=UTF-8\nА=1\nСекцияРасчСчет\nДатаНачала=29.02.-0004\n"
      "ДатаКонца=01.01.+20231\nРасчСчет=40702\nНачальныйОстаток=0.00\nВсегоСписано=0.5\nКонецРасчСчет\n"
      "СекцияДокумент=Платежное поручение\nНомер=17\nДата=05.03.2024\nНазначениеПлатежа=Оплата по счету 5\n"
      "Сумма=1000\nПлательщикИНН=7701000000\nПлательщикКПП=\nПлательщикБИК=044525000\nПлательщикБанк1=АО Банк\n"
      "ПлательщикСчет=40702810000000000001\nПолучательИНН=7702000000\nПолучательСчет=40702810000000000002\n"
      "ПолучательБИК=044525001\nПолучательБанк1=ПАО Банк\nДатаПоступило=01.02.0023\nКод=a=b\nКонецДокумента\n"
      "КонецФайла\n";
  auto utf8 = write_statement(s, kUtf8Lf);
  ASSERT_TRUE(utf8) << message(utf8.error());
  EXPECT_EQ(*utf8, expected);
  // windows-1251 with CR LF: the same text, byte for byte through the reader's own table.
  WriteOptions cp1251{Encoding::CP1251, Newline::CRLF, true};
  auto bytes = write_statement(s, cp1251);
  ASSERT_TRUE(bytes) << message(bytes.error());
  std::string decoded(bytes->size() * 3 + 1, '\0');
  decoded.resize(text::decode_windows1251(*bytes, decoded.data()));
  std::string crlf;
  for (const char c : expected) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
  const std::string given = "Кодировка=UTF-8";
  EXPECT_EQ(decoded, crlf.replace(crlf.find(given), given.size(), "Кодировка=Windows"));
}

// Every refusal, with the message that names its place, key and reason.
TEST(Writer, Refusals) {
  const WriteOptions cp1251{};
  RawStatement no_section = raw({{1, "А", "1"}}, {});
  no_section.sections.clear();
  Statement all_warnings = parsed("1CClientBankExchange\nСекцияДокумент=x\nНомер=1\nКонецДокумента\nКонецФайла\n");
  auto changed = [&](auto change) {
    Statement s = parsed(
        "1CClientBankExchange\nСекцияРасчСчет\nРасчСчет=1\nДатаНачала=01.01.2024\nНачальныйОстаток=1\nКонецРасчСчет\n"
        "СекцияРасчСчет\nРасчСчет=2\nДатаНачала=01.01.2024\nНачальныйОстаток=1\nКонецРасчСчет\n"
        "СекцияРасчСчет\nРасчСчет=2\nДатаНачала=01.02.2024\nНачальныйОстаток=1\nКонецРасчСчет\nКонецФайла\n");
    change(s);
    return s;
  };
  const std::string copyright = repeat("©", 40) + repeat("x", 600);  // © is U+00A9, byte A9
  struct Row {
    std::variant<RawStatement, Statement> input;
    WriteOptions options;
    std::string expected, why;
  };
  const std::string sec0 = "section 0 (document), key ", sec1a = "section 1 (account), key ";
  const std::vector<Row> rows = {
      {raw({{1, "А", "a\nb"}}, {}), cp1251, "the header, key \"А\": the value holds a line feed or a carriage return",
       "line feed"},
      {raw({}, {{1, "a\rb", "1"}}), kUtf8Lf, sec0 + "\"a\\rb\": the key holds a line feed or a carriage return",
       "a lone CR, kept by this reader, split by others"},
      {raw({}, {{1, "", "5"}}), cp1251, "section 0 (document): the key is empty", "empty key"},
      {raw({}, {{1, "a=b", "5"}}), cp1251, sec0 + "\"a=b\": the key holds \"=\", which would end it early", "="},
      {raw({}, {{1, "Ключ\u00A0", "5"}}), cp1251,
       sec0 + "\"Ключ\\u{a0}\": the key has white space at its start or end, which a reader would trim",
       "a no-break space is white space too"},
      {raw({}, {{1, "К", "\u3000x"}}), kUtf8Lf,
       sec0 + "\"К\": the value has white space at its start or end, which a reader would trim", "ideographic space"},
      {raw({}, {{1, "К", "1"}}, SectionType::Document, "Платежное "), cp1251,
       sec0 + "\"СекцияДокумент\": the value has white space at its start or end, which a reader would trim",
       "the document type is a value"},
      {raw({{1, "КонецФайла", "1"}}, {}), cp1251, "the header, key \"КонецФайла\": the key is a keyword of the format",
       "keyword"},
      {raw({}, {{1, "СекцияДокумент", "1"}}), cp1251,
       sec0 + "\"СекцияДокумент\": the key is a keyword of the format", "would open a section"},
      {raw({}, {{1, "К", "100 ₽"}}), cp1251,
       sec0 + "\"К\": the character U+20BD has no windows-1251 form; write UTF-8 instead", "ruble sign"},
      {raw({}, {{1, "К", "a\xFFz"}}), kUtf8Lf, sec0 + "\"К\": the text is not well-formed UTF-8",
       "found by the whole-text check, named by the second pass"},
      {raw({}, {{1, "К", "\xED\xA0\x80"}}), cp1251, sec0 + "\"К\": the text is not well-formed UTF-8", "surrogate"},
      {raw({}, {{1, "К", copyright}}), cp1251,
       "the statement: more than 4% of the first 20480 characters would be control characters or in "
       "U+0080..U+03FF, so a reader would not take the text for windows-1251; write UTF-8 instead",
       "plausibility"},
      {raw({{1, "Кодировка", "utf8"}}, {}), cp1251,
       "the header, key \"Кодировка\": the value names another encoding than the output's; write the other "
       "encoding, or have the writer update the header",
       "Кодировка"},
      {no_section, cp1251,
       "the statement: there is no section to write, and a reader refuses a statement without one", "stream"},
      {all_warnings, cp1251,
       "the statement: there is no section to write, and a reader refuses a statement without one",
       "every document became a warning"},
      {with_hook("Номер", " 17"), cp1251,
       sec0 + "\"Номер\": the value has white space at its start or end, which a reader would trim", "records path"},
      {with_hook("ПлательщикКПП", "1\n2"), cp1251,
       sec0 + "\"ПлательщикКПП\": the value holds a line feed or a carriage return", "optional text"},
      {changed([](Statement& s) { s.accounts[1].intervals[1].date_start = {2023, 1, 1}; }), cp1251,
       "section 2 (account), key \"ДатаНачала\": the interval starts before the one written before it, and a "
       "reader would reorder them",
       "unsorted"},
      {changed([](Statement& s) { s.accounts[1].intervals[1] = s.accounts[1].intervals[0]; }), cp1251,
       "section 2 (account), key \"ДатаНачала\": the interval equals an earlier one of the same account, and a "
       "reader would drop it",
       "repeat"},
      {changed([](Statement& s) { s.accounts[1].number = "1"; }), cp1251,
       sec1a + "\"РасчСчет\": the account number is that of an earlier account, and a reader would merge them",
       "merged"},
      {changed([](Statement& s) { s.accounts[1].intervals.clear(); }), cp1251,
       sec1a + "\"РасчСчет\": the account has no interval, so it has no section to be written in", "no section"},
      {changed([](Statement& s) { s.accounts[1].intervals[0].date_end = Date{2023, 2, 29}; }), cp1251,
       sec1a + "\"ДатаКонца\": the date does not exist in the calendar or its year is out of range", "29 Feb 2023"},
      {changed([](Statement& s) { s.accounts[0].intervals[0].start_amount = Decimal{0, 0, 2, true}; }), cp1251,
       "section 0 (account), key \"НачальныйОстаток\": the amount has a scale above 28 or is a negative zero",
       "-0 reads back as 0"},
      {changed([](Statement& s) { s.accounts[1].intervals[0].total_income = Decimal{1, 0, 29, false}; }), cp1251,
       sec1a + "\"ВсегоПоступило\": the amount has a scale above 28 or is a negative zero", "scale 29"},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.why);
    std::string out = "kept";
    auto written = std::visit(
        [&](const auto& s) {
          if constexpr (std::is_same_v<std::decay_t<decltype(s)>, Statement>)
            return write_statement(s, row.options, out);
          else
            return write_sections(s, row.options, out);
        },
        row.input);
    ASSERT_FALSE(written);
    EXPECT_EQ(message(written.error()), row.expected);
    EXPECT_EQ(out, "kept");  // a refusal leaves the caller's text as it was
  }
}

// Кодировка against each output encoding: refused, written as given, or updated.
TEST(Writer, EncodingHeader) {
  const std::vector<std::tuple<std::string, std::string, std::string, std::string>> rows = {
      // value, for windows-1251, for UTF-8, why
      {"Windows", "Windows", "refused", "the usual windows-1251 name"},
      {"WINDOWS-1251", "WINDOWS-1251", "refused", "ASCII case is ignored"},
      {"UTF-8", "refused", "UTF-8", "the UTF-8 name"},
      {"DOS", "refused", "refused", "an encoding never written"},
      {"КОИ-8", "КОИ-8", "КОИ-8", "unknown values are data"},
      {"", "", "", "empty is unknown"},
  };
  for (const auto& [value, for_cp1251, for_utf8, why] : rows) {
    SCOPED_TRACE(why);
    const RawStatement s = raw({{1, "Кодировка", value}, {2, "Кодировка", value}}, {{3, "К", "1"}});
    for (const auto& [encoding, expected] :
         {std::pair{Encoding::CP1251, for_cp1251}, std::pair{Encoding::UTF8, for_utf8}}) {
      for (const bool update : {false, true}) {
        auto written = write_sections(s, {encoding, Newline::LF, update});
        const std::string want = update ? (encoding == Encoding::UTF8 ? "UTF-8" : "Windows") : expected;
        if (want == "refused") {
          EXPECT_FALSE(written);
          continue;
        }
        ASSERT_TRUE(written) << message(written.error());
        const Statement back = parsed(*written);
        ASSERT_NE(back.header.find("Кодировка"), nullptr);
        EXPECT_EQ(*back.header.find("Кодировка"), want);
      }
    }
  }
}

// Every windows-1251 character is written as its byte: the writer's table is the reader's, inverted.
TEST(Writer, EveryWindows1251Character) {
  for (unsigned byte = 0x20; byte <= 0xFF; ++byte) {
    if (byte == 0x20 || byte == 0x7F || byte == 0xA0) continue;  // white space, and a control at the end
    const char in = static_cast<char>(byte);
    std::string character(4, '\0');
    character.resize(text::decode_windows1251(std::string_view(&in, 1), character.data()));
    SCOPED_TRACE(character);
    auto written = write_sections(raw({}, {{1, "К", "Щ" + character + "Щ"}}), {Encoding::CP1251, Newline::LF, false});
    ASSERT_TRUE(written) << message(written.error());
    EXPECT_NE(written->find(std::string{'\xD9', static_cast<char>(byte), '\xD9'}), std::string::npos);
  }
}

// Long texts of letters, ASCII and the characters around them, each alone and at every place in a
// block, as a model writes them a character at a time: the reader's table inverted, the first
// line break or fault refused.
TEST(Writer, TextsAsTheirCharacters) {
  std::map<char32_t, char> bytes;
  for (unsigned byte = 0; byte <= 0xFF; ++byte) {
    const char in = static_cast<char>(byte);
    char utf8[4];
    const std::size_t n = text::decode_windows1251(std::string_view(&in, 1), utf8);
    char32_t cp = static_cast<unsigned char>(utf8[0]);
    if (cp >= 0x80)
      text::decode_sequence(reinterpret_cast<const unsigned char*>(utf8), reinterpret_cast<const unsigned char*>(utf8) + n, cp);
    bytes[cp] = in;
  }
  const std::vector<std::string> common = {"a", "1 ", "Ж", "ж", "я", "А", "п", "р", "Я", ".", "Ё", "ё", "№"};
  const std::vector<std::string> rare = {"«", "€", "₽", "\n", "\r", "\xFF", "\xD0", "\xD1\x90", "\xD0\x80",
                                         "\xD1\xC0", "\xD0\x8F", "\xD1\x7F", "\xC2\xA0"};
  std::mt19937 rng(20261209);
  int written = 0, refused = 0;
  for (int round = 0; round < 4000; ++round) {
    // Some start with ASCII, so that nothing is dropped before the first letter's lead.
    std::string value = round % 2 == 0 ? "Щ" : std::string("01234567abcdefgh").substr(0, 1 + rng() % 16);
    for (auto n = rng() % 60; n > 0; --n) value += rng() % 40 == 0 ? rare[rng() % rare.size()] : common[rng() % common.size()];
    value += "Щ";
    std::string expected;
    struct Fault {
      WriteErrorKind kind;
      char32_t code_point = 0;
    };
    std::optional<Fault> fault;
    if (value.find_first_of("\r\n") != std::string::npos) fault = Fault{WriteErrorKind::LineBreakInValue};
    const auto* p = reinterpret_cast<const unsigned char*>(value.data());
    const auto* const end = p + value.size();
    while (!fault && p < end) {
      char32_t cp = *p;
      const std::size_t n = *p < 0x80 ? 1 : text::decode_sequence(p, end, cp);
      if (n == 0) fault = Fault{WriteErrorKind::InvalidUtf8};
      else if (!bytes.contains(cp)) fault = Fault{WriteErrorKind::NotInWindows1251, cp};
      else expected += bytes[cp];
      p += n;
    }
    SCOPED_TRACE(value);
    // Letters enough that no mix of characters makes the text look like anything but windows-1251.
    auto text = write_sections(raw({}, {{1, "К", value}, {2, "Я", repeat("Я", 400)}}), {Encoding::CP1251, Newline::LF, false});
    if (fault) {
      ASSERT_FALSE(text);
      EXPECT_EQ(text.error().kind, fault->kind);
      EXPECT_EQ(text.error().code_point, fault->code_point);
      ++refused;
    } else {
      ASSERT_TRUE(text) << message(text.error());
      EXPECT_NE(text->find("\xCA=" + expected + "\n"), std::string::npos);
      ++written;
    }
  }
  EXPECT_GT(written, 1000);
  EXPECT_GT(refused, 1000);
}

// --- the round trip ----------------------------------------------------------------------------

// Either a listed refusal, or parse(write(s)) == s and write(parse(write(s))) == write(s).
// Returns how many of the four forms were written.
int check_round_trip(const Statement& s, const std::string& why) {
  int written_forms = 0;
  for (const WriteOptions& options : kAllOptions) {
    SCOPED_TRACE(why + (options.encoding == Encoding::UTF8 ? " utf-8" : " cp1251") +
                 (options.newline == Newline::LF ? " LF" : " CRLF"));
    auto written = write_statement(s, options);
    if (!written) {
      const WriteErrorKind kind = written.error().kind;
      EXPECT_TRUE(kind == WriteErrorKind::SpaceAroundValue || kind == WriteErrorKind::NoSection ||
                  kind == WriteErrorKind::EncodingHeader || kind == WriteErrorKind::LineBreakInValue ||
                  kind == WriteErrorKind::NotInWindows1251 || kind == WriteErrorKind::ImplausibleWindows1251 ||
                  kind == WriteErrorKind::KeywordKey)
          << message(written.error());
      continue;
    }
    auto back = parse(*written);
    EXPECT_TRUE(back) << summary(back);
    if (!back) continue;
    EXPECT_TRUE(back->warnings.empty());
    EXPECT_EQ(records(*back), records(s));
    auto again = write_statement(*back, options);
    EXPECT_TRUE(again && *again == *written);
    ++written_forms;
  }
  return written_forms;
}

const std::string kData = MIRTLE_TEST_DATA;
const std::vector<std::string> kFiles = {kData + "/../../../examples/statement_utf8.txt",
                                         kData + "/../../../examples/statement_cp1251.txt",
                                         kData + "/generated_cp1251_crlf.txt", kData + "/generated_utf8.txt"};

// The stream without what writing changes: line numbers, and the encoding it was read in.
RawStatement without_line_numbers(RawStatement s) {
  s.encoding = Encoding::UTF8;
  for (RawAttribute& a : s.header) a.lineno = 0;
  for (RawSection& section : s.sections) {
    section.start_line = section.end_line = 0;
    for (RawAttribute& a : section.attributes) a.lineno = 0;
  }
  return s;
}

// The outcome of a parse without line numbers: the records and warning texts, or the error's kind and texts.
std::string outcome(const ParseResult& r) {
  if (!r) return std::string(name(r.error().kind)) + " " + std::string(name(r.error().syntax)) + " " + r.error().text;
  std::string out = records(*r);
  for (const Warning& w : r->warnings) out += "\nW " + w.message;
  return out;
}

// The lossless stream of each file and of its mutations, written and read again, is the same stream,
// and its text parses to what the original parses to; the records of each file round-trip too.
TEST(RoundTrip, FilesAndTheirMutations) {
  int streams = 0, stream_texts = 0, written = 0;
  for (const std::string& file : kFiles) {
    for (const std::string& input : variants(read_file(file), 12)) {
      const ParseResult original = parse(input);
      if (original) written += check_round_trip(*original, file);
      auto stream = read_sections(input);
      if (!stream) continue;
      ++streams;
      for (const WriteOptions& options : kAllOptions) {
        SCOPED_TRACE(file + (options.encoding == Encoding::UTF8 ? " utf-8" : " cp1251"));
        auto text = write_sections(*stream, options);
        if (!text) {
          EXPECT_EQ(text.error().kind, WriteErrorKind::EncodingHeader) << message(text.error());
          continue;
        }
        auto again = read_sections(*text);
        ASSERT_TRUE(again) << summary(again.error());
        EXPECT_EQ(again->encoding, options.encoding);
        EXPECT_TRUE(without_line_numbers(*again) == without_line_numbers(*stream));
        EXPECT_EQ(outcome(parse(*text)), outcome(original));
        auto rewritten = write_sections(*again, options);
        ASSERT_TRUE(rewritten);
        EXPECT_EQ(*rewritten, *text);
        ++stream_texts;
        ++written;
      }
    }
  }
  // Each file's Кодировка names its own encoding, so the other encoding is refused.
  EXPECT_EQ(stream_texts, 2 * streams);
  EXPECT_GT(written, stream_texts);
}

// Random statements from pools of awkward values: signed and two-digit years, exponent amounts,
// empty and absent fields, unknown and repeated keys, broken documents, characters with no
// windows-1251 form, control characters; each parsed, then round-tripped.
TEST(RoundTrip, RandomStatements) {
  const std::vector<std::string> texts = {"", "1", "a=b", "№ 5 «в кавычках»", "Оплата\tпо счету", "100 ₽",
                                          "x\x01y", "Ёлка ёж", "€‰™", "\u00A0внутри\u3000пробелы", "©®"};
  const std::vector<std::string> dates = {"01.02.2024", "1.2.23", "29.02.2024", "01.02.+20231", "29.02.-4",
                                          "31.12.9999", "01.01.0", "", "31.02.2024"};
  const std::vector<std::string> amounts = {"0",      "-0.00", "100.50", "1_000.5", "1e3", "15e-1", ".5",
                                            "100.",   "79228162514264337593543950335", "0.1234567890123456789012345678",
                                            "-12.30", "1,5"};
  const std::vector<std::string> headers = {"Кодировка=Windows", "Кодировка=UTF-8", "ВерсияФормата=1.03",
                                            "РасчСчет=1",        "РасчСчет=2",      "Пусто="};
  const auto& fields = document_fields();
  std::mt19937 rng(20240301);
  auto pick = [&](const std::vector<std::string>& pool) { return pool[rng() % pool.size()]; };
  int statements = 0, written = 0;
  for (int round = 0; round < 300; ++round) {
    std::string text = "1CClientBankExchange\n";
    for (auto i = rng() % 4; i > 0; --i) text += pick(headers) + "\n";
    for (auto i = rng() % 4; i > 0; --i) {
      text += "СекцияРасчСчет\nРасчСчет=" + std::to_string(rng() % 3) + "\nДатаНачала=" + pick(dates) +
              "\nНачальныйОстаток=" + pick(amounts) + "\n";
      if (rng() % 2) text += "КонечныйОстаток=" + pick(amounts) + "\nДатаКонца=" + pick(dates) + "\n";
      text += "КонецРасчСчет\n";
    }
    for (auto d = rng() % 5; d > 0; --d) {
      text += "СекцияДокумент=" + pick({"Платежное поручение", "", "a=b"}) + "\n";
      for (std::size_t f = 0; f < kDocFieldCount; ++f) {
        if (f == 1 || (!fields[f].required && rng() % 3 == 0) || rng() % 200 == 0) continue;
        const FieldKind kind = fields[f].kind;
        const auto& pool = kind == FieldKind::Amount ? amounts : kind == FieldKind::Text || kind == FieldKind::OptionalText ? texts : dates;
        text += std::string(fields[f].key) + "=" + pick(pool) + "\n";
      }
      if (rng() % 4 == 0) text += "НеизвестныйКлюч=1\n";
      text += "КонецДокумента\n";
    }
    text += "КонецФайла\n";
    auto r = parse(text);
    if (!r) continue;  // an account with a bad value: not a statement the reader returns
    ++statements;
    written += check_round_trip(*r, "round " + std::to_string(round));
  }
  // The pools must leave most statements writable, or the property proves little.
  EXPECT_GT(written, statements);
  std::printf("%d statements, %d of their %d forms written\n", statements, written, 4 * statements);
}

// Kodirovka values replaced as the tool's convert replaces them, and by texts the writer refuses.
const std::vector<std::string> kHeaderValues = {"", "UTF-8", "Windows", "KOI8-R", "значение ", "\xFF",
                                                 "\xFF "};

std::string outcome_of(const WriteError& e) { return "refused: " + message(e); }

// The held stream written, its Кодировка values replaced by `value`, or why not.
std::string held(std::string_view input, const WriteOptions& options, const std::string* value) {
  auto raw = read_sections(input);
  if (!raw) return "unread: " + summary(raw.error());
  for (RawAttribute& a : raw->header)
    if (value != nullptr && a.key == kEncodingKey) a.value = *value;
  auto text = write_sections(*raw, options);
  return text ? *text : outcome_of(text.error());
}

// The same stream written as it is read, after bytes already in the output, which stay.
std::string streamed(std::string_view input, const WriteOptions& options, const std::string* value) {
  auto stream = SectionStream::open(input);
  if (!stream) return "unread: " + summary(stream.error());
  const std::string before = "earlier output";
  std::string out = before;
  const HeaderValue replace = [&](const SectionEvent& a) {
    return a.key == kEncodingKey ? std::string_view(*value) : a.value;
  };
  auto written = write_stream(*stream, options, out, value != nullptr ? replace : HeaderValue());
  EXPECT_TRUE(out.starts_with(before));
  if (written) return out.substr(before.size());
  EXPECT_EQ(out, before);
  if (const auto* e = std::get_if<ParseError>(&written.error())) return "unread: " + summary(*e);
  return outcome_of(std::get<WriteError>(written.error()));
}

// A stream written as it is read gives the text, or the failure, of the same stream read whole and
// then written: over each file and its mutations, statements with no section, keyword keys
// refused before a line that fails the reading (the reader's error wins), and replaced
// Кодировка values, in every form.
TEST(StreamPath, AgreesWithTheStreamReadWhole) {
  std::vector<std::string> inputs = {
      "1CClientBankExchange\nКонецФайла\n",
      "1CClientBankExchange\nКодировка=Windows\nКонецФайла\n",
      "1CClientBankExchange\nСекцияДокумент=X\nКонецФайла=1\nКонецДокумента\nКонецФайла\n",
      "1CClientBankExchange\nСекцияДокумент=X\nКонецФайла=1\nКонецДокумента\nстрока\nКонецФайла\n",
      "1CClientBankExchange\nСекцияДокумент=X\nКонецФайла=1\nКонецДокумента\n",
  };
  for (const std::string& file : kFiles)
    for (std::string& input : variants(read_file(file), 6)) inputs.push_back(std::move(input));
  int written = 0, refused = 0, unread = 0;
  for (const std::string& input : inputs) {
    for (const WriteOptions& options : kAllOptions) {
      const std::string* no_change = nullptr;
      const std::string expected = held(input, options, no_change);
      EXPECT_EQ(streamed(input, options, no_change), expected) << input.substr(0, 200);
      (expected.starts_with("unread: ") ? unread : expected.starts_with("refused: ") ? refused : written) += 1;
      for (const std::string& value : kHeaderValues)
        EXPECT_EQ(streamed(input, options, &value), held(input, options, &value)) << value;
    }
  }
  EXPECT_GT(written, 0);
  EXPECT_GT(refused, 0);
  EXPECT_GT(unread, 0);
}

}  // namespace
}  // namespace mirtle::testing
