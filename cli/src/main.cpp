// mirtle: bank statements in the 1CClientBankExchange format, from a shell.
#include <algorithm>
#include <new>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include <CLI/CLI.hpp>

#include "commands.hpp"
#include "common.hpp"
#include "platform/platform.hpp"
#include "printable.hpp"

#ifndef MIRTLE_VERSION
#define MIRTLE_VERSION "unknown"
#endif

namespace {

using namespace mirtle_cli;

constexpr const char* kFileHelp = "statement file, or - for standard input";

// The parsed command line: which subcommand and its options.
struct Commands {
  ShowOptions show;
  JsonOptions json;
  CsvOptions csv;
  XlsxOptions xlsx;
  CheckOptions check;
  ConvertOptions convert;
  CLI::App* show_app = nullptr;
  CLI::App* json_app = nullptr;
  CLI::App* csv_app = nullptr;
  CLI::App* xlsx_app = nullptr;
  CLI::App* check_app = nullptr;
  CLI::App* convert_app = nullptr;
};

void define_show(CLI::App& app, Commands& c) {
  c.show_app = app.add_subcommand(
      "show", "A readable summary: header, balances per account, a table of documents, warnings");
  c.show_app->add_option("FILE", c.show.file, kFileHelp)->required();
}

void define_json(CLI::App& app, Commands& c) {
  c.json_app = app.add_subcommand("json", "The statement as one JSON object on standard output");
  c.json_app->add_option("FILE", c.json.file, kFileHelp)->required();
  auto* lines = c.json_app->add_flag("--lines", c.json.lines, "JSON Lines: one document per line, streamed");
  c.json_app->add_flag("--raw", c.json.raw, "every header and section attribute in file order, with line numbers")
      ->excludes(lines);
}

void define_csv(CLI::App& app, Commands& c) {
  c.csv_app = app.add_subcommand("csv", "The documents as CSV (RFC 4180) on standard output");
  c.csv_app->add_option("FILE", c.csv.file, kFileHelp)->required();
  c.csv_app->add_flag("--accounts", c.csv.accounts, "the balance intervals instead, account number first");
  c.csv_app->add_flag("--excel", c.csv.excel, "UTF-8 byte-order mark and ';' between fields, for spreadsheets");
}

void define_xlsx(CLI::App& app, Commands& c) {
  c.xlsx_app = app.add_subcommand(
      "xlsx", "A workbook: the documents, the balances with their checks and a chart, the header, the warnings");
  c.xlsx_app->add_option("FILE", c.xlsx.file, kFileHelp)->required();
  c.xlsx_app->add_option("-o,--output", c.xlsx.output, "the .xlsx file to write, or - for standard output")
      ->required();
  c.xlsx_app->add_flag("--names", c.xlsx.names, "column headers: attribute names (doc_number), not the file's keys");
}

void define_check(CLI::App& app, Commands& c) {
  c.check_app = app.add_subcommand(
      "check", "Validate statements in parallel; report FILE:LINE: error|warning: MESSAGE in argument order");
  c.check_app->add_option("FILE", c.check.files, kFileHelp)->required();
  c.check_app->add_flag("--strict", c.check.strict, "fail on warnings too");
  c.check_app->add_flag("--balances", c.check.balances,
                        "check each account's balances too: errors where they do not add up or follow on, "
                        "warnings where the documents' sums differ from the totals");
  c.check_app->add_option("-j,--jobs", c.check.jobs, "threads to use (default: one per processor)")
      ->check(CLI::Range(1u, 1024u));
}

void define_convert(CLI::App& app, Commands& c) {
  c.convert_app = app.add_subcommand("convert", "Re-write a statement, losslessly, in another encoding or line ending");
  c.convert_app->add_option("FILE", c.convert.file, kFileHelp)->required();
  c.convert_app->add_option("-o,--output", c.convert.output, "the file to write, or - for standard output")
      ->required();
  c.convert_app->add_option("--encoding", c.convert.encoding, "cp1251 or utf-8 (default: the input's)")
      ->check(CLI::IsMember({"cp1251", "utf-8"}));
  c.convert_app->add_option("--newline", c.convert.newline, "crlf or lf (default: crlf)")
      ->check(CLI::IsMember({"crlf", "lf"}));
}

int dispatch(const Commands& c) {
  if (c.show_app->parsed()) return run_show(c.show);
  if (c.json_app->parsed()) return run_json(c.json);
  if (c.convert_app->parsed()) return run_convert(c.convert);
  if (c.csv_app->parsed()) return run_csv(c.csv);
  if (c.xlsx_app->parsed()) return run_xlsx(c.xlsx);
  if (c.check_app->parsed()) return run_check(c.check);
  return kUsage;
}

// CLI11's message on standard error, escaped line by line like every
// message for a person (it may quote an argument); help goes to stdout as is.
int report_usage(const CLI::App& app, const CLI::ParseError& e) {
  std::ostringstream out;
  std::ostringstream err;
  const int printed = app.exit(e, out, err);
  Output help = Output::standard();
  help.write(out.view());
  finish(help);
  std::string lines;
  for (std::string_view rest = err.view(); !rest.empty();) {
    const std::size_t end = std::min(rest.find('\n'), rest.size());
    lines += printable(rest.substr(0, end)) + "\n";
    rest.remove_prefix(std::min(end + 1, rest.size()));
  }
  write_stderr(lines);
  return printed;
}

int run(const std::vector<std::string>& arguments) {
  CLI::App app{"mirtle: read, check and convert bank statements in the 1CClientBankExchange format"};
  app.name("mirtle");
  // "/tmp/x" is a file on every system, never an option; set before the
  // subcommands, which inherit it.
  app.allow_windows_style_options(false);
  app.set_version_flag("--version", "mirtle " MIRTLE_VERSION);
  app.require_subcommand(1);
  Commands commands;
  define_show(app, commands);
  define_json(app, commands);
  define_csv(app, commands);
  define_xlsx(app, commands);
  define_check(app, commands);
  define_convert(app, commands);
  try {
    std::vector<const char*> argv;
    for (const std::string& a : arguments) argv.push_back(a.c_str());
    app.parse(static_cast<int>(argv.size()), argv.data());
  } catch (const CLI::ParseError& e) {
    // Help and version exit 0; every usage error exits 2.
    const int printed = report_usage(app, e);
    return printed == 0 ? kSuccess : kUsage;
  }
  return dispatch(commands);
}

}  // namespace

int main(int argc, char** argv) {
  try {
    return run(mirtle_cli::platform::start(argc, argv));
  } catch (const std::bad_alloc&) {
    complain("out of memory");
    return kFailure;
  }
}
