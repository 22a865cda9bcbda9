// Times builds of the core against each other on a machine whose speed
// drifts: the builds' parses alternate, one call each in turn, so that every
// round sees them under the same conditions, and each is reported as the
// median of its per-round ratios to the first.
//
//   ab_driver FILE ROUNDS LIB[@floor|@hook]...
//
// LIB is a library built from ab_library.cpp; "@floor" times its floor and
// "@hook" its parse with one no-op hook instead of its parse.
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

using Entry = std::size_t (*)(const char*, std::size_t);

struct Case {
  std::string label;
  Entry entry = nullptr;
  std::vector<double> ms;
};

bool load(const std::string& spec, Case& out) {
  std::string path = spec, symbol = "ab_parse";
  for (const auto& [suffix, name] : {std::pair{"@floor", "ab_floor"}, std::pair{"@hook", "ab_parse_hook"}}) {
    const std::string s = suffix;
    if (path.size() > s.size() && path.compare(path.size() - s.size(), s.size(), s) == 0) {
      path.resize(path.size() - s.size());
      symbol = name;
    }
  }
  void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    std::fprintf(stderr, "ab_driver: %s\n", dlerror());
    return false;
  }
  out.label = spec;
  out.entry = reinterpret_cast<Entry>(dlsym(library, symbol.c_str()));
  if (out.entry == nullptr) std::fprintf(stderr, "ab_driver: %s has no %s\n", path.c_str(), symbol.c_str());
  return out.entry != nullptr;
}

double quantile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  return v[static_cast<std::size_t>(q * static_cast<double>(v.size() - 1))];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: ab_driver FILE ROUNDS LIB[@floor|@hook]...\n");
    return 2;
  }
  std::ifstream file(argv[1], std::ios::binary);
  const std::string bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  if (!file && !file.eof()) {
    std::fprintf(stderr, "ab_driver: cannot read %s\n", argv[1]);
    return 1;
  }
  const int rounds = std::atoi(argv[2]);
  std::vector<Case> cases(static_cast<std::size_t>(argc - 3));
  for (std::size_t i = 0; i < cases.size(); ++i)
    if (!load(argv[3 + i], cases[i])) return 1;
  for (int r = 0; r < rounds; ++r) {
    for (std::size_t k = 0; k < cases.size(); ++k) {
      Case& c = cases[r % 2 == 0 ? k : cases.size() - 1 - k];  // each goes first in turn
      const auto start = std::chrono::steady_clock::now();
      const std::size_t count = c.entry(bytes.data(), bytes.size());
      const auto stop = std::chrono::steady_clock::now();
      if (count == 0) {
        std::fprintf(stderr, "ab_driver: %s failed on %s\n", c.label.c_str(), argv[1]);
        return 1;
      }
      c.ms.push_back(std::chrono::duration<double, std::milli>(stop - start).count());
    }
  }
  std::printf("%-40s %9s %9s %9s   %s\n", "build", "min ms", "p10 ms", "median", "ratio to the first: median [p25, p75]");
  for (const Case& c : cases) {
    std::vector<double> ratios;
    for (int r = 0; r < rounds; ++r) ratios.push_back(c.ms[r] / cases[0].ms[r]);
    std::printf("%-40s %9.3f %9.3f %9.3f   %.3f [%.3f, %.3f]\n", c.label.c_str(), quantile(c.ms, 0), quantile(c.ms, 0.1),
                quantile(c.ms, 0.5), quantile(ratios, 0.5), quantile(ratios, 0.25), quantile(ratios, 0.75));
  }
}
