// json and csv: the statement's records in machine formats on standard output.
#include <array>
#include <optional>
#include <string>

#include "commands.hpp"
#include "common.hpp"
#include "document_json.hpp"
#include "fields.hpp"
#include "mirtle/sections.hpp"
#include "progress.hpp"
#include "mirtle/accounts.hpp"
#include "text_formats.hpp"

namespace mirtle_cli {

namespace {

void append_interval_json(std::string& out, const mirtle::Interval& interval) {
  std::array<ValueScratch, 6> scratch;
  const auto texts = interval_texts(interval, scratch);
  for (std::size_t i = 0; i < texts.size(); ++i) {
    out += i == 0 ? "{\"" : ",\"";
    out += kIntervalAttributes[i].name;
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

// Counts the account sections: each gives one interval.
class AccountSectionCounter final : public mirtle::RecordSink {
 public:
  void on_header(mirtle::Encoding, const mirtle::AttributeMap&) override {}
  void on_interval(std::string_view, mirtle::Interval&&, mirtle::LineNo) override { ++count; }
  void on_document(mirtle::Document&&, mirtle::LineNo) override {}
  void on_warning(mirtle::Warning&&) override {}

  std::size_t count = 0;
};

// How many account sections the text holds, as the reader itself finds
// them: the bytes cannot tell (a UTF-16 statement holds no marker in the
// bytes of either 8-bit encoding).  Measured on the 50 MB statements: 26 ms
// in UTF-8, 60 ms in windows-1251, against 80 and 135 ms for the json
// command; holding their documents in memory instead cost more (page faults
// on 54 and 86 MB).  Nothing when the text fails: the reading that follows
// reports why.
std::optional<std::size_t> count_account_sections(std::string_view input) {
  AccountSectionCounter counter;
  if (!mirtle::parse_records({}, input, counter)) return std::nullopt;
  return counter.count;
}

// Writes the statement object while the records stream by.  The accounts
// come first in the object but are final only after their last section, so
// documents wait in a side buffer until every account section has been
// seen, then go straight out: a statement whose account sections lead (the
// usual layout) never holds its documents in memory.
class StatementJsonSink final : public WritingSink {
 public:
  StatementJsonSink(Output& out, std::optional<std::size_t> account_sections, Progress& progress)
      : out_(out), account_sections_left_(account_sections), progress_(progress) {}

  void on_header(mirtle::Encoding encoding, const mirtle::AttributeMap& header) override {
    encoding_ = encoding;
    header_ = header;
    if (account_sections_left_ == 0u) write_front();
  }
  void on_interval(std::string_view account, mirtle::Interval&& interval, mirtle::LineNo) override {
    progress_.advance();
    accounts_.add_interval(account, std::move(interval));
    if (!front_written_ && account_sections_left_ && --*account_sections_left_ == 0) write_front();
  }
  void on_document(mirtle::Document&& document, mirtle::LineNo) override {
    progress_.advance();
    std::string& b = front_written_ ? out_.buffer() : pending_;
    if (documents_written_++ != 0) b += ',';
    documents_.append(b, document);
    if (front_written_) out_.maybe_flush();
  }
  void on_warning(mirtle::Warning&& warning) override {
    progress_.advance();
    warnings_.push_back(std::move(warning));
  }

  // Completes the object once the parse has succeeded (a statement has at
  // least one section, so on_header has been called).
  void finish() override {
    if (!front_written_) write_front();
    std::string& b = out_.buffer();
    b += "],\"warnings\":[";
    for (std::size_t i = 0; i < warnings_.size(); ++i) {
      if (i != 0) b += ',';
      b += "{\"lineno\":";
      b += std::to_string(warnings_[i].lineno);
      b += ",\"message\":";
      append_json_string(b, warnings_[i].message);
      b += '}';
    }
    b += "]}\n";
  }

 private:
  void write_front() {
    std::string& b = out_.buffer();
    b += "{\"encoding\":";
    append_json_string(b, encoding_name(encoding_));
    b += ",\"header\":";
    write_header_json(b, header_);
    b += ",\"accounts\":";
    write_accounts_json(b, accounts_.finish());
    b += ",\"documents\":[";
    b += pending_;
    std::string().swap(pending_);
    front_written_ = true;
    out_.maybe_flush();
  }

  Output& out_;
  std::optional<std::size_t> account_sections_left_;  // unknown for a text that fails
  Progress& progress_;
  bool front_written_ = false;
  mirtle::Encoding encoding_ = mirtle::Encoding::UTF8;
  mirtle::AttributeMap header_;
  mirtle::AccountBook accounts_;
  DocumentJson documents_;
  std::size_t documents_written_ = 0;
  std::string pending_;  // documents that came before the last account section
  std::vector<mirtle::Warning> warnings_;
};

void append_csv_row_end(std::string& out) { out += "\r\n"; }

// Writes CSV rows while the records stream by: a document row as each
// document section closes; the intervals, which must be filed in order
// first, once the statement has been read.
class CsvSink final : public WritingSink {
 public:
  CsvSink(Output& out, const CsvOptions& options, const std::string& name, Progress& progress)
      : out_(out), accounts_only_(options.accounts), excel_(options.excel), delimiter_(options.excel ? ';' : ','),
        name_(name), progress_(progress) {}

  // The first call: nothing is written for a statement that fails before
  // its first section.
  void on_header(mirtle::Encoding, const mirtle::AttributeMap&) override {
    std::string& b = out_.buffer();
    if (excel_) b += "\xEF\xBB\xBF";
    if (accounts_only_) {
      b += "account";
      for (const mirtle::IntervalAttribute& attribute : kIntervalAttributes) {
        b += delimiter_;
        b += attribute.name;
      }
    } else {
      for (std::size_t i = 0; i < kDocAttributes.size(); ++i) {
        if (i != 0) b += delimiter_;
        append_csv_field(b, kDocAttributes[i].name, delimiter_);
      }
    }
    append_csv_row_end(b);
  }
  void on_interval(std::string_view account, mirtle::Interval&& interval, mirtle::LineNo) override {
    progress_.advance();
    if (accounts_only_) accounts_.add_interval(account, std::move(interval));
  }
  void on_document(mirtle::Document&& document, mirtle::LineNo) override {
    progress_.advance();
    if (accounts_only_) return;
    std::string& b = out_.buffer();
    ValueScratch scratch;
    for (std::size_t i = 0; i < kDocAttributes.size(); ++i) {
      if (i != 0) b += delimiter_;
      append_csv_field(b, attribute_text(document, kDocAttributes[i], scratch), delimiter_);
    }
    append_csv_row_end(b);
    out_.maybe_flush();
    if (out_.failed()) throw OutputStopped{};
  }
  void on_warning(mirtle::Warning&& warning) override {
    progress_.advance();
    if (!accounts_only_) report_warning(progress_, name_, warning);
  }

  // Writes the intervals of --accounts once the statement has been read.
  void finish() override {
    if (!accounts_only_) return;
    std::string& b = out_.buffer();
    std::array<ValueScratch, 6> scratch;
    for (const mirtle::Account& account : accounts_.finish()) {
      for (const mirtle::Interval& interval : account.intervals) {
        append_csv_field(b, account.number, delimiter_);
        for (const auto& text : interval_texts(interval, scratch)) {
          b += delimiter_;
          append_csv_field(b, text, delimiter_);
        }
        append_csv_row_end(b);
      }
      out_.maybe_flush();
    }
  }

 private:
  Output& out_;
  bool accounts_only_;
  bool excel_;
  char delimiter_;
  const std::string& name_;
  Progress& progress_;
  mirtle::AccountBook accounts_;
};

}  // namespace

int run_json_statement(const JsonOptions& options) {
  Input input;
  if (!open_input(options.file, input)) return kFailure;
  Output out = Output::standard();
  Progress progress(input.bytes());
  StatementJsonSink sink(out, count_account_sections(input.bytes()), progress);
  return write_records(input, out, progress, sink);
}

int run_csv(const CsvOptions& options) {
  Input input;
  if (!open_input(options.file, input)) return kFailure;
  Output out = Output::standard();
  Progress progress(input.bytes());
  CsvSink sink(out, options, input.name(), progress);
  return write_records(input, out, progress, sink);
}

}  // namespace mirtle_cli
