// libFuzzer's entry point for one fuzz target, chosen at build time through
// MENDRAKE_FUZZ_TARGET (see fuzz/CMakeLists.txt).
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  mendrake::fuzz::MENDRAKE_FUZZ_TARGET(data, size);
  return 0;
}
