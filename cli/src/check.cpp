// check: validates many files at once and reports them in argument order.
#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <mutex>
#include <new>
#include <thread>
#include <utility>
#include <vector>

#include "commands.hpp"
#include "common.hpp"
#include "mirtle/sections.hpp"

namespace mirtle_cli {

namespace {

struct Report {
  std::string text;  // the file's diagnostics, ready to print
  bool failed = false;
  bool warned = false;
};

// Keeps the warnings and lets the records go: checking needs no documents.
class WarningSink final : public mirtle::RecordSink {
 public:
  WarningSink(Report& report, const std::string& name) : report_(report), name_(name) {}
  void on_header(mirtle::Encoding, const mirtle::AttributeMap&) override {}
  void on_interval(std::string_view, mirtle::Interval&&, mirtle::LineNo) override {}
  void on_document(mirtle::Document&&, mirtle::LineNo) override {}
  void on_warning(mirtle::Warning&& warning) override {
    report_.text += warning_line(name_, warning);
    report_.warned = true;
  }

 private:
  Report& report_;
  const std::string& name_;
};

Report failed(std::string text) { return {std::move(text), true, false}; }

Report check_input(const std::string& path) {
  Report report;
  Input input;
  std::string error;
  if (!Input::open(path, input, error)) return failed(file_error(input.name(), error));
  WarningSink sink(report, input.name());
  const auto result = mirtle::parse_records({}, input.bytes(), sink);
  // An error ends the file's report: the warnings before it do not count.
  if (!result) return failed(diagnostic(input.name(), result.error()));
  return report;
}

// A file too large for memory is that file's failure: the others are still
// checked (on a worker thread an escaping exception would end the process).
Report check_file(const std::string& path) {
  try {
    return check_input(path);
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
    for (std::size_t i; (i = next.fetch_add(1)) < options.files.size();) queue.put(i, check_file(options.files[i]));
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
