#pragma once

#include <cstdio>
#include <cstdlib>

namespace mendrake::fuzz {

// Ends the run so that libFuzzer keeps the input, and the corpus replay fails.
[[noreturn]] inline void Broken(const char* what) {
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

}  // namespace mendrake::fuzz
