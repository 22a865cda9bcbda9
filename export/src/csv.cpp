// CSV: the documents, or the balance intervals, one row each.
#include <array>
#include <string>

#include "block_out.hpp"
#include "fields.hpp"
#include "mirtle/accounts.hpp"
#include "mirtle/export.hpp"
#include "text_formats.hpp"

namespace mirtle {

namespace exporting {
namespace {

void append_row_end(std::string& out) { out += "\r\n"; }

// Writes a document row as each document section closes; the intervals,
// which must be filed in order first, once the statement has been read.
class CsvWriter final : public RecordWriter {
 public:
  CsvWriter(ByteSink& sink, const CsvOptions& options)
      : out_(sink), intervals_(options.intervals), excel_(options.excel), delimiter_(options.excel ? ';' : ',') {}

  // The first call: nothing is written for a statement that fails before
  // its first section.
  void on_header(Encoding, const AttributeMap&) override {
    std::string& b = out_.buffer();
    if (excel_) b += "\xEF\xBB\xBF";
    if (intervals_) {
      b += "account";
      for (const IntervalAttribute& attribute : kIntervalAttributes) {
        b += delimiter_;
        b += attribute.name;
      }
    } else {
      for (std::size_t i = 0; i < kDocAttributes.size(); ++i) {
        if (i != 0) b += delimiter_;
        append_csv_field(b, kDocAttributes[i].name, delimiter_);
      }
    }
    append_row_end(b);
  }
  void on_interval(std::string_view account, Interval&& interval, LineNo) override {
    if (intervals_) accounts_.add_interval(account, std::move(interval));
  }
  void on_document(Document&& document, LineNo) override {
    if (!intervals_) add(document);
  }
  void on_warning(Warning&&) override {}

  void add(const Document& document) {
    std::string& b = out_.buffer();
    ValueScratch scratch;
    for (std::size_t i = 0; i < kDocAttributes.size(); ++i) {
      if (i != 0) b += delimiter_;
      append_csv_field(b, attribute_text(document, kDocAttributes[i], scratch), delimiter_);
    }
    append_row_end(b);
    out_.maybe_flush();
  }

  void add_intervals(const std::vector<Account>& accounts) {
    std::string& b = out_.buffer();
    std::array<ValueScratch, 6> scratch;
    for (const Account& account : accounts) {
      for (const Interval& interval : account.intervals) {
        append_csv_field(b, account.number, delimiter_);
        for (const auto& text : interval_texts(interval, scratch)) {
          b += delimiter_;
          append_csv_field(b, text, delimiter_);
        }
        append_row_end(b);
      }
      out_.maybe_flush();
    }
  }

  void finish() override {
    if (intervals_) add_intervals(accounts_.finish());
    out_.flush();
  }
  void flush() override { out_.flush(); }

  bool intervals() const noexcept { return intervals_; }

 private:
  BlockOut out_;
  bool intervals_;
  bool excel_;
  char delimiter_;
  AccountBook accounts_;
};

}  // namespace
}  // namespace exporting

using namespace exporting;

std::unique_ptr<RecordWriter> csv_writer(ByteSink& out, const CsvOptions& options) {
  return std::make_unique<CsvWriter>(out, options);
}

void write_csv(const Statement& statement, ByteSink& sink, const CsvOptions& options) {
  CsvWriter writer(sink, options);
  writer.on_header(statement.encoding, statement.header);
  if (writer.intervals()) {
    writer.add_intervals(statement.accounts);
  } else {
    for (const Document& document : statement.documents) writer.add(document);
  }
  writer.flush();
}

}  // namespace mirtle
