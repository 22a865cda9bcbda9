// Helpers shared by the core tests: a parse, tables of cases, and statements and errors as text.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include "mirtle/message.hpp"
#include "mirtle/statement.hpp"

namespace mirtle::testing {

inline ParseResult parse(std::string_view input, const std::vector<Hook*>& hooks = {}) {
  return parse_statement(std::span<Hook* const>(hooks.data(), hooks.size()), input);
}

// Inputs and expected outcomes, checked one row at a time.
using Rows = std::vector<std::pair<std::string, std::string>>;
template <typename F>
void check_rows(const Rows& rows, F&& outcome) {
  for (const auto& [input, expected] : rows) EXPECT_EQ(outcome(input), expected) << "input: " << input.substr(0, 300);
}

// UTF-8 written out by hand, so that the tests do not lean on the library.
inline std::string utf8(char32_t c) {
  if (c < 0x80) return std::string(1, static_cast<char>(c));
  const int n = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  std::string out(1, static_cast<char>((0xF00 >> n) | (c >> (6 * (n - 1)))));
  for (int k = n - 2; k >= 0; --k) out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
  return out;
}

inline std::string repeat(std::string_view piece, std::size_t times) {
  std::string out;
  while (times-- > 0) out += piece;
  return out;
}

// One line per error, naming only the fields its kind carries.
inline std::string summary(const ParseError& e) {
  static const char* const kKinds[] = {"", "InvalidDocument", "Unfinished", "NotStatement", "EmptyInput"};
  static const char* const kSyntax[] = {"UnexpectedSection", "UnexpectedAttribute", "UnrecognizedLine",
                                        "MissingField", "AccountParseError", "DocumentParseError", "HookError"};
  static const char* const kContexts[] = {"header", "document", "account", "finished", "init", "read_next_section"};
  if (!e.is_syntax()) return kKinds[static_cast<int>(e.kind)];
  std::string out = std::string(kSyntax[static_cast<int>(e.syntax)]) + "(" + std::to_string(e.lineno) + ", " + e.text;
  if (e.syntax == SyntaxKind::UnexpectedAttribute) out += ", " + e.value;
  if (e.syntax == SyntaxKind::UnexpectedSection || e.syntax == SyntaxKind::MissingField)
    out += std::string(", ") + kContexts[static_cast<int>(e.context)];
  return out + ")";
}
inline std::string summary(const ParseResult& r) { return r ? std::string("ok") : summary(r.error()); }

inline std::string invalid_amount(std::string_view quoted) {
  return "invalid value: string \"" + std::string(quoted) +
         "\", expected a Decimal type representing a fixed-point number";
}

inline std::string show(const std::optional<Date>& d) { return d ? format_date(*d) : "-"; }
inline std::string show(const std::optional<Decimal>& a) { return a ? format_amount(*a) : "-"; }
inline std::string show(const Interval& i) {
  return format_date(i.date_start) + " " + show(i.date_end) + " " + format_amount(i.start_amount) + " " +
         show(i.end_amount) + " " + show(i.total_income) + " " + show(i.total_expense);
}

// The whole record as text: equal texts mean equal statements, written scales included.
inline std::string dump(const Statement& s) {
  std::string out = s.encoding == Encoding::UTF8 ? "utf-8" : "cp1251";
  for (const auto& [k, v] : s.header.entries()) out += "\nH " + k + "=" + v;
  for (const Account& a : s.accounts)
    for (const Interval& i : a.intervals) out += "\nA " + a.number + " " + show(i);
  for (const Document& d : s.documents) {
    out += "\nD " + format_date(d.doc_date) + " " + format_amount(d.amount) + " " + show(d.outcome_date) + " " +
           show(d.income_date);
    for (std::size_t f = 0; f < kDocFieldCount; ++f) {
      const auto t = d.text(static_cast<DocField>(f));
      out += t ? '|' : '~';  // appended in two steps: g++ 12 warns wrongly about "|" + std::string
      if (t) out += *t;
    }
  }
  for (const Warning& w : s.warnings) out += "\nW " + std::to_string(w.lineno) + " " + w.message;
  return out;
}

// The twelve keys a document needs besides its type, with plausible values.
inline constexpr std::string_view kMinimalDocument =
    "Номер=17\nДата=05.03.2024\nСумма=1500.00\nНазначениеПлатежа=Оплата по счету 5\nПлательщикИНН=7701000000\n"
    "ПлательщикБИК=044525000\nПлательщикБанк1=АО Банк\nПлательщикСчет=40702810000000000001\n"
    "ПолучательИНН=7702000000\nПолучательСчет=40702810000000000002\nПолучательБИК=044525001\n"
    "ПолучательБанк1=ПАО Банк\n";
// A statement after its first line: one document on lines 2 to 15, then the end on line 16.
inline const std::string kOneDocument =
    "СекцияДокумент=Платежное поручение\n" + std::string(kMinimalDocument) + "КонецДокумента\nКонецФайла\n";
inline const std::string kStatement = "1CClientBankExchange\n" + kOneDocument;

inline std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  EXPECT_TRUE(f) << path;
  return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

// A statement and `count` mutations of it that reach the errors and warnings: cut short before a
// line, a line dropped, a line doubled, a line moved to the end, a line without its "=".
inline std::vector<std::string> variants(const std::string& input, std::size_t count) {
  std::vector<std::string> lines;
  for (std::size_t at = 0, end; at < input.size(); at = end) {
    end = std::min(input.find('\n', at), input.size() - 1) + 1;
    lines.push_back(input.substr(at, end - at));
  }
  auto join = [&](std::size_t skip, std::size_t stop, const std::string& extra) {
    std::string out;
    for (std::size_t i = 0; i < stop; ++i) out += i == skip ? "" : lines[i];
    return out + extra;
  };
  std::vector<std::string> out = {input};
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t k = (i * 7919 + 3) % lines.size();
    out.push_back(join(lines.size(), k, ""));
    out.push_back(join(k, lines.size(), ""));
    out.push_back(join(lines.size(), lines.size(), lines[k]));
    out.push_back(join(k, lines.size(), "\n" + lines[k]));
    std::string unsplit = join(lines.size(), k, "");
    const std::size_t eq = unsplit.size() + lines[k].find('=');
    unsplit = input;
    if (eq < unsplit.size()) unsplit[eq] = ' ';
    out.push_back(unsplit);
  }
  return out;
}

// Changes the sections it sees by a fixed plan: every third call rewrites Сумма and drops
// НачальныйОстаток's partner ВсегоСписано, every 41st call fails.
struct PlannedHook : Hook {
  HookOutcome on_section(SectionType type, AttributeMap& attrs, const AttributeMap& header) noexcept override {
    ++calls;
    if (calls % 41 == 0) return HookOutcome::failure("refused " + std::to_string(calls) + " " +
                                                    std::to_string(header.size()));
    if (calls % 3 == 0) {
      attrs.set(std::string_view(type == SectionType::Document ? "Сумма" : "ВсегоСписано"), std::string_view("1.50"));
      attrs.set(std::string_view("Новый"), std::string_view("ключ"));
    }
    return HookOutcome::ok();
  }
  unsigned calls = 0;
};

// The same plan, met through the views of a section: it leaves the sections it does not change
// as they are, so those are read on from their lines.
struct PlannedViewHook : PlannedHook {
  HookOutcome on_section_views(SectionType type, std::span<const AttributeView> attrs, const AttributeMap& header,
                               AttributeMap& changed_attrs, bool& changed) override {
    if ((calls + 1) % 41 != 0 && (calls + 1) % 3 != 0) {
      ++calls;
      return HookOutcome::ok();
    }
    return Hook::on_section_views(type, attrs, header, changed_attrs, changed);
  }
};

enum class Hooked { No, Planned, PlannedViews };

// FNV-1a over the outcomes of parsing every variant, without hooks or with a planned hook.
inline std::uint64_t outcome_digest(const std::vector<std::string>& inputs, Hooked hooked) {
  std::uint64_t h = 1469598103934665603ull;
  for (const std::string& input : inputs) {
    PlannedHook planned;
    PlannedViewHook viewing;
    const auto r = hooked == Hooked::No        ? parse(input)
                   : hooked == Hooked::Planned ? parse(input, {&planned})
                                               : parse(input, {&viewing});
    for (unsigned char c : r ? dump(*r) : summary(r.error())) h = (h ^ c) * 1099511628211ull;
    h = (h ^ 0xFF) * 1099511628211ull;
  }
  return h;
}

}  // namespace mirtle::testing
