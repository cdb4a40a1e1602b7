#!/usr/bin/env bash
# Card recovery on hostile card images, one of each kind that once made a scan
# slow, wrong or flood the disk (tests/support/HostileCards.h): the time of
# crwlog --recover against a plain read of the same image (cat from the page
# cache), medians of a few runs. The goal is a few times the plain read.
#
# usage: bench/hostile-cards-bench.sh BUILD_DIR
# MENDRAKE_BENCH_RUNS sets the runs per kind (default 5), MENDRAKE_HOSTILE_MIB
# the image size (default 64).
set -euo pipefail

build_dir=$(cd "${1:?usage: hostile-cards-bench.sh BUILD_DIR}" && pwd)
bin=$build_dir/bin
runs=${MENDRAKE_BENCH_RUNS:-5}
mib=${MENDRAKE_HOSTILE_MIB:-64}
for tool in crwlog cardmake; do
  [ -x "$bin/$tool" ] || { echo "hostile-cards-bench: $bin/$tool is missing; build first (make build)" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/mendrake-hostile.XXXXXX")
trap 'rm -rf "$work"' EXIT

median_of() {  # COMMAND PREPARE: median wall seconds of $runs runs after one warm-up
  local all=() i start end
  for i in $(seq 0 "$runs"); do
    bash -c "$2" >/dev/null 2>&1
    start=$(date +%s%N)
    bash -c "$1" >/dev/null 2>&1 || true
    end=$(date +%s%N)
    [ "$i" -gt 0 ] && all+=($(( end - start )))
  done
  printf '%s\n' "${all[@]}" | sort -n | awk '{ v[NR] = $1 } END { printf "%.4f\n", v[int((NR + 1) / 2)] / 1e9 }'
}

printf '%-44s %10s %10s %7s  %s\n' "hostile card, ${mib} MiB" "crwlog" "plain read" "ratio" "outcome"
for kind in $("$bin/cardmake" --list); do
  image=$work/$kind.img
  "$bin/cardmake" "$kind" "${mib}MiB" "$image"
  cat "$image" > /dev/null  # into the page cache
  ours=$(median_of "'$bin/crwlog' --recover '$image' '$work/out'" "rm -rf '$work/out'")
  read_time=$(median_of "cat '$image' > /dev/null" "true")
  rm -rf "$work/out"
  outcome=$("$bin/crwlog" --recover "$image" "$work/out" | tail -1 | sed 's/ from .*//') || true
  files=$(find "$work/out" -type f | wc -l)
  rm -rf "$work/out" "$image"
  printf '%-44s %8.3f s %8.3f s %7s  %s; %s files\n' "$kind" "$ours" "$read_time" \
    "$(awk -v a="$ours" -v b="$read_time" 'BEGIN { if (b > 0) printf "%.1f", a / b; else print "-" }')" "$outcome" "$files"
done
