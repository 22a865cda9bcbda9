// json and csv: the statement's records in machine formats on standard output.
#include <unistd.h>

#include <array>
#include <string>

#include "commands.hpp"
#include "common.hpp"
#include "document_json.hpp"
#include "fields.hpp"
#include "text_formats.hpp"

namespace mirtle_cli {

namespace {

void append_interval_json(std::string& out, const mirtle::Interval& interval) {
  std::array<ValueScratch, 6> scratch;
  const auto texts = interval_texts(interval, scratch);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    out += i == 0 ? "{\"" : ",\"";
    out += kIntervalAttributes[i];
    out += "\":";
    append_json_value(out, texts[i]);
  }
  out += '}';
}

void write_header_json(std::string& out, const mirtle::AttributeMap& header) {
  out += '{';
  const char* separator = "";
  for (const auto& [key, value] : header.entries()) {
    out += separator;
    append_json_string(out, key);
    out += ':';
    append_json_string(out, value);
    separator = ",";
  }
  out += '}';
}

void write_accounts_json(std::string& out, const std::vector<mirtle::Account>& accounts) {
  out += '{';
  const char* separator = "";
  for (const mirtle::Account& account : accounts) {
    out += separator;
    append_json_string(out, account.number);
    out += ":[";
    for (std::size_t i = 0; i < account.intervals.size(); ++i) {
      if (i != 0) out += ',';
      append_interval_json(out, account.intervals[i]);
    }
    out += ']';
    separator = ",";
  }
  out += '}';
}

void write_statement_json(Output& out, const mirtle::Statement& statement) {
  std::string& b = out.buffer();
  b += "{\"encoding\":";
  append_json_string(b, encoding_name(statement.encoding));
  b += ",\"header\":";
  write_header_json(b, statement.header);
  b += ",\"accounts\":";
  write_accounts_json(b, statement.accounts);
  b += ",\"documents\":[";
  const DocumentJson documents;
  for (std::size_t i = 0; i < statement.documents.size() && !out.failed(); ++i) {
    if (i != 0) b += ',';
    documents.append(b, statement.documents[i]);
    out.maybe_flush();
  }
  b += "],\"warnings\":[";
  for (std::size_t i = 0; i < statement.warnings.size(); ++i) {
    if (i != 0) b += ',';
    b += "{\"lineno\":";
    b += std::to_string(statement.warnings[i].lineno);
    b += ",\"message\":";
    append_json_string(b, statement.warnings[i].message);
    b += '}';
  }
  b += "]}\n";
}

void append_csv_row_end(std::string& out) { out += "\r\n"; }

void write_documents_csv(Output& out, const mirtle::Statement& statement, char delimiter) {
  std::string& b = out.buffer();
  for (std::size_t i = 0; i < kDocAttributes.size(); ++i) {
    if (i != 0) b += delimiter;
    append_csv_field(b, kDocAttributes[i].name, delimiter);
  }
  append_csv_row_end(b);
  ValueScratch scratch;
  for (const mirtle::Document& document : statement.documents) {
    for (std::size_t i = 0; i < kDocAttributes.size(); ++i) {
      if (i != 0) b += delimiter;
      append_csv_field(b, attribute_text(document, kDocAttributes[i], scratch), delimiter);
    }
    append_csv_row_end(b);
    out.maybe_flush();
    if (out.failed()) return;
  }
}

void write_intervals_csv(Output& out, const mirtle::Statement& statement, char delimiter) {
  std::string& b = out.buffer();
  b += "account";
  for (std::string_view name : kIntervalAttributes) {
    b += delimiter;
    b += name;
  }
  append_csv_row_end(b);
  std::array<ValueScratch, 6> scratch;
  for (const mirtle::Account& account : statement.accounts) {
    for (const mirtle::Interval& interval : account.intervals) {
      append_csv_field(b, account.number, delimiter);
      for (const auto& text : interval_texts(interval, scratch)) {
        b += delimiter;
        append_csv_field(b, text, delimiter);
      }
      append_csv_row_end(b);
    }
    out.maybe_flush();
  }
}

}  // namespace

int run_json_statement(const JsonOptions& options) {
  Input input;
  mirtle::Statement statement;
  if (!open_input(options.file, input) || !parse_input(input, statement)) return kFailure;
  Output out(STDOUT_FILENO, "standard output");
  write_statement_json(out, statement);
  return finish(out);
}

int run_csv(const CsvOptions& options) {
  Input input;
  mirtle::Statement statement;
  if (!open_input(options.file, input) || !parse_input(input, statement)) return kFailure;
  Output out(STDOUT_FILENO, "standard output");
  const char delimiter = options.excel ? ';' : ',';
  if (options.excel) out.buffer() += "\xEF\xBB\xBF";
  if (options.accounts)
    write_intervals_csv(out, statement, delimiter);
  else
    write_documents_csv(out, statement, delimiter);
  return finish(out);
}

}  // namespace mirtle_cli
