// Throughput of parse_statement on generated statements, of its first two
// stages alone (classified lines; the section stream), and the floor that
// any parser of this format pays: making sure the bytes are text and
// finding the line ends; throughput of the writer on the parsed statements,
// counted in bytes of output.
//
// Inputs are read from $MIRTLE_BENCH_DATA (default bench/data), written
// beforehand by bench/run_core.sh; missing files are skipped with a note.
#include <benchmark/benchmark.h>

#include <chrono>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "mirtle/accounts.hpp"
#include "mirtle/attrs.hpp"
#include "mirtle/sections.hpp"
#include "mirtle/statement.hpp"
#include "mirtle/writer.hpp"
#include "records/src/attribute_list.hpp"
#include "records/src/builders.hpp"
#include "mirtle/decode.hpp"
#include "mirtle/lines.hpp"
#include "mirtle/unicode.hpp"

#include "floor.hpp"

namespace {

struct Input {
  std::string label;  // e.g. "utf8_50mb"
  std::string bytes;
  std::size_t documents = 0;
  std::size_t warnings = 0;
  mirtle::Statement statement;  // the parse, for the writer
};

// A hook that looks at every section and changes none.
class NoopHook final : public mirtle::Hook {
 public:
  mirtle::HookOutcome on_section(mirtle::SectionType, mirtle::AttributeMap&,
                                 const mirtle::AttributeMap&) noexcept override {
    return mirtle::HookOutcome::ok();
  }
  mirtle::HookOutcome on_section_views(mirtle::SectionType, std::span<const mirtle::AttributeView>,
                                       const mirtle::AttributeMap&, mirtle::AttributeMap&, bool&) override {
    return mirtle::HookOutcome::ok();
  }
};

bool read_file(const std::string& path, std::string& out) {
  std::ifstream f(path, std::ios::binary);
  if (!f) return false;
  out.assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
  return true;
}

void set_bytes(benchmark::State& state, const Input& in) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) *
                          static_cast<std::int64_t>(in.bytes.size()));
}

// Seconds the memchr scan of the input's line feeds takes, run untimed
// between the parses: the reference the parse is measured against.
double scan_seconds(const Input& in) {
  const auto start = std::chrono::steady_clock::now();
  benchmark::DoNotOptimize(mirtle::bench::count_lines(in.bytes));
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// `threads`: as ParseOptions::threads (0: two for a large statement).
// "of_scan" is the parse's speed as a share of a memchr scan of the same
// bytes, both timed in turn in every iteration, so that the machine's drift
// touches both alike.
void bm_parse(benchmark::State& state, const Input* in, bool with_hook, unsigned threads) {
  NoopHook hook;
  mirtle::ParseOptions options;
  options.threads = threads;
  std::vector<mirtle::Hook*> hooks;
  if (with_hook) hooks.push_back(&hook);
  double scan = 0, parse = 0;
  for (auto _ : state) {
    const auto start = std::chrono::steady_clock::now();
    // The statement is freed inside the loop: callers pay for that too.
    {
      auto result = mirtle::parse_statement(hooks, in->bytes, options);
      if (!result) {
        state.SkipWithError("parse failed");
        return;
      }
      benchmark::DoNotOptimize(result->documents.data());
    }
    parse += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    state.PauseTiming();
    scan += scan_seconds(*in);
    state.ResumeTiming();
  }
  set_bytes(state, *in);
  state.counters["docs/s"] = benchmark::Counter(
      static_cast<double>(in->documents) * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
  if (parse > 0) state.counters["of_scan"] = scan / parse;
}

// Stage 1: numbered, trimmed, classified lines.
void bm_lines_classified(benchmark::State& state, const Input* in) {
  for (auto _ : state) {
    auto source = mirtle::LineSource::open(in->bytes);
    if (!source) {
      state.SkipWithError("open failed");
      return;
    }
    mirtle::TextLine line;
    std::size_t attributes = 0;
    while (source->next(line)) {
      attributes += line.classified.kind == mirtle::LineKind::Attribute ? 1 : 0;
      source->release();
    }
    benchmark::DoNotOptimize(attributes);
  }
  set_bytes(state, *in);
}

// Stage 2: the section stream, every event read and dropped.
void bm_stream(benchmark::State& state, const Input* in) {
  for (auto _ : state) {
    auto stream = mirtle::SectionStream::open(in->bytes);
    if (!stream) {
      state.SkipWithError("open failed");
      return;
    }
    mirtle::SectionEvent event;
    std::size_t sections = 0;
    for (;;) {
      auto more = stream->next(event);
      if (!more) {
        state.SkipWithError("stream failed");
        return;
      }
      if (!*more) break;
      sections += event.kind == mirtle::EventKind::SectionEnd ? 1 : 0;
    }
    benchmark::DoNotOptimize(sections);
  }
  set_bytes(state, *in);
}

// Turning the bytes into UTF-8 text plus the line scan (floor.hpp).
void bm_floor(benchmark::State& state, const Input* in) {
  const auto buffer = std::make_unique<char[]>(mirtle::bench::kFloorBuffer);
  for (auto _ : state) {
    auto lines = mirtle::bench::floor_lines(in->bytes, buffer.get());
    if (!lines) {
      state.SkipWithError("decode failed");
      return;
    }
    benchmark::DoNotOptimize(*lines);
  }
  set_bytes(state, *in);
}

void bm_validate(benchmark::State& state, const Input* in) {
  const char* first = in->bytes.data();
  for (auto _ : state) benchmark::DoNotOptimize(mirtle::text::is_valid_utf8(first, first + in->bytes.size()));
  set_bytes(state, *in);
}

void bm_lines(benchmark::State& state, const Input* in) {
  for (auto _ : state) benchmark::DoNotOptimize(mirtle::bench::count_lines(in->bytes));
  set_bytes(state, *in);
}

// The writer into one reused buffer, as a caller converting many files
// would; the header's Кодировка follows the output encoding.
void bm_write(benchmark::State& state, const Input* in, mirtle::Encoding encoding) {
  const mirtle::WriteOptions options{encoding, mirtle::Newline::CRLF, true};
  std::string out;
  for (auto _ : state) {
    out.clear();
    auto written = mirtle::write_statement(in->statement, options, out);
    if (!written) {
      state.SkipWithError(mirtle::message(written.error()).c_str());
      return;
    }
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(out.size()));
}

// Keys like a section's: a long shared prefix, distinct endings.
std::vector<std::string> section_keys(std::size_t count) {
  std::vector<std::string> keys;
  for (std::size_t i = 0; i < count; ++i) keys.push_back("ПоказательКБК" + std::to_string(i));
  return keys;
}

// The open section's list at `count` keys, each set twice (new, then a
// repeat): the cost per set on both sides of the list's scan limit.
void bm_section_keys(benchmark::State& state) {
  const auto keys = section_keys(static_cast<std::size_t>(state.range(0)));
  mirtle::AttributeList list;
  for (auto _ : state) {
    list.clear();
    for (const std::string& k : keys) list.set(k, k);
    for (const std::string& k : keys) list.set(k, k);
    benchmark::DoNotOptimize(list.size());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0) * 2);
}

// The owned map (header, hook copies) at `count` keys, each set twice: the
// cost per set on both sides of its linear limit.
void bm_map_keys(benchmark::State& state) {
  const auto keys = section_keys(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    mirtle::AttributeMap map;
    for (const std::string& k : keys) map.set(std::string_view(k), std::string_view(k));
    for (const std::string& k : keys) map.set(std::string_view(k), std::string_view(k));
    benchmark::DoNotOptimize(map.size());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0) * 2);
}

// One account's book at `count` distinct intervals, each filed twice (the
// repeat is dropped): the cost per filing on both sides of its scan limit.
void bm_intervals(benchmark::State& state) {
  std::vector<mirtle::Interval> intervals(static_cast<std::size_t>(state.range(0)));
  for (std::size_t i = 0; i < intervals.size(); ++i) {
    intervals[i].date_start = {2024, static_cast<std::uint8_t>(1 + i % 12), static_cast<std::uint8_t>(1 + i % 28)};
    intervals[i].start_amount.lo = i;
  }
  for (auto _ : state) {
    mirtle::AccountBook book;
    for (const mirtle::Interval& interval : intervals) book.add_interval("40702810956508899579", interval);
    for (const mirtle::Interval& interval : intervals) book.add_interval("40702810956508899579", interval);
    benchmark::DoNotOptimize(book.finish());
  }
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * state.range(0) * 2);
}

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;

  // The thresholds of the key lists, at and around their limits.
  benchmark::RegisterBenchmark("limits/section_keys", bm_section_keys)
      ->Arg(16)->Arg(32)->Arg(64)->Arg(128)->Arg(129)->Arg(256)->Arg(1024);
  benchmark::RegisterBenchmark("limits/map_keys", bm_map_keys)
      ->Arg(8)->Arg(16)->Arg(32)->Arg(33)->Arg(64)->Arg(128);
  benchmark::RegisterBenchmark("limits/intervals", bm_intervals)->Arg(4)->Arg(8)->Arg(16)->Arg(17)->Arg(32)->Arg(64);

  const char* env = std::getenv("MIRTLE_BENCH_DATA");
  const std::string dir = env != nullptr && *env != '\0' ? env : MIRTLE_BENCH_DEFAULT_DATA;

  std::vector<std::unique_ptr<Input>> inputs;
  for (const char* size : {"1mb", "50mb"}) {
    for (const char* enc : {"utf8", "cp1251"}) {
      auto in = std::make_unique<Input>();
      in->label = std::string(enc) + "_" + size;
      const std::string path = dir + "/statement_" + size + "_" + enc + ".txt";
      if (!read_file(path, in->bytes)) {
        std::fprintf(stderr, "skipping %s: %s not found (run bench/run_core.sh)\n", in->label.c_str(),
                     path.c_str());
        continue;
      }
      auto result = mirtle::parse_statement({}, in->bytes);
      if (!result) {
        std::fprintf(stderr, "skipping %s: %s does not parse (%s, line %llu)\n", in->label.c_str(),
                     path.c_str(), std::string(mirtle::name(result.error().kind)).c_str(),
                     static_cast<unsigned long long>(result.error().lineno));
        continue;
      }
      in->documents = result->documents.size();
      in->warnings = result->warnings.size();
      in->statement = std::move(result).value();
      std::fprintf(stderr, "%s: %zu bytes, %zu documents, %zu warnings\n", in->label.c_str(),
                   in->bytes.size(), in->documents, in->warnings);
      inputs.push_back(std::move(in));
    }
  }
  if (inputs.empty()) std::fprintf(stderr, "no benchmark inputs in %s\n", dir.c_str());

  // Google Benchmark 1.7 takes the name as a C string (and copies it).
  // Rates are per second of wall time: a large statement is parsed on two
  // threads.
  auto add = [](const std::string& name, auto&&... args) {
    benchmark::RegisterBenchmark(name.c_str(), args...)->Unit(benchmark::kMillisecond)->UseRealTime();
  };
  for (const auto& in : inputs) {
    const Input* p = in.get();
    add("parse/" + p->label + "/no_hook", bm_parse, p, false, 0u);
    add("parse/" + p->label + "/one_thread", bm_parse, p, false, 1u);
    add("parse/" + p->label + "/noop_hook", bm_parse, p, true, 0u);
    add("stage2/" + p->label + "/stream", bm_stream, p);
    add("stage1/" + p->label + "/classified_lines", bm_lines_classified, p);
    add("floor/" + p->label + "/decode+lines", bm_floor, p);
    if (p->label.starts_with("utf8")) add("floor/" + p->label + "/validate", bm_validate, p);
    add("floor/" + p->label + "/lines", bm_lines, p);
    add("write/" + p->label + "/to_cp1251", bm_write, p, mirtle::Encoding::CP1251);
    add("write/" + p->label + "/to_utf8", bm_write, p, mirtle::Encoding::UTF8);
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
