// The size search over a 7 MiB camera file with 64 MiB of junk after its end:
// one candidate size per byte of junk, almost all of them rejected by the root
// directory's checks. Reports candidates per second and nanoseconds per
// candidate, and the whole RepairFile (load included) for comparison.
#include "bench/SearchBench.h"

namespace mendrake::bench {
namespace {

void SizeSearchHeadless(benchmark::State& run, JunkKind junk) {
  HeadlessPlatform platform;
  SizeSearch(run, junk, platform);
}

void RepairFileHeadless(benchmark::State& run, JunkKind junk) {
  HeadlessPlatform platform;
  WholeRepairFile(run, junk, platform);
}

BENCHMARK_CAPTURE(SizeSearchHeadless, random_junk, JunkKind::kRandom)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(SizeSearchHeadless, zero_junk, JunkKind::kZeros)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RepairFileHeadless, random_junk, JunkKind::kRandom)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(RepairFileHeadless, zero_junk, JunkKind::kZeros)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(LoadFromFile, random_junk, JunkKind::kRandom)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace mendrake::bench
