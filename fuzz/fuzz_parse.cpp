// libFuzzer harness for parse_statement and the section stream under it.
//
// The first byte picks how the parse runs; the rest is the statement:
//   mode % 4 == 0  no hooks; read in two parts at once (as a large
//                  statement is), the result must be the same
//   mode % 4 == 1  a hook that changes nothing; the result must equal the
//                  result of the same input without hooks
//   mode % 4 == 2  one hook that adds, removes and renames keys and changes
//                  values, driven by a generator seeded from the input
//   mode % 4 == 3  two such hooks, the second one sometimes failing
// Every successful result is checked for the record invariants, and its
// values are written out and read back.  Without hooks the section stream
// is read too, and parse_records must hand over what parse_statement keeps.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mirtle/records.hpp"
#include "mirtle/sections.hpp"
#include "mirtle/statement.hpp"
#include "mirtle/values.hpp"
#include "mirtle/decode.hpp"
#include "mirtle/quote.hpp"
#include "mirtle/unicode.hpp"

#include "check.hpp"

namespace {

bool valid_utf8(std::string_view s) { return mirtle::text::is_valid_utf8(s.data(), s.data() + s.size()); }

// splitmix64: small, and good enough to pick mutations.
class Rng {
 public:
  explicit Rng(std::uint64_t seed) : s_(seed) {}
  std::uint64_t next() {
    std::uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
  }
  std::size_t below(std::size_t n) { return n == 0 ? 0 : static_cast<std::size_t>(next() % n); }

 private:
  std::uint64_t s_;
};

// Takes each section as its own copy and changes nothing.
class IdentityHook final : public mirtle::Hook {
 public:
  mirtle::HookOutcome on_section(mirtle::SectionType, mirtle::AttributeMap&,
                                 const mirtle::AttributeMap&) noexcept override {
    return mirtle::HookOutcome::ok();
  }
};

// Looks at each section's views and leaves them as they are.
class ViewingHook final : public mirtle::Hook {
 public:
  mirtle::HookOutcome on_section(mirtle::SectionType, mirtle::AttributeMap&,
                                 const mirtle::AttributeMap&) noexcept override {
    return mirtle::HookOutcome::ok();
  }
  mirtle::HookOutcome on_section_views(mirtle::SectionType, std::span<const mirtle::AttributeView> attrs,
                                       const mirtle::AttributeMap&, mirtle::AttributeMap&, bool&) override {
    for (const auto& [k, v] : attrs) CHECK(valid_utf8(k) && valid_utf8(v));
    return mirtle::HookOutcome::ok();
  }
};

// Values a hook may put in: valid UTF-8 only, as a hook's text always is.
constexpr std::string_view kValues[] = {
    "", " ", "01.02.2024", " 01.02.2024", "01.02.2024 ", "31.02.2024", "29.02.2024", "1.2.23",
    "01.02.+20231", "01.02.-262144", "00.01.2024", "0", "-0.00", "100.50", "1_000.5", "1e3", "15e-1",
    "1.2e3", "1e", ".", "12,50", "79228162514264337593543950335", "79228162514264337593543950335.9",
    "7922816251426433759354395033.59", "0.12345678901234567890123456789", "\t\r\n\"\\", "\xC2\xA0",
    "Оплата «по счету» № 1", "e\xCC\x81", "\xE2\x80\xA8", "\xF0\x9F\x98\x80", "\x01\x1F\x7F",
    "40702810395201156281",
};

constexpr std::string_view kExtraKeys[] = {
    "СекцияДокумент", "ДатаНачала", "ДатаКонца", "НачальныйОстаток", "КонечныйОстаток",
    "ВсегоПоступило", "ВсегоСписано", "РасчСчет", "номер", "Сумма ", "", "=",
};

std::string_view pick_key(Rng& rng) {
  const auto& fields = mirtle::document_fields();
  const std::size_t n = fields.size() + std::size(kExtraKeys);
  const std::size_t i = rng.below(n);
  return i < fields.size() ? fields[i].key : kExtraKeys[i - fields.size()];
}

std::string pick_value(Rng& rng, const mirtle::AttributeMap& attrs) {
  if (!attrs.empty() && rng.below(4) == 0) {
    // A piece of an existing value, cut on a character boundary.
    const std::string& v = attrs.entries()[rng.below(attrs.size())].second;
    std::size_t cut = rng.below(v.size() + 1);
    while (cut > 0 && cut < v.size() && (static_cast<unsigned char>(v[cut]) & 0xC0) == 0x80) --cut;
    return v.substr(0, cut);
  }
  if (rng.below(16) == 0) return std::string(rng.below(5000), '7');
  return std::string(kValues[rng.below(std::size(kValues))]);
}

// Rebuilds the map without the entry at `skip`, renaming it when `rename` is set.
mirtle::AttributeMap rebuilt(const mirtle::AttributeMap& attrs, std::size_t skip, const std::string_view* rename) {
  mirtle::AttributeMap out;
  const auto& entries = attrs.entries();
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i != skip) {
      out.set(std::string_view(entries[i].first), std::string_view(entries[i].second));
    } else if (rename != nullptr) {
      out.set(*rename, std::string_view(entries[i].second));
    }
  }
  return out;
}

class MutatingHook final : public mirtle::Hook {
 public:
  MutatingHook(std::uint64_t seed, bool may_fail) : rng_(seed), may_fail_(may_fail) {}

  mirtle::HookOutcome on_section(mirtle::SectionType type, mirtle::AttributeMap& attrs,
                                 const mirtle::AttributeMap& header) noexcept override {
    CHECK(type == mirtle::SectionType::Document || type == mirtle::SectionType::Account);
    for (const auto& [k, v] : header.entries()) CHECK(valid_utf8(k) && valid_utf8(v));
    if (may_fail_ && rng_.below(12) == 0) return mirtle::HookOutcome::failure("hook refused: Ошибка");
    const std::size_t ops = rng_.below(4);
    for (std::size_t op = 0; op < ops; ++op) {
      switch (rng_.below(5)) {
        case 0:  // add or overwrite
          attrs.set(pick_key(rng_), pick_value(rng_, attrs));
          break;
        case 1:  // remove
          if (!attrs.empty()) attrs = rebuilt(attrs, rng_.below(attrs.size()), nullptr);
          break;
        case 2:  // rename
          if (!attrs.empty()) {
            const std::string_view key = pick_key(rng_);
            attrs = rebuilt(attrs, rng_.below(attrs.size()), &key);
          }
          break;
        case 3:  // change a value in place
          if (!attrs.empty()) {
            const std::string key = attrs.entries()[rng_.below(attrs.size())].first;
            attrs.set(std::string_view(key), pick_value(rng_, attrs));
          }
          break;
        default:  // remove everything
          if (rng_.below(8) == 0) attrs.clear();
          break;
      }
    }
    return mirtle::HookOutcome::ok();
  }

 private:
  Rng rng_;
  bool may_fail_;
};

bool leap(std::int64_t y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

void check_date(const mirtle::Date& d) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  CHECK(d.year >= -262143 && d.year <= 262142);
  CHECK(d.month >= 1 && d.month <= 12);
  CHECK(d.day >= 1 && d.day <= kDays[d.month - 1] + (d.month == 2 && leap(d.year) ? 1 : 0));
  char buf[64];
  std::memset(buf, '#', sizeof buf);
  const std::size_t n = mirtle::format_date(d, buf);
  CHECK(n >= 10 && n <= 16 && buf[n] == '#');
  if (d.year >= 0 && d.year <= 9999) {
    // YYYY-MM-DD back into the statement form, and read again.
    const std::string iso(buf, n);
    const std::string dotted = iso.substr(8, 2) + "." + iso.substr(5, 2) + "." + iso.substr(0, 4);
    auto back = mirtle::parse_date(dotted);
    CHECK(back.has_value() && *back == d);
  }
}

void check_amount(const mirtle::Decimal& a) {
  CHECK(a.scale <= 28);
  CHECK(!(a.negative && a.is_zero()));
  char buf[64];
  std::memset(buf, '#', sizeof buf);
  const std::size_t n = mirtle::format_amount(a, buf);
  CHECK(n >= 1 && n <= 32 && buf[n] == '#');
  auto back = mirtle::parse_amount(std::string_view(buf, n));
  CHECK(back.has_value());
  CHECK(*back == a);
  CHECK(back->same_value(a) && back->value_hash() == a.value_hash());
}

void check_statement(const mirtle::Statement& st) {
  for (const auto& [k, v] : st.header.entries()) CHECK(valid_utf8(k) && valid_utf8(v));
  for (std::size_t i = 0; i < st.accounts.size(); ++i) {
    const mirtle::Account& acc = st.accounts[i];
    CHECK(valid_utf8(acc.number));
    CHECK(!acc.intervals.empty());
    for (std::size_t j = i + 1; j < st.accounts.size(); ++j) CHECK(st.accounts[j].number != acc.number);
    for (std::size_t j = 0; j < acc.intervals.size(); ++j) {
      const mirtle::Interval& iv = acc.intervals[j];
      check_date(iv.date_start);
      if (iv.date_end) check_date(*iv.date_end);
      check_amount(iv.start_amount);
      for (const auto* opt : {&iv.end_amount, &iv.total_income, &iv.total_expense})
        if (*opt) check_amount(**opt);
      if (j > 0) CHECK(!(iv.date_start < acc.intervals[j - 1].date_start));
      for (std::size_t k = 0; k < j; ++k) CHECK(!acc.intervals[k].same_value(iv));
    }
  }
  const auto& fields = mirtle::document_fields();
  for (const mirtle::Document& doc : st.documents) {
    check_date(doc.doc_date);
    if (doc.outcome_date) check_date(*doc.outcome_date);
    if (doc.income_date) check_date(*doc.income_date);
    check_amount(doc.amount);
    for (std::size_t f = 0; f < fields.size(); ++f) {
      const auto field = static_cast<mirtle::DocField>(f);
      const auto text = doc.text(field);
      const mirtle::FieldKind kind = fields[f].kind;
      if (kind == mirtle::FieldKind::Text) CHECK(text.has_value());
      if (kind == mirtle::FieldKind::Text || kind == mirtle::FieldKind::OptionalText) {
        if (text) {
          CHECK(valid_utf8(*text));
          std::string quoted;
          mirtle::append_quoted(quoted, *text);
          CHECK(quoted.size() >= 2 && quoted.front() == '"' && quoted.back() == '"');
        }
      }
    }
    CHECK(doc == doc);
  }
  mirtle::LineNo last = 0;
  for (const mirtle::Warning& w : st.warnings) {
    CHECK(w.lineno > last);
    last = w.lineno;
    CHECK(!w.message.empty() && valid_utf8(w.message));
  }
}

void check_error(const mirtle::ParseError& e) {
  if (e.kind == mirtle::ErrorKind::Syntax) {
    CHECK(e.lineno >= 1);
    CHECK(e.syntax != mirtle::SyntaxKind::DocumentParseError);
    CHECK(valid_utf8(e.text) && valid_utf8(e.value));
  } else {
    CHECK(e.kind != mirtle::ErrorKind::InvalidDocument);
  }
}

void check(const mirtle::ParseResult& r) {
  if (r) {
    check_statement(*r);
  } else {
    check_error(r.error());
  }
}

void check_same(const mirtle::ParseResult& a, const mirtle::ParseResult& b) {
  CHECK(a.has_value() == b.has_value());
  CHECK(a ? *a == *b : a.error() == b.error());
}

bool is_record_failure(const mirtle::ParseError& e) {
  using mirtle::SyntaxKind;
  return e.is_syntax() && (e.syntax == SyntaxKind::AccountParseError || e.syntax == SyntaxKind::MissingField ||
                           e.syntax == SyntaxKind::HookError);
}

// Counts what parse_records hands over.
class CountingSink final : public mirtle::RecordSink {
 public:
  void on_header(mirtle::Encoding, const mirtle::AttributeMap&) override { ++headers; }
  void on_interval(std::string_view account, mirtle::Interval&&, mirtle::LineNo) override {
    CHECK(valid_utf8(account));
  }
  void on_document(mirtle::Document&&, mirtle::LineNo) override { ++documents; }
  void on_warning(mirtle::Warning&& w) override { warnings.push_back(std::move(w)); }

  std::size_t headers = 0, documents = 0;
  std::vector<mirtle::Warning> warnings;
};

// The stream's lines rise, keys and values lie within their line, and the
// statement fails with the stream's error unless a record failed first.
void check_stream(std::string_view input, const mirtle::ParseResult& whole) {
  auto stream = mirtle::SectionStream::open(input);
  if (!stream) {
    CHECK(!whole && whole.error() == stream.error());
    return;
  }
  mirtle::SectionEvent e;
  mirtle::LineNo last = 0;
  for (;;) {
    auto more = stream->next(e);
    if (!more) {
      CHECK(!whole);
      const mirtle::ParseError& w = whole.error();
      CHECK(w == more.error() ||
            (is_record_failure(w) && (more.error().lineno == 0 || w.lineno < more.error().lineno)));
      break;
    }
    if (!*more) {
      CHECK(whole || is_record_failure(whole.error()));
      break;
    }
    CHECK(e.lineno > last);
    last = e.lineno;
    CHECK(!e.line.empty() && valid_utf8(e.line));
    CHECK(e.line.starts_with(e.key) && e.line.ends_with(e.value));
  }
  CountingSink sink;
  const auto records = mirtle::parse_records({}, input, sink);
  CHECK(records.has_value() == whole.has_value());
  if (!whole) {
    CHECK(records.error() == whole.error());
    return;
  }
  CHECK(sink.headers == 1 && sink.documents == whole->documents.size() && sink.warnings == whole->warnings);
}

}  // namespace

// The vector windows-1251 decoder against the table, on the input and on
// its first half with the rest readable after it.
void check_windows1251(std::string_view input) {
  std::string fast(input.size() * 3 + 1, '\0'), slow(input.size() * 3 + 1, '\0');
  const std::string_view half = input.substr(0, input.size() / 2);
  const char* const input_end = input.data() + input.size();
  for (const auto& [text, readable_end] : {std::pair{input, input_end}, std::pair{half, input_end}}) {
    const std::size_t n = mirtle::text::decode_windows1251_scalar(text, slow.data());
    CHECK(mirtle::text::decode_windows1251(text, fast.data(), readable_end) == n);
    CHECK(std::memcmp(fast.data(), slow.data(), n) == 0);
  }
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const std::uint8_t mode = data[0];
  const std::string_view input(reinterpret_cast<const char*>(data + 1), size - 1);
  // The hooks' choices follow the mode byte and the last byte of the input.
  const std::uint64_t seed = mode | static_cast<std::uint64_t>(data[size - 1]) << 8;

  switch (mode % 4) {
    case 0: {
      mirtle::ParseOptions one_thread, two_parts;
      one_thread.threads = 1;
      two_parts.threads = 2;
      two_parts.split_from = 0;
      const auto whole = mirtle::parse_statement({}, input, one_thread);
      check(whole);
      check_stream(input, whole);
      check_windows1251(input);
      check_same(whole, mirtle::parse_statement({}, input, two_parts));
      break;
    }
    case 1: {
      IdentityHook identity;
      ViewingHook viewing;
      const auto plain = mirtle::parse_statement({}, input);
      for (mirtle::Hook* hook : {static_cast<mirtle::Hook*>(&identity), static_cast<mirtle::Hook*>(&viewing)}) {
        mirtle::Hook* hooks[] = {hook};
        const auto hooked = mirtle::parse_statement(hooks, input);
        check(hooked);
        check_same(plain, hooked);
      }
      break;
    }
    case 2: {
      MutatingHook hook(seed, false);
      mirtle::Hook* hooks[] = {&hook};
      check(mirtle::parse_statement(hooks, input));
      break;
    }
    default: {
      // A hook that only looks, then ones that change the section it saw as views.
      ViewingHook viewing;
      MutatingHook first(seed, false), second(seed ^ 0x5A5A5A5Aull, true);
      mirtle::Hook* hooks[] = {&viewing, &first, &second};
      check(mirtle::parse_statement(hooks, input));
      break;
    }
  }
  return 0;
}
