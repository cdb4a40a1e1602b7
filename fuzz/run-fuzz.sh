#!/usr/bin/env bash
# Builds the libFuzzer harnesses (clang, ASan, UBSan) and runs each for
# FUZZ_SECONDS over its committed corpus. New inputs go to a scratch corpus in
# the build directory; a crash, leak, timeout or out-of-memory stops that
# harness and leaves the input in <build>/artifacts/, to be added to
# fuzz/corpus/<harness>/ once the fault is mended; the other harnesses still
# run, and the run fails at the end.
set -euo pipefail
build_dir=${1:-build-fuzz}
seconds=${2:-60}
jobs=${3:-$(nproc)}
source_dir=$(pwd)

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  -DMENDRAKE_BUILD_FUZZ=ON -DMENDRAKE_BUILD_TESTS=OFF -DMENDRAKE_BUILD_APP=OFF -DMENDRAKE_BUILD_BENCH=OFF >/dev/null
cmake --build "$build_dir" -j "$jobs"

# One second per input and 512 MiB of memory are the bounds every input must
# keep, but camera_card's: its inputs are options, each building a card of up
# to 33 MiB with a hundred photos' raw data encoded before the card is
# recovered, which takes seconds under the sanitizers, and whose freed images
# ASan's quarantine holds on to.
bounds_of() { [ "$1" = camera_card ] && echo "-timeout=30 -rss_limit_mb=1024" || echo "-timeout=1 -rss_limit_mb=512"; }
export ASAN_OPTIONS=halt_on_error=1:detect_leaks=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1
cd "$build_dir"
mkdir -p artifacts
faulty=()
for corpus in "$source_dir"/fuzz/corpus/*/; do
  harness=$(basename "$corpus")
  mkdir -p "work/$harness"
  echo "Fuzzing $harness for $seconds s"
  # shellcheck disable=SC2046
  if ! "./bin/fuzz_$harness" $(bounds_of "$harness") -max_total_time="$seconds" -print_final_stats=1 \
      -artifact_prefix="artifacts/$harness-" "work/$harness" "$corpus" >"fuzz-$harness.log" 2>&1; then
    tail -n 60 "fuzz-$harness.log"
    echo "fuzz_$harness found a fault; the input is in $build_dir/artifacts/" >&2
    faulty+=("$harness")
    continue
  fi
  grep -E '^(Done|stat::number_of_executed_units|stat::peak_rss_mb)' "fuzz-$harness.log" || true
  grep -E '^#[0-9]+' "fuzz-$harness.log" | tail -n 1
done
if [ ${#faulty[@]} -gt 0 ]; then
  echo "Faults found by: ${faulty[*]}" >&2
  exit 1
fi
