// Stand-in for the core's record stream until it is built: the records of
// parse_statement handed to the sink after the parse, without closing lines.
#include "mirtle/sections.hpp"

namespace mirtle {

Result<Ok, ParseError> parse_records(std::span<Hook* const> hooks, std::string_view input, RecordSink& sink) {
  ParseResult result = parse_statement(hooks, input);
  if (!result) return fail(std::move(result).error());
  Statement& statement = result.value();
  sink.on_header(statement.encoding, statement.header);
  for (Account& account : statement.accounts)
    for (Interval& interval : account.intervals) sink.on_interval(account.number, std::move(interval), 0);
  for (Document& document : statement.documents) sink.on_document(std::move(document), 0);
  for (Warning& warning : statement.warnings) sink.on_warning(std::move(warning));
  return Ok{};
}

}  // namespace mirtle
