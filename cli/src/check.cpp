// check: validates many files at once and reports them in argument order.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "balances.hpp"
#include "commands.hpp"
#include "common.hpp"
#include "mirtle/balances.hpp"
#include "mirtle/sections.hpp"

namespace mirtle_cli {

namespace {

struct Report {
  std::string text;  // the file's diagnostics, ready to print
  bool failed = false;
  bool warned = false;
};

// Keeps the warnings and lets the records go: checking needs no documents.
// With the balance checks, the intervals and the documents' amounts go to
// a collector as well.
class CheckSink final : public mirtle::RecordSink {
 public:
  CheckSink(const std::string& name, mirtle::BalanceCollector* balances) : name_(name), balances_(balances) {}
  void on_header(mirtle::Encoding encoding, const mirtle::AttributeMap& header) override {
    if (balances_) balances_->on_header(encoding, header);
  }
  void on_interval(std::string_view account, mirtle::Interval&& interval, mirtle::LineNo end_line) override {
    if (balances_) balances_->on_interval(account, std::move(interval), end_line);
  }
  void on_interval_section(std::string_view account, mirtle::Interval&& interval, mirtle::LineNo start_line,
                           mirtle::LineNo end_line) override {
    if (balances_) balances_->on_interval_section(account, std::move(interval), start_line, end_line);
  }
  void on_document(mirtle::Document&& document, mirtle::LineNo) override {
    if (balances_) balances_->add_document(document);
  }
  void on_warning(mirtle::Warning&& warning) override {
    lines.emplace_back(warning.lineno, warning_line(name_, warning));
  }

  // Each diagnostic with its line, to be put in line order.
  std::vector<std::pair<mirtle::LineNo, std::string>> lines;

 private:
  const std::string& name_;
  mirtle::BalanceCollector* balances_;
};

Report failed(std::string text) { return {std::move(text), true, false}; }

Report check_input(const std::string& path, bool check_balances) {
  Report report;
  Input input;
  std::string error;
  if (!Input::open(path, input, error)) return failed(file_error(input.name(), error));
  std::optional<mirtle::BalanceCollector> balances;
  if (check_balances) balances.emplace(input.bytes());
  CheckSink sink(input.name(), balances ? &*balances : nullptr);
  const auto result = mirtle::parse_records({}, input.bytes(), sink);
  // An error ends the file's report: the warnings before it do not count.
  if (!result) return failed(diagnostic(input.name(), result.error()));
  report.warned = !sink.lines.empty();
  if (balances) {
    for (const mirtle::BalanceRow& row : balances->finish()) {
      for (const BalanceFinding& finding : balance_findings(row)) {
        const mirtle::LineNo line = row.lineno.value_or(0);
        sink.lines.emplace_back(line, finding.error ? balance_error(input.name(), line, finding.message)
                                                    : warning_line(input.name(), {line, finding.message}));
        (finding.error ? report.failed : report.warned) = true;
      }
    }
    std::stable_sort(sink.lines.begin(), sink.lines.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
  }
  for (const auto& line : sink.lines) report.text += line.second;
  return report;
}

// A file too large for memory is that file's failure: the others are still
// checked (on a worker thread an escaping exception would end the process).
Report check_file(const std::string& path, bool balances) {
  try {
    return check_input(path, balances);
  } catch (const std::bad_alloc&) {
    return failed(file_error(display_name(path), "out of memory"));
  }
}

// Reports filled by the workers in any order, taken in argument order.
class ReportQueue {
 public:
  explicit ReportQueue(std::size_t count) : reports_(count), ready_(count, false) {}

  void put(std::size_t index, Report report) {
    {
      std::lock_guard lock(mutex_);
      reports_[index] = std::move(report);
      ready_[index] = true;
    }
    changed_.notify_all();
  }

  Report take(std::size_t index) {
    std::unique_lock lock(mutex_);
    changed_.wait(lock, [&] { return ready_[index]; });
    return std::move(reports_[index]);
  }

 private:
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Report> reports_;
  std::vector<bool> ready_;
};

unsigned worker_count(const CheckOptions& options) {
  const unsigned processors = std::max(1u, std::thread::hardware_concurrency());
  const unsigned wanted = options.jobs != 0 ? options.jobs : processors;
  return static_cast<unsigned>(std::min<std::size_t>(wanted, options.files.size()));
}

}  // namespace

int run_check(const CheckOptions& options) {
  // Two readers of one standard input would each get part of it.
  if (std::count(options.files.begin(), options.files.end(), "-") > 1) {
    complain("check: - (standard input) may be given only once");
    return kUsage;
  }
  ReportQueue queue(options.files.size());
  std::atomic<std::size_t> next{0};
  auto work = [&] {
    for (std::size_t i; (i = next.fetch_add(1)) < options.files.size();) queue.put(i, check_file(options.files[i], options.balances));
  };
  std::vector<std::jthread> workers;
  const unsigned count = worker_count(options);
  if (count > 1)
    for (unsigned i = 0; i < count; ++i) workers.emplace_back(work);

  // With one worker the main thread does the work; else it prints as the
  // reports come in, so the first files show while the last are read.
  if (count <= 1) work();
  Output out = Output::standard();
  bool failed = false;
  for (std::size_t i = 0; i < options.files.size(); ++i) {
    Report report = queue.take(i);
    failed = failed || report.failed || (options.strict && report.warned);
    out.write(report.text);
  }
  const int written = finish(out);
  return failed ? kFailure : written;
}

}  // namespace mirtle_cli
