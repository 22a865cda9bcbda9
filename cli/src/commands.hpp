// The subcommands.  Each returns the process's exit status.
#pragma once

#include <string>
#include <vector>

namespace mirtle_cli {

struct ShowOptions {
  std::string file;
};
int run_show(const ShowOptions& options);

struct JsonOptions {
  std::string file;
  bool lines = false;  // one document per line, streamed
  bool raw = false;    // the section stream, every attribute with its line
};
int run_json(const JsonOptions& options);

struct CsvOptions {
  std::string file;
  bool accounts = false;  // the balance intervals instead of the documents
  bool excel = false;     // byte-order mark and ";" for spreadsheet programs
};
int run_csv(const CsvOptions& options);

struct XlsxOptions {
  std::string file;
  std::string output;
  bool names = false;  // column headers: attribute names, not the file's keys
};
int run_xlsx(const XlsxOptions& options);

struct CheckOptions {
  std::vector<std::string> files;
  bool strict = false;    // warnings fail too
  bool balances = false;  // the balance checks as well
  unsigned jobs = 0;      // 0: one per processor
};
int run_check(const CheckOptions& options);

struct ConvertOptions {
  std::string file;
  std::string output;
  std::string encoding;  // "cp1251", "utf-8", or empty to keep the input's
  std::string newline;   // "crlf", "lf", or empty for the writer's default
};
int run_convert(const ConvertOptions& options);

}  // namespace mirtle_cli
