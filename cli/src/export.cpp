// json, csv and xlsx: the statement written by the export library, to
// standard output or, for xlsx, to a file.
#include <memory>
#include <string>

#include "commands.hpp"
#include "common.hpp"
#include "mirtle/export.hpp"
#include "progress.hpp"
#include "write_file.hpp"

namespace mirtle_cli {

namespace {

// The export library's bytes into an Output: whole blocks are swapped in,
// not copied.  With `stop_on_failure` a failed write ends the parse
// (OutputStopped); without, later output is dropped and the failure is
// reported at the end.
class OutputSink final : public mirtle::ByteSink {
 public:
  OutputSink(Output& out, bool stop_on_failure) : out_(out), stop_on_failure_(stop_on_failure) {}

  void write(std::string_view bytes) override {
    out_.write(bytes);
    stop_if_failed();
  }
  void take(std::string& block) override {
    if (out_.buffer().empty()) {
      out_.buffer().swap(block);
      out_.flush();
    } else {
      out_.buffer() += block;
      out_.maybe_flush();
    }
    block.clear();
    stop_if_failed();
  }

 private:
  void stop_if_failed() {
    if (stop_on_failure_ && out_.failed()) throw OutputStopped{};
  }

  Output& out_;
  bool stop_on_failure_;
};

// Hands the records to an export writer, advancing the progress bar, and
// reports warnings on standard error where the format has no place for
// them.
class ExportSink final : public WritingSink {
 public:
  ExportSink(mirtle::RecordWriter& writer, Progress& progress, const std::string& name, bool report_warnings)
      : writer_(writer), progress_(progress), name_(name), report_warnings_(report_warnings) {}

  void on_header(mirtle::Encoding encoding, const mirtle::AttributeMap& header) override {
    writer_.on_header(encoding, header);
  }
  void on_interval(std::string_view account, mirtle::Interval&& interval, mirtle::LineNo end_line) override {
    progress_.advance();
    writer_.on_interval(account, std::move(interval), end_line);
  }
  void on_interval_section(std::string_view account, mirtle::Interval&& interval, mirtle::LineNo start_line,
                           mirtle::LineNo end_line) override {
    progress_.advance();
    writer_.on_interval_section(account, std::move(interval), start_line, end_line);
  }
  void on_document(mirtle::Document&& document, mirtle::LineNo end_line) override {
    progress_.advance();
    writer_.on_document(std::move(document), end_line);
  }
  void on_warning(mirtle::Warning&& warning) override {
    progress_.advance();
    if (report_warnings_) report_warning(progress_, name_, warning);
    writer_.on_warning(std::move(warning));
  }
  void finish() override { writer_.finish(); }
  void flush() override { writer_.flush(); }

 private:
  mirtle::RecordWriter& writer_;
  Progress& progress_;
  const std::string& name_;
  bool report_warnings_;
};

// Writes the input's records through the writer `make` gives for the
// output's sink.
template <typename Make>
int export_to_stdout(const std::string& file, bool stop_on_failure, bool report_warnings, Make make) {
  Input input;
  if (!open_input(file, input)) return kFailure;
  Output out = Output::standard();
  OutputSink sink(out, stop_on_failure);
  Progress progress(input.bytes());
  const std::unique_ptr<mirtle::RecordWriter> writer = make(sink, input.bytes());
  ExportSink records(*writer, progress, input.name(), report_warnings);
  try {
    return write_records(input, out, progress, records);
  } catch (const mirtle::ExportError& e) {
    progress.done();
    finish(out);
    complain(e.what());
    return kFailure;
  }
}

int run_json_raw(const JsonOptions& options) {
  Input input;
  if (!open_input(options.file, input)) return kFailure;
  Output out = Output::standard();
  OutputSink sink(out, true);
  try {
    const auto written = mirtle::write_sections_json(input.bytes(), sink);
    if (!written) {
      // What was written stays: the sections before the error are sound.
      const int flushed = finish(out);
      report_parse_error(input.name(), written.error());
      return flushed == kSuccess ? kFailure : flushed;
    }
  } catch (const OutputStopped&) {
  }
  return finish(out);
}

}  // namespace

int run_json(const JsonOptions& options) {
  if (options.raw) return run_json_raw(options);
  if (options.lines)
    return export_to_stdout(options.file, true, true,
                            [](mirtle::ByteSink& sink, std::string_view) { return mirtle::json_lines_writer(sink); });
  // Warnings are members of the object.
  return export_to_stdout(options.file, false, false, [](mirtle::ByteSink& sink, std::string_view input) {
    return mirtle::json_writer(sink, input);
  });
}

int run_csv(const CsvOptions& options) {
  mirtle::CsvOptions csv;
  csv.intervals = options.accounts;
  csv.excel = options.excel;
  // The intervals have no place for the documents' warnings: they are not reported.
  return export_to_stdout(options.file, true, !options.accounts,
                          [&](mirtle::ByteSink& sink, std::string_view) { return mirtle::csv_writer(sink, csv); });
}

int run_xlsx(const XlsxOptions& options) {
  if (!mirtle::xlsx_available()) {
    complain("xlsx: not available: this mirtle was built without libxlsxwriter");
    return kFailure;
  }
  Input input;
  if (!open_input(options.file, input)) return kFailure;
  mirtle::XlsxOptions xlsx;
  xlsx.attribute_names = options.names;
  // The workbook is complete only once the statement has been read: OUT is
  // replaced (or written) only then, and left as it was after an error.
  const bool written = write_file(options.output, [&](Output& out) {
    OutputSink sink(out, true);
    Progress progress(input.bytes());
    try {
      const std::unique_ptr<mirtle::RecordWriter> writer = mirtle::xlsx_writer(sink, xlsx, input.bytes());
      ExportSink records(*writer, progress, input.name(), false);
      const auto parsed = mirtle::parse_records({}, input.bytes(), records);
      progress.done();
      if (!parsed) {
        report_parse_error(input.name(), parsed.error());
        return false;
      }
      writer->finish();
    } catch (const mirtle::ExportError& e) {
      progress.done();
      complain(e.what());
      return false;
    } catch (const OutputStopped&) {
    }
    return true;
  });
  return written ? kSuccess : kFailure;
}

}  // namespace mirtle_cli
