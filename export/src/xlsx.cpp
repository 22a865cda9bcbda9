// XLSX through libxlsxwriter in its constant-memory mode: each sheet's rows
// go to a temporary file as they are written, so a statement of any size
// takes the same memory.  The finished workbook is copied to the sink.
#include <stdlib.h>
#include <unistd.h>
#include <xlsxwriter.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>

#include "block_out.hpp"
#include "fields.hpp"
#include "mirtle/balances.hpp"
#include "mirtle/export.hpp"
#include "xlsx_cells.hpp"

namespace mirtle {

namespace exporting {
namespace {

[[noreturn]] void fail(const std::string& what) { throw ExportError("XLSX: " + what); }

void check(lxw_error error, const char* what) {
  if (error != LXW_NO_ERROR) fail(std::string(what) + ": " + lxw_strerror(error));
}

// A file name made exclusively in the temporary directory, for the
// spreadsheet library to write the workbook to; removed with this object.
class WorkbookFile {
 public:
  explicit WorkbookFile(const std::string& directory) {
    std::error_code error;
    const std::filesystem::path dir =
        directory.empty() ? std::filesystem::temp_directory_path(error) : std::filesystem::path(directory);
    if (error) fail("no temporary directory: " + error.message());
    directory_ = dir.string();
    path_ = (dir / "mirtle-xlsx-XXXXXX").string();
    const int fd = ::mkstemp(path_.data());
    if (fd < 0) fail(path_ + ": " + std::strerror(errno));
    ::close(fd);
  }
  WorkbookFile(const WorkbookFile&) = delete;
  WorkbookFile& operator=(const WorkbookFile&) = delete;
  ~WorkbookFile() { ::unlink(path_.c_str()); }

  const std::string& path() const noexcept { return path_; }
  const std::string& directory() const noexcept { return directory_; }

  void copy_to(ByteSink& sink) const {
    std::FILE* file = std::fopen(path_.c_str(), "rb");
    if (file == nullptr) fail(path_ + ": " + std::strerror(errno));
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> closer(file, &std::fclose);
    BlockOut out(sink);
    std::string& b = out.buffer();
    for (;;) {
      const std::size_t used = b.size();
      b.resize(BlockOut::kBlock);
      const std::size_t n = std::fread(b.data() + used, 1, BlockOut::kBlock - used, file);
      b.resize(used + n);
      if (n == 0) break;
      out.maybe_flush();
    }
    if (std::ferror(file)) fail(path_ + ": " + std::strerror(errno));
    out.flush();
  }

 private:
  std::string directory_;
  std::string path_;
};

// The workbook's creation time, fixed so that a statement always gives the
// same bytes: 2000-01-01 00:00:00 UTC.
constexpr time_t kCreated = 946684800;

// One sheet being filled row by row: where the next row goes and how wide
// each column's content has been.
struct Sheet {
  lxw_worksheet* sheet = nullptr;
  lxw_row_t next_row = 0;
  std::vector<std::size_t> widths;

  void widen(std::size_t column, std::size_t width) {
    if (column >= widths.size()) widths.resize(column + 1, 0);
    widths[column] = std::max(widths[column], width);
  }
};

// The columns of the "Documents" sheet after the 53 fields.
constexpr std::size_t kLineColumn = kDocFieldCount;

// The "Accounts" sheet's columns: a file key where there is one.
struct AccountColumn {
  const char* name;
  const char* key;
};
constexpr std::array<AccountColumn, 14> kAccountColumns = {{
    {"account", "РасчСчет"},
    {"date_start", "ДатаНачала"},
    {"date_end", "ДатаКонца"},
    {"lineno", "Строка"},
    {"opening", "НачальныйОстаток"},
    {"income", "ВсегоПоступило"},
    {"expense", "ВсегоСписано"},
    {"closing", "КонечныйОстаток"},
    {"arithmetic_ok", "arithmetic_ok"},
    {"continuity_ok", "continuity_ok"},
    {"documents_income", "documents_income"},
    {"documents_expense", "documents_expense"},
    {"income_difference", "income_difference"},
    {"expense_difference", "expense_difference"},
}};
constexpr lxw_col_t kClosingColumn = 7;
constexpr lxw_col_t kDateEndColumn = 2;

// Widths in characters: at least a header's, at most what a screen shows.
constexpr std::size_t kMinWidth = 8;
constexpr std::size_t kMaxWidth = 50;
constexpr double kPurposeWidth = 60;
// Charts with more lines than this are unreadable: the first accounts only.
constexpr std::size_t kChartAccounts = 32;

class XlsxWriter final : public RecordWriter {
 public:
  XlsxWriter(ByteSink& sink, const XlsxOptions& options, std::string_view input)
      : sink_(sink), options_(options), file_(options.temporary_directory), balances_(input) {
    lxw_workbook_options workbook_options{};
    workbook_options.constant_memory = LXW_TRUE;
    workbook_options.use_zip64 = LXW_TRUE;  // a large statement makes sheets over 4 GB
    // The sheets' temporary files go where the workbook's does: $TMPDIR or
    // the directory given, not always /tmp.
    temporary_directory_ = file_.directory();
    workbook_options.tmpdir = temporary_directory_.data();
    workbook_ = workbook_new_opt(file_.path().c_str(), &workbook_options);
    if (workbook_ == nullptr) fail("the workbook cannot be made");
    lxw_doc_properties properties{};
    properties.created = kCreated;
    check(workbook_set_properties(workbook_, &properties), "properties");

    bold_ = workbook_add_format(workbook_);
    format_set_bold(bold_);
    date_ = workbook_add_format(workbook_);
    format_set_num_format(date_, "dd.mm.yyyy");
    wrap_ = workbook_add_format(workbook_);
    format_set_text_wrap(wrap_);
    format_set_align(wrap_, LXW_ALIGN_VERTICAL_TOP);

    documents_.sheet = add_sheet("Documents");
    accounts_.sheet = add_sheet("Accounts");
    header_.sheet = add_sheet("Header");
    warnings_sheet_.sheet = add_sheet("Warnings");
    start_documents_sheet(documents_);
    start_warnings_sheet();
  }
  ~XlsxWriter() override {
    // A workbook never finished is dropped with its temporary files.
    if (workbook_ != nullptr) lxw_workbook_free(workbook_);
  }
  XlsxWriter(const XlsxWriter&) = delete;
  XlsxWriter& operator=(const XlsxWriter&) = delete;

  void on_header(Encoding, const AttributeMap& header) override {
    write_text(header_, 0, options_.attribute_names ? "key" : "Ключ", bold_);
    write_text(header_, 1, options_.attribute_names ? "value" : "Значение", bold_);
    worksheet_freeze_panes(header_.sheet, 1, 0);
    ++header_.next_row;
    for (const auto& [key, value] : header.entries()) {
      write_text(header_, 0, key, nullptr);
      write_text(header_, 1, value, nullptr);
      ++header_.next_row;
    }
    for (std::size_t column = 0; column < header_.widths.size(); ++column) set_width(header_, column);
  }
  void on_interval(std::string_view account, Interval&& interval, LineNo end_line) override {
    balances_.on_interval(account, std::move(interval), end_line);
  }
  void on_interval_section(std::string_view account, Interval&& interval, LineNo start_line,
                           LineNo end_line) override {
    balances_.on_interval_section(account, std::move(interval), start_line, end_line);
  }
  void on_document(Document&& document, LineNo end_line) override {
    balances_.add_document(document);
    add_document(document, end_line);
  }
  // Warnings go out as they come, in line order: a statement of nothing
  // but broken documents takes no more memory than any other.
  void on_warning(Warning&& warning) override { add_warning(warning); }

  void add_warning(const Warning& warning) {
    Sheet& s = warnings_sheet_;
    write_integer(s, 0, warning.lineno);
    write_text(s, 1, warning.message, nullptr);
    ++s.next_row;
  }

  void add_document(const Document& document, std::optional<LineNo> line) {
    if (documents_.next_row == LXW_ROW_MAX) {
      // A sheet holds 1,048,576 rows: the documents go on in another.
      finish_documents_sheet(documents_);
      more_documents_.push_back(std::move(documents_));
      documents_ = Sheet{};
      documents_.sheet = add_sheet("Documents " + std::to_string(more_documents_.size() + 1));
      start_documents_sheet(documents_);
    }
    for (std::size_t column = 0; column < kDocAttributes.size(); ++column) {
      const DocAttribute& attribute = kDocAttributes[column];
      const auto col = static_cast<lxw_col_t>(column);
      switch (attribute.field) {
        case DocField::Date: write_date(documents_, col, document.doc_date); break;
        case DocField::OutcomeDate: write_date(documents_, col, document.outcome_date); break;
        case DocField::IncomeDate: write_date(documents_, col, document.income_date); break;
        case DocField::Amount: write_amount(documents_, col, document.amount); break;
        default:
          if (const auto text = document.text(attribute.field))
            write_text(documents_, col, *text, attribute.field == DocField::Purpose ? wrap_ : nullptr, line);
      }
    }
    if (line) write_integer(documents_, static_cast<lxw_col_t>(kLineColumn), *line);
    ++documents_.next_row;
  }

  void finish() override { finish_with(balances_.finish()); }
  void flush() override {}

  void finish_with(const std::vector<BalanceRow>& rows) {
    finish_documents_sheet(documents_);
    write_accounts(rows);
    finish_warnings_sheet();
    const lxw_error closed = workbook_close(std::exchange(workbook_, nullptr));
    check(closed, "the workbook cannot be written");
    file_.copy_to(sink_);
  }

 private:
  lxw_worksheet* add_sheet(const std::string& name) {
    lxw_worksheet* sheet = workbook_add_worksheet(workbook_, name.c_str());
    if (sheet == nullptr) fail("the sheet " + name + " cannot be added");
    return sheet;
  }

  void start_documents_sheet(Sheet& s) {
    for (std::size_t column = 0; column < kDocAttributes.size(); ++column) {
      const DocAttribute& attribute = kDocAttributes[column];
      write_text(s, static_cast<lxw_col_t>(column),
                 options_.attribute_names ? attribute.name : kDocumentFields[static_cast<std::size_t>(attribute.field)].key,
                 bold_);
    }
    write_text(s, static_cast<lxw_col_t>(kLineColumn), options_.attribute_names ? "lineno" : "Строка", bold_);
    worksheet_freeze_panes(s.sheet, 1, 0);
    s.next_row = 1;
  }

  void finish_documents_sheet(Sheet& s) {
    check(worksheet_autofilter(s.sheet, 0, 0, std::max<lxw_row_t>(s.next_row, 1) - 1,
                               static_cast<lxw_col_t>(kLineColumn)),
          "autofilter");
    const std::size_t purpose = purpose_column();
    for (std::size_t column = 0; column < s.widths.size(); ++column) {
      if (column == purpose) {
        check(worksheet_set_column(s.sheet, static_cast<lxw_col_t>(column), static_cast<lxw_col_t>(column),
                                   kPurposeWidth, wrap_),
              "column width");
      } else {
        set_width(s, column);
      }
    }
  }

  static std::size_t purpose_column() noexcept {
    for (std::size_t i = 0; i < kDocAttributes.size(); ++i)
      if (kDocAttributes[i].field == DocField::Purpose) return i;
    return kDocAttributes.size();
  }

  void set_width(Sheet& s, std::size_t column) {
    const double width = static_cast<double>(std::clamp(s.widths[column] + 2, kMinWidth, kMaxWidth));
    check(worksheet_set_column(s.sheet, static_cast<lxw_col_t>(column), static_cast<lxw_col_t>(column), width,
                               nullptr),
          "column width");
  }

  void write_accounts(const std::vector<BalanceRow>& rows) {
    Sheet& s = accounts_;
    for (std::size_t column = 0; column < kAccountColumns.size(); ++column)
      write_text(s, static_cast<lxw_col_t>(column),
                 options_.attribute_names ? kAccountColumns[column].name : kAccountColumns[column].key, bold_);
    worksheet_freeze_panes(s.sheet, 1, 0);
    s.next_row = 1;
    // Each account's rows, for the chart: first and last sheet row.
    std::vector<std::pair<std::string, std::pair<lxw_row_t, lxw_row_t>>> ranges;
    for (const BalanceRow& row : rows) {
      if (ranges.empty() || ranges.back().first != row.account)
        ranges.push_back({row.account, {s.next_row, s.next_row}});
      ranges.back().second.second = s.next_row;
      write_text(s, 0, row.account, nullptr);
      write_date(s, 1, row.date_start);
      write_date(s, 2, row.date_end);
      if (row.lineno) write_integer(s, 3, *row.lineno);
      write_amount(s, 4, row.opening);
      write_amount(s, 5, row.income);
      write_amount(s, 6, row.expense);
      write_amount(s, 7, row.closing);
      write_boolean(s, 8, row.arithmetic_ok);
      write_boolean(s, 9, row.continuity_ok);
      write_amount(s, 10, row.documents_income);
      write_amount(s, 11, row.documents_expense);
      write_amount(s, 12, row.income_difference);
      write_amount(s, 13, row.expense_difference);
      ++s.next_row;
    }
    check(worksheet_autofilter(s.sheet, 0, 0, s.next_row - 1, static_cast<lxw_col_t>(kAccountColumns.size() - 1)),
          "autofilter");
    for (std::size_t column = 0; column < s.widths.size(); ++column) set_width(s, column);
    if (!ranges.empty()) add_chart(ranges);
  }

  void add_chart(const std::vector<std::pair<std::string, std::pair<lxw_row_t, lxw_row_t>>>& ranges) {
    lxw_chart* chart = workbook_add_chart(workbook_, LXW_CHART_LINE);
    if (chart == nullptr) fail("the chart cannot be made");
    chart_title_set_name(chart, options_.attribute_names ? "closing" : "КонечныйОстаток");
    for (std::size_t i = 0; i < ranges.size() && i < kChartAccounts; ++i) {
      const auto [first, last] = ranges[i].second;
      lxw_chart_series* series = chart_add_series(chart, nullptr, nullptr);
      if (series == nullptr) fail("the chart cannot be made");
      chart_series_set_categories(series, "Accounts", first, kDateEndColumn, last, kDateEndColumn);
      chart_series_set_values(series, "Accounts", first, kClosingColumn, last, kClosingColumn);
      chart_series_set_name(series, ranges[i].first.c_str());
    }
    chart_axis_set_num_format(chart->x_axis, "dd.mm.yyyy");
    chart_axis_set_num_format(chart->y_axis, "#,##0");
    check(worksheet_insert_chart(accounts_.sheet, 1, static_cast<lxw_col_t>(kAccountColumns.size() + 1), chart),
          "chart");
  }

  void start_warnings_sheet() {
    Sheet& s = warnings_sheet_;
    write_text(s, 0, options_.attribute_names ? "lineno" : "Строка", bold_);
    write_text(s, 1, options_.attribute_names ? "message" : "Сообщение", bold_);
    worksheet_freeze_panes(s.sheet, 1, 0);
    s.next_row = 1;
  }

  void finish_warnings_sheet() {
    Sheet& s = warnings_sheet_;
    for (std::size_t column = 0; column < s.widths.size(); ++column) set_width(s, column);
  }

  // A text cell.  A text longer than a cell holds (32,767 characters) is
  // cut at a character's end, with a warning naming the line and column.
  void write_text(Sheet& s, lxw_col_t col, std::string_view text, lxw_format* format,
                  std::optional<LineNo> line = std::nullopt) {
    const TextCell cell = text_cell(text);
    // A warning's own message is cut without a note of its own.
    if (cell.cut && &s != &warnings_sheet_) {
      add_warning(Warning{line.value_or(0), "the value of " + column_title(s, col) + " is cut to " +
                                                std::to_string(kCellCharacters) + " characters"});
    }
    scratch_.assign(cell.text);
    check(worksheet_write_string(s.sheet, s.next_row, col, scratch_.c_str(), format), "cell");
    s.widen(col, cell.characters);
  }

  std::string column_title(const Sheet& s, lxw_col_t col) const {
    if (&s == &documents_ && col < kDocAttributes.size())
      return std::string(kDocumentFields[static_cast<std::size_t>(kDocAttributes[col].field)].key);
    return "column " + std::to_string(col + 1);
  }

  void write_integer(Sheet& s, lxw_col_t col, LineNo value) {
    check(worksheet_write_number(s.sheet, s.next_row, col, static_cast<double>(value), nullptr), "cell");
    s.widen(col, std::to_string(value).size());
  }

  void write_boolean(Sheet& s, lxw_col_t col, std::optional<bool> value) {
    if (!value) return;
    check(worksheet_write_boolean(s.sheet, s.next_row, col, *value ? 1 : 0, nullptr), "cell");
    s.widen(col, 5);
  }

  void write_date(Sheet& s, lxw_col_t col, const std::optional<Date>& date) {
    if (!date) return;
    if (const auto serial = excel_serial(*date)) {
      check(worksheet_write_number(s.sheet, s.next_row, col, static_cast<double>(*serial), date_), "cell");
      s.widen(col, 10);
    } else {
      write_text(s, col, format_statement_date(*date), nullptr);
    }
  }

  void write_amount(Sheet& s, lxw_col_t col, const std::optional<Decimal>& amount) {
    if (!amount) return;
    const AmountCell cell = amount_cell(*amount);
    if (cell.number) {
      check(worksheet_write_number(s.sheet, s.next_row, col, *cell.number, amount_format(amount->scale)), "cell");
      s.widen(col, cell.shown_width);
    } else {
      write_text(s, col, cell.text, nullptr);
    }
  }

  // "#,##0.00" and the like: the thousands grouped, the amount's own scale.
  lxw_format* amount_format(unsigned scale) {
    lxw_format*& format = amount_formats_[scale];
    if (format == nullptr) {
      format = workbook_add_format(workbook_);
      format_set_num_format(format, amount_number_format(scale).c_str());
    }
    return format;
  }

  ByteSink& sink_;
  XlsxOptions options_;
  WorkbookFile file_;
  std::string temporary_directory_;  // NUL-terminated for the spreadsheet library
  lxw_workbook* workbook_ = nullptr;
  lxw_format* bold_ = nullptr;
  lxw_format* date_ = nullptr;
  lxw_format* wrap_ = nullptr;
  std::array<lxw_format*, kMaxAmountScale + 1> amount_formats_{};
  Sheet documents_, accounts_, header_, warnings_sheet_;
  std::vector<Sheet> more_documents_;
  BalanceCollector balances_;
  std::string scratch_;  // a cell's text with its terminating NUL
};

}  // namespace
}  // namespace exporting

using namespace exporting;

bool xlsx_available() noexcept { return true; }

std::unique_ptr<RecordWriter> xlsx_writer(ByteSink& out, const XlsxOptions& options, std::string_view input) {
  return std::make_unique<XlsxWriter>(out, options, input);
}

void write_xlsx(const Statement& statement, ByteSink& out, const XlsxOptions& options, const RecordLines& lines) {
  XlsxWriter writer(out, options, {});
  writer.on_header(statement.encoding, statement.header);
  // Documents and warnings in line order, as a parse hands them over (the
  // warnings after the documents when their lines are not known).
  const bool have_lines = lines.documents.size() == statement.documents.size();
  std::size_t next_warning = 0;
  for (std::size_t i = 0; i < statement.documents.size(); ++i) {
    if (have_lines)
      for (; next_warning < statement.warnings.size() && statement.warnings[next_warning].lineno < lines.documents[i];
           ++next_warning)
        writer.add_warning(statement.warnings[next_warning]);
    writer.add_document(statement.documents[i], have_lines ? std::optional<LineNo>(lines.documents[i]) : std::nullopt);
  }
  for (; next_warning < statement.warnings.size(); ++next_warning) writer.add_warning(statement.warnings[next_warning]);
  writer.finish_with(check_balances(statement, lines.intervals));
}

}  // namespace mirtle
