// libFuzzer harness for the export writers.  For every statement the
// reader returns, each writer's streaming path and its Statement entry
// write the same bytes (JSON, JSON Lines, CSV in its three forms, the
// section stream), given the text or not; the balance rows collected while
// the records stream are those of the Statement; and for a text the reader
// refuses, the streaming writers stop with the reader's error.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "mirtle/balances.hpp"
#include "mirtle/export.hpp"

#include "check.hpp"

namespace {

template <typename Make>
std::string streamed(std::string_view input, bool read_whole, Make make) {
  mirtle::StringSink sink;
  const auto writer = make(sink);
  const auto read = mirtle::export_records(input, *writer);
  CHECK(static_cast<bool>(read) == read_whole);
  return sink.bytes;
}

bool same_rows(const std::vector<mirtle::BalanceRow>& a, const std::vector<mirtle::BalanceRow>& b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    mirtle::BalanceRow x = a[i], y = b[i];
    x.lineno.reset();
    y.lineno.reset();
    const auto same = [](const std::optional<mirtle::Decimal>& p, const std::optional<mirtle::Decimal>& q) {
      return p.has_value() == q.has_value() && (!p || p->same_value(*q));
    };
    if (x.account != y.account || x.date_start != y.date_start || x.date_end != y.date_end ||
        x.arithmetic_ok != y.arithmetic_ok || x.continuity_ok != y.continuity_ok ||
        !same(x.documents_income, y.documents_income) || !same(x.documents_expense, y.documents_expense) ||
        !same(x.income_difference, y.income_difference) || !same(x.expense_difference, y.expense_difference))
      return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  auto parsed = mirtle::parse_statement({}, input);
  const bool whole = static_cast<bool>(parsed);

  const std::string json = streamed(input, whole, [&](mirtle::ByteSink& s) { return mirtle::json_writer(s, input); });
  const std::string json_blind = streamed(input, whole, [](mirtle::ByteSink& s) { return mirtle::json_writer(s); });
  const std::string lines = streamed(input, whole, [](mirtle::ByteSink& s) { return mirtle::json_lines_writer(s); });
  std::string csv[3];
  const mirtle::CsvOptions forms[3] = {{false, false}, {false, true}, {true, false}};
  for (int i = 0; i < 3; ++i)
    csv[i] = streamed(input, whole, [&](mirtle::ByteSink& s) { return mirtle::csv_writer(s, forms[i]); });
  mirtle::StringSink sections;
  CHECK(static_cast<bool>(mirtle::write_sections_json(input, sections)) == static_cast<bool>(mirtle::read_sections(input)));
  if (!whole) return 0;

  const mirtle::Statement& statement = *parsed;
  mirtle::StringSink out;
  mirtle::write_json(statement, out);
  CHECK(out.bytes == json && json == json_blind);
  out.bytes.clear();
  mirtle::write_json_lines(statement, out);
  CHECK(out.bytes == lines);
  for (int i = 0; i < 3; ++i) {
    out.bytes.clear();
    mirtle::write_csv(statement, out, forms[i]);
    CHECK(out.bytes == csv[i]);
  }
  auto raw = mirtle::read_sections(input);
  CHECK(static_cast<bool>(raw));
  out.bytes.clear();
  mirtle::write_sections_json(*raw, out);
  CHECK(out.bytes == sections.bytes);

  mirtle::BalanceCollector collector(input);
  CHECK(static_cast<bool>(mirtle::parse_records({}, input, collector)));
  CHECK(same_rows(collector.finish(), mirtle::check_balances(statement)));
  return 0;
}
