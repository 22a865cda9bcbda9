// The stages under the records: the section stream against the text it reads, the records built on
// it against those of the single-pass reader it replaced, the record sink against parse_statement,
// and the owned form of the stream.
#include <algorithm>
#include <random>
#include <tuple>

#include "mirtle/sections.hpp"
#include "records/src/attribute_list.hpp"
#include "records/src/parse_in_parts.hpp"
#include "support.hpp"
#include "mirtle/decode.hpp"
#include "mirtle/unicode.hpp"

namespace mirtle::testing {
namespace {

const std::string kData = MIRTLE_TEST_DATA;
const std::vector<std::string> kFiles = {kData + "/../../../examples/statement_utf8.txt",
                                         kData + "/../../../examples/statement_cp1251.txt",
                                         kData + "/generated_cp1251_crlf.txt", kData + "/generated_utf8.txt"};

std::vector<std::string> inputs(std::size_t per_file) {
  std::vector<std::string> out;
  for (const std::string& file : kFiles)
    for (std::string& v : variants(read_file(file), per_file)) out.push_back(std::move(v));
  return out;
}

// The open section's list against a plain find-or-append, on key sequences with repeats: short
// keys that differ only in their first byte (so their tags and table bits collide), shared
// endings, and sections long enough to move from the scan to the hash index.
TEST(AttributeListTest, AgreesWithALinearReference) {
  std::mt19937 rng(17);
  AttributeList list;
  for (const std::size_t distinct : {1u, 5u, 40u, 127u, 128u, 129u, 400u}) {
    std::vector<std::string> keys;
    for (std::size_t i = 0; i < distinct; ++i)
      keys.push_back(i % 3 == 0 ? std::string(1, static_cast<char>('a' + i % 26)) + std::to_string(i / 26)
                                : "ПлательщикИНН" + std::to_string(i));
    std::vector<std::string> values;  // stable storage for the views
    values.reserve(distinct * 3);
    std::vector<std::pair<std::string_view, std::string_view>> want;
    list.clear();
    for (std::size_t n = 0; n < distinct * 3; ++n) {
      const std::string_view key = keys[rng() % distinct];
      const std::string_view value = values.emplace_back(std::to_string(n));
      list.set(key, value);
      auto at = std::find_if(want.begin(), want.end(), [&](const auto& p) { return p.first == key; });
      if (at == want.end()) want.emplace_back(key, value);
      else at->second = value;
    }
    ASSERT_EQ(list.size(), want.size()) << distinct;
    for (std::size_t i = 0; i < want.size(); ++i) {
      EXPECT_EQ(list.items()[i].key, want[i].first) << distinct;
      EXPECT_EQ(list.items()[i].value, want[i].second) << distinct;
      const std::string_view* found = list.find(want[i].first);
      ASSERT_NE(found, nullptr);
      EXPECT_EQ(*found, want[i].second);
    }
    EXPECT_EQ(list.find("absent"), nullptr);
  }
}

// Digests of every outcome of the single-pass reader that the stages replaced, taken from it
// before the change, over each file and 40 rounds of its mutations.
TEST(Stages, RecordsEqualThoseOfTheSinglePassReader) {
  const std::vector<std::tuple<std::string, std::uint64_t, std::uint64_t>> table = {
      {kFiles[0], 0x5307eee5a1c98c76ull, 0x88c12cc52e3def61ull},
      {kFiles[1], 0x1ba384d82c4162deull, 0xd0ec48e15a4fd4a2ull},
      {kFiles[2], 0xd0ea70970ee04ae0ull, 0x414ece3209155b05ull},
      {kFiles[3], 0x7bf95872c37f9da0ull, 0xd4372b6aec44b1a2ull}};
  for (const auto& [file, plain, hooked] : table) {
    SCOPED_TRACE(file);
    const auto v = variants(read_file(file), 40);
    EXPECT_EQ(outcome_digest(v, Hooked::No), plain);
    EXPECT_EQ(outcome_digest(v, Hooked::Planned), hooked);
    EXPECT_EQ(outcome_digest(v, Hooked::PlannedViews), hooked);
  }
}

// A document section no hook changed is read field by field, never as a list of attributes; a
// hook that takes the section as its own copy, even to change nothing, sends it through the list.
// Both must give the same records and failures as a read without hooks.
TEST(Stages, FieldsAgreeWithTheAttributeList) {
  struct Copied : Hook {
    HookOutcome on_section(SectionType, AttributeMap&, const AttributeMap&) noexcept override {
      return HookOutcome::ok();
    }
  } copied;
  struct Viewed : Copied {
    HookOutcome on_section_views(SectionType, std::span<const AttributeView>, const AttributeMap&, AttributeMap&,
                                 bool&) override {
      return HookOutcome::ok();
    }
  } viewed;
  std::vector<std::string> all = inputs(20);
  // Repeated keys: line k again right after itself, its value replaced by one that converts
  // (or not) differently.
  for (const std::string& file : kFiles) {
    const std::string text = read_file(file);
    std::vector<std::size_t> starts = {0};
    for (std::size_t at = text.find('\n'); at != std::string::npos; at = text.find('\n', at + 1))
      starts.push_back(at + 1);
    for (std::size_t k = 1; k + 1 < starts.size(); k += 3) {
      const std::string line = text.substr(starts[k], starts[k + 1] - starts[k]);
      const std::size_t eq = line.find('=');
      if (eq == std::string::npos) continue;
      for (const char* value : {"", "01.02.2024", "12.50", "x"})
        all.push_back(text.substr(0, starts[k + 1]) + line.substr(0, eq + 1) + value + "\r\n" +
                      text.substr(starts[k + 1]));
    }
  }
  // A line whose key is the one expected next is read without trimming its key: the same line
  // with white space around the key or the value, or with a key one byte longer or shorter, must
  // read as the trimmed line would.
  const struct {
    std::string (*rewrite)(const std::string& key, const std::string& value);
    const char* why;
  } kDecorations[] = {
      {[](const std::string& k, const std::string& v) { return k + " =" + v; }, "space before ="},
      {[](const std::string& k, const std::string& v) { return " " + k + "=" + v; }, "space before the key"},
      {[](const std::string& k, const std::string& v) { return "\t" + k + "=\t" + v + " \t"; }, "tabs around"},
      {[](const std::string& k, const std::string& v) { return k + "=\xC2\xA0" + v + "\xC2\xA0"; }, "no-break spaces"},
      {[](const std::string& k, const std::string&) { return k + "=  "; }, "blank value"},
      {[](const std::string& k, const std::string& v) { return k + "1=" + v; }, "longer key"},
      {[](const std::string& k, const std::string& v) { return k.substr(0, k.size() - 1) + "=" + v; }, "shorter key"},
      {[](const std::string& k, const std::string& v) { return k + "==" + v; }, "= opening the value"},
  };
  for (const std::string& file : kFiles) {
    const std::string text = read_file(file);
    std::size_t at = 0;
    for (int k = 0; (at = text.find('\n', at)) != std::string::npos; ++k) {
      const std::size_t start = ++at, end = text.find('\n', start);
      const std::size_t eq = text.find('=', start);
      if (k % 5 != 0 || end == std::string::npos || eq > end) continue;
      const std::string key = text.substr(start, eq - start);
      const std::string value = text.substr(eq + 1, end - eq - 1);
      for (const auto& d : kDecorations)
        all.push_back(text.substr(0, start) + d.rewrite(key, value) + "\n" + text.substr(end + 1));
    }
  }
  for (const std::string& input : all) {
    const auto plain = parse(input);
    const std::string expected = plain ? dump(*plain) : summary(plain.error());
    for (Hook* hook : {static_cast<Hook*>(&copied), static_cast<Hook*>(&viewed)}) {
      const auto hooked = parse(input, {hook});
      EXPECT_EQ(expected, hooked ? dump(*hooked) : summary(hooked.error()));
    }
  }
}

// Statements to read in two parts: the mutations put errors, warnings, repeats and stray markers
// before, at and after the cut, and the cases after them aim at what the cut itself must get right.
std::vector<std::pair<std::string, const char*>> two_part_cases() {
  std::vector<std::pair<std::string, const char*>> cases;
  for (std::string& input : inputs(30)) cases.emplace_back(std::move(input), "mutation");

  const std::string utf8_text = read_file(kFiles[0]);
  const std::string cp1251_text = read_file(kFiles[1]);
  const std::string generated = read_file(kFiles[3]);
  const std::size_t half = generated.size() / 2;
  const std::size_t tail = generated.rfind("КонецФайла");
  const std::string body = generated.substr(0, tail);  // the sections, with no end
  const std::string account = "СекцияРасчСчет\nДатаНачала=01.01.2024\nРасчСчет=40702810000000000001\n"
                              "НачальныйОстаток=10.00\nКонецРасчСчет\n";
  const std::string second_account = "СекцияРасчСчет\nДатаНачала=01.01.2023\nРасчСчет=40702810000000000001\n"
                                     "НачальныйОстаток=5.00\nКонецРасчСчет\n";
  cases.emplace_back(body + account + body.substr(body.find("СекцияДокумент")) + second_account + account +
                         "КонецФайла\n",
                     "one account's intervals on both sides, one repeated, out of order");
  cases.emplace_back(body + "КонецФайла\n" + body.substr(body.find("СекцияДокумент")) + "КонецФайла\n",
                     "the end of the file before the cut");
  const std::size_t open_doc = body.find("КонецДокумента", half);
  cases.emplace_back(body.substr(0, open_doc) + body.substr(open_doc + std::string("КонецДокумента\n").size()) +
                         "КонецФайла\n",
                     "a document left open across the cut");
  cases.emplace_back(body.substr(0, half) + "\xE9\n" + body.substr(half) + "КонецФайла\n",
                     "a byte that is not UTF-8 before the cut");
  cases.emplace_back(body + "Назначение=\xE9\n" + "КонецФайла\n", "a byte that is not UTF-8 after it");
  cases.emplace_back("\xEF\xBB\xBF" + generated, "a UTF-8 mark");
  cases.emplace_back(body, "no end of the file");
  cases.emplace_back(body + "КонецФайла\nlater\n", "a line after the end");
  cases.emplace_back(generated.substr(0, half) + "\r\n\r\n   \n" + generated.substr(half), "blank lines");
  cases.emplace_back(cp1251_text + cp1251_text.substr(cp1251_text.find('\n') + 1), "windows-1251 twice over");
  std::string utf16 = "\xFF\xFE";
  for (unsigned char c : std::string("1CClientBankExchange\r\nКонецФайла\r\n")) utf16 += {static_cast<char>(c), '\0'};
  cases.emplace_back(utf16, "UTF-16 (read whole)");
  cases.emplace_back(utf8_text.substr(0, utf8_text.find("СекцияДокумент")) + repeat("Получатель=x\n", 20000) +
                         utf8_text.substr(utf8_text.find("СекцияДокумент")),
                     "a header past the middle");
  return cases;
}

// Records of either part, in order, with their lines; the second's moved on when joined.
struct Logged final : RecordSink {
  void on_header(Encoding, const AttributeMap& header) override { header_lines.push_back(header.size()); }
  void on_interval(std::string_view, Interval&&, LineNo) override {}
  void on_interval_section(std::string_view account, Interval&& interval, LineNo start, LineNo end) override {
    records.push_back({start, end, std::string(account) + " " + format_date(interval.date_start)});
  }
  void on_document(Document&& document, LineNo end) override {
    records.push_back({0, end, "document"});
    documents.push_back(std::move(document));
  }
  void on_warning(Warning&& warning) override { records.push_back({0, warning.lineno, warning.message}); }

  struct Record {
    LineNo start, end;
    std::string what;
    bool operator==(const Record&) const = default;
  };
  std::vector<std::size_t> header_lines;
  std::vector<Record> records;
  std::vector<Document> documents;
};

struct LoggedParts final : SplitSink {
  RecordSink& first() override { return whole; }
  RecordSink& second() override { return part; }
  void join(LineNo lines_before) override {
    for (Logged::Record& r : part.records) {
      if (r.start != 0) r.start += lines_before;
      r.end += lines_before;
      whole.records.push_back(r);
    }
    for (Document& d : part.documents) whole.documents.push_back(std::move(d));
    EXPECT_TRUE(part.header_lines.empty());
  }
  void reset() override { whole = part = Logged{}; }
  Logged whole, part;
};

// A large statement is read in two parts at once, the second on a thread of its own; the result
// must be the whole text's, whatever lies on either side of the cut.  Every input here is cut
// (no size limit).
TEST(Stages, TwoPartsAgreeWithOneThread) {
  ParseOptions one, two;
  one.threads = 1;
  two.threads = 2;
  two.split_from = 0;
  const auto cases = two_part_cases();
  std::size_t cut = 0;
  for (const auto& [input, why] : cases) {
    const auto whole = parse_statement({}, input, one), parts = parse_statement({}, input, two);
    EXPECT_EQ(whole ? dump(*whole) : summary(whole.error()), parts ? dump(*parts) : summary(parts.error()))
        << why << "\n" << input.substr(0, 200);
    LoggedParts sinks;
    cut += parse_in_two_parts(input, sinks).has_value();
  }
  // Most inputs are read in parts, not whole after all.
  EXPECT_GT(cut, cases.size() * 3 / 4);
}

// The same cases through parse_records with a sink for each part: after the join the first
// holds what one sink is handed in one stream, lines included.
TEST(Stages, SplitSinksAgreeWithOneSink) {
  ParseOptions two;
  two.threads = 2;
  two.split_from = 0;
  for (const auto& [input, why] : two_part_cases()) {
    Logged one;
    LoggedParts parts;
    const auto whole = parse_records({}, input, one);
    const auto split = parse_records({}, input, parts, two);
    ASSERT_EQ(whole.has_value(), split.has_value()) << why;
    if (!whole) {
      EXPECT_EQ(summary(whole.error()), summary(split.error())) << why;
      continue;
    }
    EXPECT_EQ(parts.whole.header_lines, one.header_lines) << why;
    EXPECT_TRUE(parts.whole.records == one.records) << why;
    EXPECT_TRUE(parts.whole.documents == one.documents) << why;
  }
}

// The second thread's start, its signal and the join, many times over: a lost
// wake-up or a join that never returns hangs the test instead of passing it.
TEST(Stages, TwoPartsAgainAndAgain) {
  ParseOptions one, two;
  one.threads = 1;
  two.threads = 2;
  two.split_from = 0;
  const std::string generated = read_file(kFiles[3]);
  const auto whole = parse_statement({}, generated, one);
  ASSERT_TRUE(whole) << summary(whole);
  LoggedParts sinks;
  ASSERT_TRUE(parse_in_two_parts(generated, sinks).has_value());
  const std::string expected = dump(*whole);
  for (int round = 0; round < 300; ++round) {
    const auto parts = parse_statement({}, generated, two);
    ASSERT_TRUE(parts) << summary(parts);
    ASSERT_EQ(dump(*parts), expected) << "round " << round;
  }
}

// The file's non-blank lines, trimmed, with their numbers, framed here without the line source.
std::vector<std::pair<LineNo, std::string>> reference_lines(const std::string& input) {
  const auto decoded = text::decode_input(input);
  if (!decoded) return {};
  std::string text(decoded->text);
  if (decoded->per_line) {
    text.assign(decoded->text.size() * 3 + 1, '\0');
    text.resize(text::decode_windows1251(decoded->text, text.data()));
  }
  std::vector<std::pair<LineNo, std::string>> out;
  LineNo n = 0;
  for (std::size_t at = 0, end; at < text.size(); at = end + 1) {
    end = std::min(text.find('\n', at), text.size());
    std::string_view line(text.data() + at, end - at);
    if (end < text.size() && !line.empty() && line.back() == '\r') line.remove_suffix(1);
    ++n;
    if (!text::trim(line).empty()) out.emplace_back(n, std::string(text::trim(line)));
  }
  return out;
}

// A statement fails with the stream's error, unless a record failed first.
bool stream_error_agrees(const ParseError& streamed, const ParseResult& whole) {
  if (whole) return false;
  const ParseError& e = whole.error();
  const bool record_failure = e.is_syntax() && (e.syntax == SyntaxKind::AccountParseError ||
                                                e.syntax == SyntaxKind::MissingField || e.syntax == SyntaxKind::HookError);
  return e == streamed || (record_failure && (streamed.lineno == 0 || e.lineno < streamed.lineno));
}

// The stream reports every non-blank line once, in order, with its number, up to the line that
// failed; an open section's views stay valid until its end.
TEST(Stages, StreamReproducesTheLines) {
  for (const std::string& input : inputs(12)) {
    const auto expected = reference_lines(input);
    auto stream = SectionStream::open(input);
    ASSERT_TRUE(stream || expected.empty() || expected[0].first != 1);
    if (!stream) continue;
    std::vector<std::pair<LineNo, std::string>> seen;
    std::vector<std::pair<std::string_view, std::string>> held;  // the open section's views and copies
    SectionEvent e;
    Result<bool, ParseError> more = true;
    while ((more = stream->next(e)) && *more) {
      seen.emplace_back(e.lineno, std::string(e.line));
      ASSERT_TRUE(e.line.starts_with(e.key) && e.line.ends_with(e.value)) << e.line;
      if (e.kind == EventKind::SectionStart || e.kind == EventKind::SectionAttribute) {
        held.emplace_back(e.line, std::string(e.line));
      } else if (e.kind == EventKind::SectionEnd) {
        for (const auto& [view, copy] : held) ASSERT_EQ(view, copy);
        held.clear();
      }
    }
    // Lines up to the failing one (or all, when the text ran out) were reported.
    const LineNo stop = more ? ~LineNo{0} : more.error().lineno == 0 ? ~LineNo{0} : more.error().lineno;
    std::vector<std::pair<LineNo, std::string>> want;
    for (const auto& line : expected)
      if (line.first < stop) want.push_back(line);
    ASSERT_EQ(seen, want);
    if (!more) {
      EXPECT_TRUE(stream_error_agrees(more.error(), parse(input)));
    }
  }
}

// Every line of a section, by event or through read_attributes, with the keys it is told to
// expect: the same lines, keys and values at the same numbers, and the same error.
TEST(Stages, AttributesReadAsTheirEvents) {
  using Line = std::tuple<LineNo, std::string, std::string>;
  struct Lines final : SectionStream::AttributeLines {
    bool take_expected(std::string_view line, LineNo lineno) override {
      if (next >= expect.size()) return false;
      const std::string& key = expect[next];
      if (!line.starts_with(key) || line.size() == key.size() || line[key.size()] != '=') return false;
      take(key, text::trim(line.substr(key.size() + 1)), lineno);
      return true;
    }
    void take(std::string_view key, std::string_view value, LineNo lineno) override {
      got.emplace_back(lineno, std::string(key), std::string(value));
      ++next;
    }
    std::vector<std::string> expect;  // keys, by line of the section
    std::size_t next = 0;
    std::vector<Line> got;
  };
  for (const std::string& input : inputs(12)) {
    for (const int guess : {0, 1, 2}) {  // no keys expected, the last section's, wrong ones
      std::vector<Line> by_event, by_reader;
      std::string by_event_end, by_reader_end;
      for (const bool reader : {false, true}) {
        auto stream = SectionStream::open(input);
        if (!stream) break;
        Lines lines;
        std::vector<Line>& out = reader ? by_reader : by_event;
        SectionEvent e;
        Result<bool, ParseError> more = true;
        while ((more = stream->next(e)) && *more) {
          if (e.kind == EventKind::SectionAttribute) out.emplace_back(e.lineno, e.key, e.value);
          if (e.kind == EventKind::SectionEnd) out.emplace_back(e.lineno, "end", "");
          if (e.kind != EventKind::SectionStart || !reader) continue;
          std::vector<std::string> keys;
          for (std::size_t i = lines.got.size() - lines.next; i < lines.got.size(); ++i)
            keys.push_back(guess == 2 ? std::get<1>(lines.got[i]) + "x" : std::get<1>(lines.got[i]));
          lines.expect = guess == 0 ? std::vector<std::string>() : keys;
          lines.next = 0;
          const std::size_t before = lines.got.size();
          stream->read_attributes(lines);
          out.insert(out.end(), lines.got.begin() + static_cast<std::ptrdiff_t>(before), lines.got.end());
        }
        (reader ? by_reader_end : by_event_end) = more ? "ok" : summary(more.error());
      }
      EXPECT_EQ(by_reader, by_event) << guess;
      EXPECT_EQ(by_reader_end, by_event_end) << guess;
    }
  }
}

// Keeps what parse_records hands over, then files intervals the way a statement does.
struct Collect : RecordSink {
  void on_header(Encoding e, const AttributeMap& h) override {
    ++headers;
    got.encoding = e;
    got.header = h;
  }
  void on_interval(std::string_view number, Interval&& interval, LineNo) override {
    auto a = std::find_if(got.accounts.begin(), got.accounts.end(), [&](const Account& x) { return x.number == number; });
    if (a == got.accounts.end()) a = got.accounts.insert(a, Account{std::string(number), {}});
    if (std::none_of(a->intervals.begin(), a->intervals.end(), [&](const Interval& x) { return x.same_value(interval); }))
      a->intervals.push_back(interval);
  }
  void on_document(Document&& d, LineNo) override { got.documents.push_back(std::move(d)); }
  void on_warning(Warning&& w) override { got.warnings.push_back(std::move(w)); }
  Statement got;
  int headers = 0;
};

TEST(Stages, RecordSinkAgreesWithTheStatement) {
  for (const std::string& input : inputs(12)) {
    for (const bool hooked : {false, true}) {
      PlannedHook a, b;
      std::vector<Hook*> hooks;
      if (hooked) hooks.push_back(&a);
      Collect sink;
      const auto streamed = parse_records(hooks, input, sink);
      const auto whole = hooked ? parse(input, {&b}) : parse(input);
      ASSERT_EQ(streamed.has_value(), whole.has_value());
      if (!whole) {
        EXPECT_EQ(streamed.error(), whole.error());
        continue;
      }
      for (Account& account : sink.got.accounts)
        std::stable_sort(account.intervals.begin(), account.intervals.end(),
                         [](const Interval& x, const Interval& y) { return x.date_start < y.date_start; });
      EXPECT_EQ(sink.headers, 1);
      EXPECT_TRUE(sink.got == *whole) << dump(sink.got) << "\n---\n" << dump(*whole);
    }
  }
}

// A document's text bytes in one figure, as the Arrow rows check them, are those of its texts.
TEST(Stages, DocumentTextBytesAreItsTexts) {
  std::size_t documents = 0;
  for (const std::string& input : inputs(6)) {
    const auto statement = parse(input);
    if (!statement) continue;
    for (const Document& d : statement->documents) {
      std::size_t bytes = 0;
      for (std::size_t f = 0; f < kDocFieldCount; ++f)
        if (const auto text = d.text(static_cast<DocField>(f))) bytes += text->size();
      EXPECT_EQ(d.text_bytes(), bytes);
      ++documents;
    }
  }
  EXPECT_GT(documents, 100u);
}

// Each interval comes with both lines of its section, the ones the section stream names, with
// hooks and without; a sink that overrides on_interval alone still gets every interval.
TEST(Stages, IntervalsComeWithTheirSectionsLines) {
  struct Lines : RecordSink {
    void on_header(Encoding, const AttributeMap&) override {}
    void on_interval(std::string_view, Interval&&, LineNo end) override { plain.push_back(end); }
    void on_interval_section(std::string_view account, Interval&& interval, LineNo start, LineNo end) override {
      both.emplace_back(start, end);
      RecordSink::on_interval_section(account, std::move(interval), start, end);
    }
    void on_document(Document&&, LineNo) override {}
    void on_warning(Warning&&) override {}
    std::vector<std::pair<LineNo, LineNo>> both;
    std::vector<LineNo> plain;
  };
  std::size_t seen = 0;
  for (const std::string& input : inputs(12)) {
    const auto raw = read_sections(input);
    if (!raw) continue;
    std::vector<std::pair<LineNo, LineNo>> sections;
    for (const RawSection& section : raw->sections)
      if (section.type == SectionType::Account) sections.emplace_back(section.start_line, section.end_line);
    for (const bool hooked : {false, true}) {
      PlannedHook hook;
      std::vector<Hook*> hooks;
      if (hooked) hooks.push_back(&hook);
      Lines sink;
      if (!parse_records(hooks, input, sink)) continue;
      EXPECT_EQ(sink.both, sections);
      ASSERT_EQ(sink.plain.size(), sink.both.size());
      for (std::size_t i = 0; i < sink.plain.size(); ++i) EXPECT_EQ(sink.plain[i], sink.both[i].second);
      seen += sink.both.size();
    }
  }
  EXPECT_GT(seen, 100u);
}

// The owned form keeps what the records drop: repeated header keys, unknown and repeated section
// keys, and the line of each.
TEST(Stages, OwnedFormKeepsRepeatsAndUnknownKeys) {
  const std::string input =
      "\xEF\xBB\xBF 1CClientBankExchange \r\nРасчСчет=1\n\nРасчСчет = 2\nСекцияДокумент = Платежное поручение\n"
      "Номер=1\nКвитанцияДата=01.02.2024\nНомер= 2 \nКонецДокумента\nСекцияРасчСчет\nКонецРасчСчет\nКонецФайла\n\n";
  const auto raw = read_sections(input);
  ASSERT_TRUE(raw);
  const RawStatement expected{
      Encoding::UTF8,
      {{2, "РасчСчет", "1"}, {4, "РасчСчет", "2"}},
      {RawSection{SectionType::Document, "Платежное поручение", 5, 9,
                  {{6, "Номер", "1"}, {7, "КвитанцияДата", "01.02.2024"}, {8, "Номер", "2"}}},
       RawSection{SectionType::Account, "", 10, 11, {}}}};
  EXPECT_TRUE(*raw == expected);
  // The stream's errors are the statement's when no record fails first (a failed document is a
  // warning); an empty account section is the records' concern alone.
  const std::string x = "1CClientBankExchange\n", doc = "СекцияДокумент=\nКонецДокумента\n";
  const Rows rows = {
      {x + "КонецФайла\n", "UnexpectedSection(2, КонецФайла, header)"},
      {x + "СекцияРасчСчет\nСекцияДокумент= x\n", "UnexpectedSection(3, СекцияДокумент=x, account)"},
      {x + doc + "А=1\n", "UnexpectedAttribute(4, А, 1)"},
      {x + doc + "КонецФайла\nКонецФайла", "UnexpectedSection(5, КонецФайла, finished)"},
      {x + "СекцияДокумент=\nНомер 5\n", "UnrecognizedLine(3, Номер 5)"},
      {x + "СекцияДокумент=\nНомер=5\n", "Unfinished"}, {"\n1CClientBankExchange\n", "NotStatement"},
      {" \t\r\n", "EmptyInput"}};
  check_rows(rows, [](const std::string& in) {
    const auto r = read_sections(in);
    EXPECT_EQ(summary(r ? parse(in) : ParseResult(fail(r.error()))), summary(parse(in)));
    return r ? "ok" : summary(r.error());
  });
  EXPECT_TRUE(read_sections(x + "СекцияРасчСчет\nКонецРасчСчет\nКонецФайла\n"));
}

TEST(Equality, WrittenFormAndValue) {
  struct Row {
    std::string a, b;
    bool written, value;
    const char* why;
  };
  for (const Row& row : std::vector<Row>{{"100", "100.00", false, true, "the scale is part of the written form"},
                                         {"0", "-0.00", false, true, "zero has no sign"},
                                         {"1.5", "1.50", false, true, "trailing zeros"},
                                         {"-1.5", "1.5", false, false, "the sign of a non-zero amount"},
                                         {"1e2", "100", true, true, "an exponent is not kept"}}) {
    SCOPED_TRACE(row.why);
    const Decimal a = *parse_amount(row.a), b = *parse_amount(row.b);
    EXPECT_EQ(a == b, row.written);
    EXPECT_EQ(a.same_value(b), row.value);
    Interval x{{2024, 1, 1}, std::nullopt, a, b, std::nullopt, std::nullopt}, y = x;
    y.start_amount = b;
    y.end_amount = a;
    EXPECT_EQ(x == y, row.written);
    EXPECT_EQ(x.same_value(y), row.value);
  }
}

}  // namespace
}  // namespace mirtle::testing
