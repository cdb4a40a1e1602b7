#!/usr/bin/env bash
# Measures Mendrake against its peers, side by side in one run on this machine:
# the Google Benchmarks first, then whole processes (crwlog against dccleancrw,
# peak memory, the preview against djpeg, the batch against dccleancrw plus
# exiftool). Ends with a table of medians and ratios.
#
# usage: bench/run-bench.sh BUILD_DIR
# MENDRAKE_BENCH_RUNS sets the runs per whole-process measure (default 7; the
# batch takes fewer), MENDRAKE_BENCH_QUICK=1 skips the Google Benchmarks.
set -euo pipefail

build_dir=$(cd "${1:?usage: run-bench.sh BUILD_DIR}" && pwd)
bin=$build_dir/bin
runs=${MENDRAKE_BENCH_RUNS:-7}
batch_runs=$(( runs > 5 ? 5 : runs ))
work=$(mktemp -d "${TMPDIR:-/tmp}/mendrake-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
results=$work/results
mkdir -p "$results"

for tool in crwlog crwmake picturemake; do
  [ -x "$bin/$tool" ] || { echo "run-bench: $bin/$tool is missing; build first (make build)" >&2; exit 1; }
done
for peer in dccleancrw exiftool djpeg; do
  command -v "$peer" >/dev/null || { echo "run-bench: $peer is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done

mib() { awk -v b="$1" 'BEGIN { printf "%.1f", b / 1048576 }'; }
file_size() { stat -c %s "$1"; }

# ---------------------------------------------------------------- files
echo "== Making the bench files in $work"
"$bin/picturemake" 1536 1024 "$work/thumbnail.jpg"
for junk in random zeros; do
  "$bin/crwmake" --size 7MiB --thumbnail "$work/thumbnail.jpg" --junk "$junk" --junk-size 64MiB "$work/$junk.crw"
done
# A file that is little more than its thumbnail, so that the preview run is
# mostly the decode.
thumb_bytes=$(file_size "$work/thumbnail.jpg")
"$bin/crwmake" --size $(( thumb_bytes + 8192 )) --thumbnail "$work/thumbnail.jpg" "$work/preview.crw"
# The batch: 50 files of 7 MiB with 512 KiB of junk, random and zeros in turn.
mkdir -p "$work/batch"
for i in $(seq -w 1 50); do
  junk=$([ $(( 10#$i % 2 )) -eq 0 ] && echo zeros || echo random)
  "$bin/crwmake" --size 7MiB --thumbnail "$work/thumbnail.jpg" --junk "$junk" --junk-size 512KiB --seed "$i" \
    "$work/batch/IMG_$i.CRW"
done
batch_bytes=$(du -cb "$work"/batch/*.CRW | tail -1 | cut -f1)

# ------------------------------------------------------- Google Benchmarks
if [ "${MENDRAKE_BENCH_QUICK:-0}" != 1 ]; then
  for program in "$bin"/bench_*; do
    [ -x "$program" ] || continue
    name=$(basename "$program")
    echo "== $name"
    mkdir -p "$work/gbench"
    MENDRAKE_BENCH_DIR=$work/gbench MENDRAKE_BENCH_THUMBNAIL=$work/thumbnail.jpg "$program" --benchmark_repetitions=5 --benchmark_min_time=0.3 \
      --benchmark_report_aggregates_only=true --benchmark_out="$results/$name.json" --benchmark_out_format=json
  done
fi

# Median (in ms) of one benchmark's counter or real time, read from its JSON output.
gbench_median() {  # FILE BENCHMARK FIELD
  awk -v want="$2_median" -v field="\"$3\":" '
    index($0, "\"name\": \"" want "\"") { inside = 1 }
    inside && index($0, field) { sub(/.*": */, ""); sub(/,.*/, ""); print; exit }
  ' "$1" 2>/dev/null
}

# ------------------------------------------------ whole-process timings
have_hyperfine=0
command -v hyperfine >/dev/null && have_hyperfine=1

# Times two shell commands side by side (or one, without PEER) and leaves their
# medians (seconds) in $results/KEY.ours and $results/KEY.peer. PREPARE runs
# before every run, untimed.
compare() {  # KEY RUNS PREPARE OURS [PEER [PEER_PREPARE]]
  local key=$1 n=$2 prepare=$3 ours=$4 peer=${5:-} peer_prepare=${6:-$3}
  local sides=(ours)
  [ -n "$peer" ] && sides+=(peer)
  echo "== $key"
  if [ $have_hyperfine = 1 ]; then
    local named=(--prepare "$prepare" -n ours "$ours")
    [ -n "$peer" ] && named+=(--prepare "$peer_prepare" -n peer "$peer")
    hyperfine --style basic --warmup 1 --runs "$n" --export-csv "$results/$key.csv" "${named[@]}"
    for which in "${sides[@]}"; do
      awk -F, -v w="$which" '$1 == w { print $4 }' "$results/$key.csv" > "$results/$key.$which"
    done
  else
    local which cmd i start end
    for which in "${sides[@]}"; do
      cmd=$([ $which = ours ] && echo "$ours" || echo "$peer")
      local before=$([ $which = ours ] && echo "$prepare" || echo "$peer_prepare")
      : > "$results/$key.$which.all"
      for i in $(seq 0 "$n"); do
        bash -c "$before" >/dev/null 2>&1
        start=$(date +%s%N)
        bash -c "$cmd" >/dev/null 2>&1
        end=$(date +%s%N)
        [ "$i" -gt 0 ] && echo $(( end - start )) >> "$results/$key.$which.all"  # run 0 warms up
      done
      sort -n "$results/$key.$which.all" | awk '{ v[NR] = $1 } END { m = (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2; printf "%.6f\n", m / 1e9 }' \
        > "$results/$key.$which"
      echo "  $which: median $(cat "$results/$key.$which") s of $n runs: $cmd"
    done
  fi
}

# crwlog against dccleancrw on the same bytes. dccleancrw writes FILE.clean
# next to the path it is given, so it gets a link in a folder of its own and
# the source stays untouched.
mkdir -p "$work/dccleancrw"
for junk in random zeros; do
  ln -sf "$work/$junk.crw" "$work/dccleancrw/$junk.crw"
  compare "search-$junk" "$runs" "true" \
    "'$bin/crwlog' '$work/$junk.crw' > /dev/null" \
    "dccleancrw '$work/dccleancrw/$junk.crw' > /dev/null 2>&1"
  found=$("$bin/crwlog" "$work/$junk.crw" | sed -n 's/^Found filesize as: //p')
  cleaned=$(file_size "$work/dccleancrw/$junk.crw.clean")
  [ "$found" = "$cleaned" ] || echo "run-bench: WARNING: crwlog found $found bytes, dccleancrw kept $cleaned ($junk junk)" >&2
done

# A long random tail: 1 GiB after a 7 MiB camera file, where chance walks are
# many and flags met across them prove nothing. crwlog must still find the
# camera file's size; dccleancrw does not, but its time is the yardstick.
# Three runs at most: each side reads the whole file.
long_runs=$(( runs > 3 ? 3 : runs ))
"$bin/crwmake" --size 7MiB --thumbnail "$work/thumbnail.jpg" --junk random --junk-size 1GiB --seed 5 "$work/long.crw"
"$bin/crwmake" --size 7MiB --thumbnail "$work/thumbnail.jpg" "$work/long-intact.crw"
ln -sf "$work/long.crw" "$work/dccleancrw/long.crw"
compare search-long "$long_runs" "true" \
  "'$bin/crwlog' '$work/long.crw' > /dev/null" \
  "dccleancrw '$work/dccleancrw/long.crw' > /dev/null 2>&1"
found=$("$bin/crwlog" "$work/long.crw" | sed -n 's/^Found filesize as: //p')
[ "$found" = "$(file_size "$work/long-intact.crw")" ] ||
  echo "run-bench: WARNING: crwlog found $found bytes after 1 GiB of random junk, not $(file_size "$work/long-intact.crw")" >&2
rm -f "$work/long.crw" "$work/dccleancrw/long.crw" "$work/dccleancrw/long.crw.clean"

# Peak memory: resident set at its largest, from GNU time.
peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }
if [ -x /usr/bin/time ]; then
  echo "== peak memory"
  peak_kib "$bin/crwlog" "$work/random.crw" > "$results/memory.ours"
  peak_kib dccleancrw "$work/dccleancrw/random.crw" > "$results/memory.peer"
  echo "  crwlog $(cat "$results/memory.ours") KiB, dccleancrw $(cat "$results/memory.peer") KiB"
fi

# The preview and the multi-file run come with the writers and the preview
# decoder; until crwlog has them these measures are left out.
if "$bin/crwlog" --preview-ppm "$work/probe.ppm" "$work/preview.crw" >/dev/null 2>&1 && [ -s "$work/probe.ppm" ]; then
  have_preview=1
else
  have_preview=0
fi

if [ $have_preview = 1 ]; then
  djpeg -ppm -outfile "$work/djpeg.ppm" "$work/thumbnail.jpg"
  cmp -s "$work/probe.ppm" "$work/djpeg.ppm" || echo "run-bench: WARNING: the preview differs from djpeg -ppm" >&2
  compare preview "$runs" "true" \
    "'$bin/crwlog' --preview-ppm '$work/ours.ppm' '$work/preview.crw' > /dev/null" \
    "djpeg -ppm -outfile '$work/peer.ppm' '$work/thumbnail.jpg'"

  # The batch: every source's repaired copy and thumbnail, written next to it,
  # against dccleancrw on every file and then exiftool pulling every thumbnail
  # out of the cleaned copies. Each side starts without its outputs.
  mkdir -p "$work/peers"
  for f in "$work"/batch/IMG_??.CRW; do ln -sf "$f" "$work/peers/$(basename "$f")"; done
  compare batch "$batch_runs" \
    "rm -f '$work'/batch/*_repaired* '$work'/batch/*.jpg" \
    "'$bin/crwlog' '$work'/batch/IMG_??.CRW > /dev/null" \
    "dccleancrw '$work'/peers/IMG_??.CRW > /dev/null 2>&1 && exiftool -q -b -JpgFromRaw -w! %d%f.jpg '$work'/peers/*.clean" \
    "rm -f '$work'/peers/*.clean '$work'/peers/*.jpg"
  # Both sides must have done the same job: the same cut copies, the same thumbnails.
  mismatches=0
  for f in "$work"/batch/IMG_??.CRW; do
    name=$(basename "$f" .CRW)
    cmp -s "$work/batch/$name.CRW_repaired.CRW" "$work/peers/$name.CRW.clean" || mismatches=$((mismatches + 1))
    cmp -s "$work/batch/$name.jpg" "$work/peers/$name.CRW.jpg" || mismatches=$((mismatches + 1))
  done
  [ $mismatches = 0 ] || echo "run-bench: WARNING: $mismatches batch outputs differ between crwlog and the peers" >&2

  echo "== cp of the batch"
  mkdir -p "$work/copies"
  compare copy "$batch_runs" "rm -f '$work'/copies/*" "cp '$work'/batch/IMG_??.CRW '$work/copies/'"
fi

# ---------------------------------------------------------------- table
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (a == "" || b == "" || b + 0 == 0) print "-"; else printf "%.2f", a / b }'; }
seconds() { [ -s "$1" ] && awk '{ printf "%.3f s", $1 }' "$1" || echo "-"; }
row() { printf '%-44s %12s %12s %7s  %s\n' "$@"; }

echo
echo "== Summary (medians; ratio = ours / peer; per candidate and in-process decode are CPU time)"
row "measure" "ours" "peer" "ratio" "goal"
for junk in random zeros; do
  json=$results/bench_size_search.json
  if [ -s "$json" ]; then
    per=$(gbench_median "$json" "SizeSearchHeadless/${junk/zeros/zero}_junk" "per candidate")
    [ -n "$per" ] && row "size search, 64 MiB $junk junk, per candidate" \
      "$(awk -v s="$per" 'BEGIN { printf "%.2f ns", s * 1e9 }')" "" "" "a couple of ns"
  fi
  json_qt=$results/bench_size_search_qt.json
  if [ -s "$json" ] && [ -s "$json_qt" ]; then
    qt=$(gbench_median "$json_qt" "SizeSearchQt/${junk/zeros/zero}_junk" cpu_time)
    headless=$(gbench_median "$json" "SizeSearchHeadless/${junk/zeros/zero}_junk" cpu_time)
    [ -n "$qt" ] && row "search, $junk junk, Qt offscreen vs headless" "$(awk -v t="$qt" 'BEGIN { printf "%.1f ms", t }')" \
      "$(awk -v t="$headless" 'BEGIN { printf "%.1f ms", t }')" "$(ratio "$qt" "$headless")" "events every 16 ms"
  fi
done
for junk in random zeros; do
  row "crwlog vs dccleancrw, 7+64 MiB $junk junk" "$(seconds "$results/search-$junk.ours")" \
    "$(seconds "$results/search-$junk.peer")" \
    "$(ratio "$(cat "$results/search-$junk.ours")" "$(cat "$results/search-$junk.peer")")" "<= 0.70"
done
row "crwlog vs dccleancrw, 7 MiB + 1 GiB random junk" "$(seconds "$results/search-long.ours")" \
  "$(seconds "$results/search-long.peer")" \
  "$(ratio "$(cat "$results/search-long.ours")" "$(cat "$results/search-long.peer")")" "<= 0.50"
if [ -s "$results/memory.ours" ]; then
  goal_kib=$(( $(file_size "$work/random.crw") / 1024 + 30 * 1024 ))
  row "peak memory, crwlog vs dccleancrw" "$(mib $(( $(cat "$results/memory.ours") * 1024 ))) MiB" \
    "$(mib $(( $(cat "$results/memory.peer") * 1024 ))) MiB" \
    "$(ratio "$(cat "$results/memory.ours")" "$(cat "$results/memory.peer")")" \
    "<= $(mib $(( goal_kib * 1024 ))) MiB (file + 30 MiB)"
fi
json=$results/bench_output.json
if [ -s "$json" ]; then
  ours_cpu=$(gbench_median "$json" DecodeThumbnail cpu_time)
  plain_cpu=$(gbench_median "$json" DecodeWithPlainLibjpeg cpu_time)
  row "decode 1536x1024 in process vs plain libjpeg" "$(awk -v t="$ours_cpu" 'BEGIN { printf "%.2f ms", t }')" \
    "$(awk -v t="$plain_cpu" 'BEGIN { printf "%.2f ms", t }')" "$(ratio "$ours_cpu" "$plain_cpu")" "<= 1.10"
fi
json=$results/bench_raw_data.json
if [ -s "$json" ]; then
  rate=$(gbench_median "$json" CheckCameraRawData bytes_per_second)
  whole=$(gbench_median "$json" CheckCameraRawData real_time)
  [ -n "$rate" ] && row "raw data decode, EOS 300D photo (stream)" "$(awk -v r="$rate" 'BEGIN { printf "%.0f MB/s", r / 1e6 }')" \
    "" "" "$(awk -v t="$whole" 'BEGIN { printf "%.0f ms a photo", t }')"
  tried=$(gbench_median "$json" TryCandidateCluster/32768 real_time)
  [ -n "$tried" ] && row "raw data, one 32 KiB candidate from a saved state" "$(awk -v t="$tried" 'BEGIN { printf "%.0f us", t }')" \
    "" "" "copy + cluster only"
fi
if [ $have_preview = 1 ]; then
  row "preview 1536x1024 vs djpeg -ppm" "$(seconds "$results/preview.ours")" "$(seconds "$results/preview.peer")" \
    "$(ratio "$(cat "$results/preview.ours")" "$(cat "$results/preview.peer")")" "<= 1.10"
  row "batch 50 x 7.5 MiB vs dccleancrw + exiftool" "$(seconds "$results/batch.ours")" "$(seconds "$results/batch.peer")" \
    "$(ratio "$(cat "$results/batch.ours")" "$(cat "$results/batch.peer")")" "<= 0.80"
  row "cp of the same $(mib "$batch_bytes") MiB (batch vs cp)" "$(seconds "$results/batch.ours")" "$(seconds "$results/copy.ours")" \
    "$(ratio "$(cat "$results/batch.ours")" "$(cat "$results/copy.ours")")" ""
else
  echo "(preview and batch: crwlog has no --preview-ppm yet)"
fi
[ $have_hyperfine = 1 ] && echo "(whole processes timed with hyperfine, $runs runs, batch $batch_runs)" ||
  echo "(whole processes timed with a median loop, $runs runs, batch $batch_runs)"

# Card recovery against a plain read and photorec on a 3 GiB card image (its own script,
# as it builds and fills its own image).
echo "== card recovery vs photorec"
MENDRAKE_BENCH_RUNS=$(( runs > 3 ? 3 : runs )) bash "$(dirname "$0")/recover-bench.sh" "$build_dir"

# Card recovery on hostile card images, against a plain read of each.
echo "== hostile cards"
MENDRAKE_BENCH_RUNS=$(( runs > 5 ? 5 : runs )) bash "$(dirname "$0")/hostile-cards-bench.sh" "$build_dir"

# Files in two pieces on a built FAT16 card against photorec (its own script,
# as it builds its card with mkfs.vfat and mtools).
echo "== fragmented card recovery vs photorec"
MENDRAKE_BENCH_RUNS=$(( runs > 3 ? 3 : runs )) bash "$(dirname "$0")/fragmented-bench.sh" "$build_dir"

# Names, shot times and THM files on a deleted and a quick-formatted FAT16 card.
echo "== names, dates and THMs"
bash "$(dirname "$0")/names-bench.sh" "$build_dir"
# Cards filled as cameras fill them over months, against photorec: photos
# back by pieces, wrong CRW files written (must be 0), time, memory.
echo "== camera cards vs photorec"
bash "$(dirname "$0")/camera-cards-bench.sh" "$build_dir"
