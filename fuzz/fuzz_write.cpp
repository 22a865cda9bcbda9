// libFuzzer harness for the writer, with the round trip as its oracle.
//
// The first byte picks the run; the rest is the statement:
//   mode % 2 == 0  the statement as it is read
//   mode % 2 == 1  a hook puts an awkward text (white space at an end, a
//                  line break, a character without a windows-1251 form,
//                  a control character) under a key of every section,
//                  the key and the text chosen by the mode byte
// For every statement the reader returns, in both encodings and with both
// line ends, the writer either refuses it or writes a text that parses to
// the same records, with no warnings, and that writes again to the same
// bytes.  The section stream of the input, written and read again, is the
// same stream, and its text parses as the input does; written as it is
// read, it gives the same text or fails the same way.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <variant>

#include "mirtle/sections.hpp"
#include "mirtle/statement.hpp"
#include "mirtle/writer.hpp"

#include "check.hpp"

namespace {

constexpr std::string_view kAwkwardTexts[] = {
    " leading", "trailing\u00A0", "a\nb", "a\rb", "100 ₽", "x\x01y", "", "=", "«№»", "\xE2\x80\xA8",
};
constexpr std::string_view kKeys[] = {"Номер", "НазначениеПлатежа", "ПлательщикКПП", "Код", "РасчСчет",
                                      "НеизвестныйКлюч"};

class AwkwardHook final : public mirtle::Hook {
 public:
  explicit AwkwardHook(std::uint8_t mode)
      : key_(kKeys[(mode >> 1) % std::size(kKeys)]), text_(kAwkwardTexts[(mode >> 4) % std::size(kAwkwardTexts)]) {}
  mirtle::HookOutcome on_section(mirtle::SectionType, mirtle::AttributeMap& attrs,
                                 const mirtle::AttributeMap&) noexcept override {
    attrs.set(key_, text_);
    return mirtle::HookOutcome::ok();
  }

 private:
  std::string_view key_, text_;
};

bool same_records(const mirtle::Statement& a, const mirtle::Statement& b) {
  return a.header.entries() == b.header.entries() && a.accounts == b.accounts && a.documents == b.documents;
}


// Equal headers, but for Кодировка when the writer was asked to update it.
bool same_header(const mirtle::AttributeMap& written, const mirtle::AttributeMap& given,
                 const mirtle::WriteOptions& options) {
  const auto &a = written.entries(), &b = given.entries();
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    const bool updated = options.update_encoding_header && b[i].first == "Кодировка";
    const std::string_view expected = updated ? (options.encoding == mirtle::Encoding::UTF8 ? "UTF-8" : "Windows")
                                              : std::string_view(b[i].second);
    if (a[i].first != b[i].first || a[i].second != expected) return false;
  }
  return true;
}

// The refusals a statement the reader returned may meet: a lone carriage
// return stays inside a line, and hooks put in any text.
bool expected_refusal(mirtle::WriteErrorKind kind) {
  using K = mirtle::WriteErrorKind;
  return kind == K::LineBreakInKey || kind == K::LineBreakInValue || kind == K::SpaceAroundValue || kind == K::KeywordKey ||
         kind == K::EmptyKey || kind == K::NotInWindows1251 || kind == K::ImplausibleWindows1251 ||
         kind == K::EncodingHeader || kind == K::NoSection;
}

// The stream without what writing changes: line numbers, and the encoding it was read in.
mirtle::RawStatement without_line_numbers(mirtle::RawStatement s) {
  s.encoding = mirtle::Encoding::UTF8;
  for (auto& a : s.header) a.lineno = 0;
  for (auto& section : s.sections) {
    section.start_line = section.end_line = 0;
    for (auto& a : section.attributes) a.lineno = 0;
  }
  return s;
}

// Equal outcomes, line numbers aside: records and warning texts, or the error's kind and texts.
bool same_outcome(const mirtle::ParseResult& a, const mirtle::ParseResult& b) {
  if (a.has_value() != b.has_value()) return false;
  if (!a) {
    const auto &x = a.error(), &y = b.error();
    return x.kind == y.kind && x.syntax == y.syntax && x.context == y.context && x.text == y.text &&
           x.value == y.value;
  }
  if (!same_records(*a, *b) || a->warnings.size() != b->warnings.size()) return false;
  for (std::size_t i = 0; i < a->warnings.size(); ++i)
    if (a->warnings[i].message != b->warnings[i].message) return false;
  return true;
}

constexpr mirtle::WriteOptions kOptions[] = {{mirtle::Encoding::CP1251, mirtle::Newline::CRLF, false},
                                             {mirtle::Encoding::CP1251, mirtle::Newline::LF, false},
                                             {mirtle::Encoding::UTF8, mirtle::Newline::CRLF, false},
                                             {mirtle::Encoding::UTF8, mirtle::Newline::LF, true}};

void check_records(const mirtle::Statement& statement) {
  for (const auto& options : kOptions) {
    auto written = mirtle::write_statement(statement, options);
    if (!written) {
      CHECK(expected_refusal(written.error().kind));
      CHECK(!mirtle::message(written.error()).empty());
      continue;
    }
    auto back = mirtle::parse_statement({}, *written);
    CHECK(back);
    CHECK(back->warnings.empty());
    CHECK(back->accounts == statement.accounts && back->documents == statement.documents);
    CHECK(same_header(back->header, statement.header, options));
    auto again = mirtle::write_statement(*back, options);
    CHECK(again && *again == *written);
  }
}

// The stream written as it is read gives the text, or the failure, of the stream read whole and
// then written, and leaves the output as it was when it fails.
void check_written_as_read(std::string_view input, const mirtle::Result<mirtle::RawStatement, mirtle::ParseError>& whole) {
  for (const auto& options : kOptions) {
    auto stream = mirtle::SectionStream::open(input);
    CHECK(stream || !whole);
    if (!stream) continue;
    std::string out = "before";
    auto streamed = mirtle::write_stream(*stream, options, out);
    if (!whole) {
      CHECK(!streamed && std::get<mirtle::ParseError>(streamed.error()) == whole.error() && out == "before");
      continue;
    }
    auto written = mirtle::write_sections(*whole, options);
    if (!written) {
      CHECK(!streamed && out == "before");
      CHECK(mirtle::message(std::get<mirtle::WriteError>(streamed.error())) == mirtle::message(written.error()));
      continue;
    }
    CHECK(streamed && out == "before" + *written);
  }
}

void check_stream(std::string_view input) {
  auto stream = mirtle::read_sections(input);
  check_written_as_read(input, stream);
  if (!stream) return;
  const auto original = mirtle::parse_statement({}, input);
  for (const auto& options : kOptions) {
    if (options.update_encoding_header) continue;  // the stream is compared as it was
    auto written = mirtle::write_sections(*stream, options);
    if (!written) {
      CHECK(expected_refusal(written.error().kind));
      continue;
    }
    auto again = mirtle::read_sections(*written);
    CHECK(again && again->encoding == options.encoding);
    CHECK(without_line_numbers(*again) == without_line_numbers(*stream));
    CHECK(same_outcome(mirtle::parse_statement({}, *written), original));
    auto rewritten = mirtle::write_sections(*again, options);
    CHECK(rewritten && *rewritten == *written);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  if (mode % 2 == 0) {
    if (auto statement = mirtle::parse_statement({}, input)) check_records(*statement);
    check_stream(input);
  } else {
    AwkwardHook hook(mode);
    mirtle::Hook* hooks[] = {&hook};
    if (auto statement = mirtle::parse_statement(hooks, input)) check_records(*statement);
  }
  return 0;
}
