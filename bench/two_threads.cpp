// Two threads against one: parse_statement of each file with the second
// part on a thread of its own (whatever the file's size) and on the calling
// thread only, the two alternating, each result freed before the next run.
//
//   build/<dir>/bench/mirtle_two_threads ROUNDS FILE...
//
// Prints each file's minimums and the median of the per-round ratios
// (two / one), which is what chose ParseOptions::split_from.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "mirtle/statement.hpp"

namespace {

double parse_ms(const std::string& input, const mirtle::ParseOptions& options) {
  const auto start = std::chrono::steady_clock::now();
  if (!mirtle::parse_statement({}, input, options)) {
    std::fprintf(stderr, "mirtle_two_threads: the statement does not parse\n");
    std::exit(1);
  }
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc >= 3 ? std::atoi(argv[1]) : 0;
  if (rounds <= 0) {
    std::fprintf(stderr, "usage: mirtle_two_threads ROUNDS FILE...\n");
    return 2;
  }
  mirtle::ParseOptions one, two;
  one.threads = 1;
  two.threads = 2;
  two.split_from = 0;
  std::printf("%-32s %12s %12s %12s\n", "file", "one min ms", "two min ms", "two / one");
  for (int a = 2; a < argc; ++a) {
    std::ifstream file(argv[a], std::ios::binary);
    const std::string input{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    if (!file.good() && !file.eof()) {
      std::fprintf(stderr, "mirtle_two_threads: cannot read %s\n", argv[a]);
      return 1;
    }
    double best_one = 1e300, best_two = 1e300;
    std::vector<double> ratios;
    for (int r = 0; r < rounds; ++r) {
      const double t1 = parse_ms(input, one), t2 = parse_ms(input, two);
      best_one = std::min(best_one, t1);
      best_two = std::min(best_two, t2);
      ratios.push_back(t2 / t1);
    }
    std::nth_element(ratios.begin(), ratios.begin() + rounds / 2, ratios.end());
    const std::string name = std::string(argv[a]).substr(std::string(argv[a]).find_last_of('/') + 1);
    std::printf("%-32s %12.3f %12.3f %12.3f\n", name.c_str(), best_one, best_two, ratios[rounds / 2]);
  }
  return 0;
}
