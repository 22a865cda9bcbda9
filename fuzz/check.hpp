// The harnesses' one way to fail: an invariant that does not hold aborts,
// naming itself, so that libFuzzer keeps the input.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace mirtle_fuzz {

[[noreturn]] inline void violated(const char* what) {
  std::fprintf(stderr, "invariant violated: %s\n", what);
  std::abort();
}

}  // namespace mirtle_fuzz

#define CHECK(cond)                           \
  do {                                        \
    if (!(cond)) mirtle_fuzz::violated(#cond); \
  } while (0)
