// Each writer gives the same bytes from a Statement as while the records
// stream, over the sample statements and layouts that make the JSON
// writer's documents wait; and the rules of what a spreadsheet cell holds.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mirtle/export.hpp"
#include "xlsx_cells.hpp"

namespace mirtle {
namespace {

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

// The samples, and layouts with account sections after documents.
std::vector<std::pair<std::string, std::string>> statements() {
  std::vector<std::pair<std::string, std::string>> out;
  for (const char* name : {"examples/statement_cp1251.txt", "examples/statement_utf8.txt",
                           "tests/core/data/generated_cp1251_crlf.txt", "tests/core/data/generated_utf8.txt"})
    out.emplace_back(name, read_file(std::string(MIRTLE_SOURCE_DIR) + "/" + name));
  const std::string account =
      "СекцияРасчСчет\nДатаНачала=01.03.2024\nРасчСчет=1\nНачальныйОстаток=5\nКонецРасчСчет\n";
  const std::string document =
      "СекцияДокумент=П\nНомер=1\nДата=01.03.2024\nСумма=1\nПлательщикСчет=1\nПлательщикИНН=1\nПлательщикБИК=1\n"
      "ПлательщикБанк1=Б\nПолучательСчет=2\nПолучательИНН=2\nПолучательБИК=2\nПолучательБанк1=Б\n"
      "НазначениеПлатежа=СекцияРасчСчет\nКонецДокумента\n";
  const std::string head = "1CClientBankExchange\nКодировка=UTF-8\n";
  out.emplace_back("accounts after documents", head + document + account + document + "КонецФайла\n");
  out.emplace_back("the keyword in a value", head + account + document + document + "КонецФайла\n");
  out.emplace_back("no accounts", head + document + "СекцияДокумент=П\nКонецДокумента\nКонецФайла\n");
  // A text longer than a cell between two documents that cannot be built:
  // the workbook's note on it falls between their warnings.
  std::string long_purpose = document;
  long_purpose.replace(long_purpose.find("=СекцияРасчСчет"), 15, "=" + std::string(40000, 'z'));
  const std::string broken = "СекцияДокумент=П\nКонецДокумента\n";
  out.emplace_back("a text longer than a cell", head + account + broken + long_purpose + broken + "КонецФайла\n");
  return out;
}

// The lines a Statement does not keep, collected while it is parsed.
class LineSink final : public RecordSink {
 public:
  void on_header(Encoding, const AttributeMap&) override {}
  void on_interval(std::string_view, Interval&&, LineNo) override {}
  void on_interval_section(std::string_view account, Interval&& interval, LineNo start, LineNo) override {
    book.emplace_back(std::string(account), std::move(interval), start);
  }
  void on_document(Document&&, LineNo end) override { lines.documents.push_back(end); }
  void on_warning(Warning&&) override {}

  // The intervals' lines in Statement::accounts order: the first section of each value.
  void file(const Statement& s) {
    for (const Account& a : s.accounts)
      for (const Interval& i : a.intervals)
        for (const auto& [number, interval, start] : book)
          if (number == a.number && interval.same_value(i)) {
            lines.intervals.push_back(start);
            break;
          }
  }

  std::vector<std::tuple<std::string, Interval, LineNo>> book;
  RecordLines lines;
};

template <typename Make>
std::string streamed(const std::string& input, Make make) {
  StringSink sink;
  const std::unique_ptr<RecordWriter> writer = make(sink, input);
  EXPECT_TRUE(export_records(input, *writer));
  return sink.bytes;
}

TEST(Writers, StatementEntriesWriteTheStreamedBytes) {
  for (const auto& [name, input] : statements()) {
    SCOPED_TRACE(name);
    auto parsed = parse_statement({}, input);
    ASSERT_TRUE(parsed);
    const Statement& statement = *parsed;

    StringSink json, json_from_stream_only, lines, csv, csv_excel, csv_intervals;
    write_json(statement, json);
    EXPECT_EQ(streamed(input, [](ByteSink& s, std::string_view in) { return json_writer(s, in); }), json.bytes);
    EXPECT_EQ(streamed(input, [](ByteSink& s, std::string_view) { return json_writer(s); }), json.bytes);
    write_json_lines(statement, lines);
    EXPECT_EQ(streamed(input, [](ByteSink& s, std::string_view) { return json_lines_writer(s); }), lines.bytes);
    for (const CsvOptions options : {CsvOptions{false, false}, CsvOptions{false, true}, CsvOptions{true, false}}) {
      StringSink whole;
      write_csv(statement, whole, options);
      EXPECT_EQ(streamed(input, [&](ByteSink& s, std::string_view) { return csv_writer(s, options); }), whole.bytes);
    }

    auto raw = read_sections(input);
    ASSERT_TRUE(raw);
    StringSink sections, sections_streamed;
    write_sections_json(*raw, sections);
    ASSERT_TRUE(write_sections_json(input, sections_streamed));
    EXPECT_EQ(sections_streamed.bytes, sections.bytes);

    if (xlsx_available()) {
      LineSink lines_of;
      ASSERT_TRUE(parse_records({}, input, lines_of));
      lines_of.file(statement);
      for (const bool names : {false, true}) {
        XlsxOptions options;
        options.attribute_names = names;
        StringSink book;
        write_xlsx(statement, book, options, lines_of.lines);
        EXPECT_EQ(streamed(input, [&](ByteSink& s, std::string_view in) { return xlsx_writer(s, options, in); }),
                  book.bytes);
        EXPECT_EQ(book.bytes.substr(0, 2), "PK");
      }
    }
  }
}

// Enough documents before the last account section to go through the
// temporary file.
TEST(Writers, JsonDocumentsWaitInATemporaryFile) {
  std::string input = "1CClientBankExchange\nКодировка=UTF-8\n";
  const std::string purpose(2000, 'x');
  for (int i = 0; i < 20000; ++i)
    input += "СекцияДокумент=П\nНомер=" + std::to_string(i) +
             "\nДата=01.03.2024\nСумма=1\nПлательщикСчет=1\nПлательщикИНН=1\nПлательщикБИК=1\n"
             "ПлательщикБанк1=Б\nПолучательСчет=2\nПолучательИНН=2\nПолучательБИК=2\nПолучательБанк1=Б\n"
             "НазначениеПлатежа=" + purpose + "\nКонецДокумента\n";
  input += "СекцияРасчСчет\nДатаНачала=01.03.2024\nРасчСчет=1\nНачальныйОстаток=5\nКонецРасчСчет\nКонецФайла\n";
  auto parsed = parse_statement({}, input);
  ASSERT_TRUE(parsed);
  StringSink whole;
  write_json(*parsed, whole);
  ASSERT_GT(whole.bytes.size(), std::size_t{40} << 20);
  EXPECT_EQ(streamed(input, [](ByteSink& s, std::string_view in) { return json_writer(s, in); }), whole.bytes);
}

// A sink that stops the writer, as the tool's does on a closed pipe.
TEST(Writers, ASinkMayStopTheParse) {
  struct Stop {};
  struct Stopping final : ByteSink {
    void write(std::string_view) override { throw Stop{}; }
  } sink;
  const std::string input = read_file(std::string(MIRTLE_SOURCE_DIR) + "/tests/core/data/generated_utf8.txt");
  const std::unique_ptr<RecordWriter> writer = json_lines_writer(sink);
  EXPECT_THROW((void)export_records(input, *writer), Stop);
}

TEST(XlsxCells, AmountsAreNumbersOnlyWhereTheDoubleGivesThemBack) {
  struct Case {
    const char* amount;
    bool number;
    const char* why;
  };
  const Case cases[] = {
      {"1500.00", true, "an ordinary amount"},
      {"0.1", true, "not a binary fraction, but printed at its scale it comes back"},
      {"1234567890123.45", true, "15 significant digits"},
      {"12345678901234.56", true, "16 digits that the double gives back"},
      {"1234567890123456.7", false, "17 digits"},
      {"12345678901234567.89", false, "19 digits"},
      {"79228162514264337593543950335", false, "the largest mantissa"},
      {"0.000000059604644775390625", false, "2^-24: exact, but its 16-digit form is another double"},
      {"-98765.4321", true, "negative, four decimals"},
      {"1200", true, "no decimals"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.why);
    const auto amount = parse_amount(c.amount);
    ASSERT_TRUE(amount);
    const exporting::AmountCell cell = exporting::amount_cell(*amount);
    EXPECT_EQ(cell.number.has_value(), c.number);
    EXPECT_EQ(cell.text, c.amount);
  }
}

TEST(XlsxCells, DatesWithinExcelsCalendar) {
  struct Case {
    Date date;
    std::optional<std::int64_t> serial;
  };
  // Serial numbers as Excel shows them (its calendar counts 29.02.1900).
  const Case cases[] = {
      {{1899, 12, 31}, std::nullopt}, {{1900, 1, 1}, 1},     {{1900, 2, 28}, 59},
      {{1900, 3, 1}, 61},             {{2024, 3, 4}, 45355}, {{9999, 12, 31}, 2958465},
      {{10000, 1, 1}, std::nullopt},  {{0, 1, 1}, std::nullopt},
  };
  for (const Case& c : cases) EXPECT_EQ(exporting::excel_serial(c.date), c.serial) << format_date(c.date);
}

TEST(XlsxCells, TextsAreCutAtWholeCharacters) {
  const std::string fits(exporting::kCellCharacters, 'x');
  EXPECT_FALSE(exporting::text_cell(fits).cut);
  std::string long_text;
  for (std::size_t i = 0; i <= exporting::kCellCharacters; ++i) long_text += "ё";
  const auto cell = exporting::text_cell(long_text);
  EXPECT_TRUE(cell.cut);
  EXPECT_EQ(cell.characters, exporting::kCellCharacters);
  EXPECT_EQ(cell.text.size(), 2 * exporting::kCellCharacters);
}

}  // namespace
}  // namespace mirtle
