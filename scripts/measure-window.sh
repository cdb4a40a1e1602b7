#!/usr/bin/env bash
# Measures the main window in a real X server (Xvfb): how long the window takes
# to appear, a search over 64 MiB of junk in the window against crwlog on the
# same file (runs alternate, medians reported), and 10,000 log lines.
#   bash scripts/measure-window.sh [BUILD_DIR]     (RUNS=7 by default)
set -euo pipefail

build="${1:-build}"
runs="${RUNS:-7}"
bin="$(cd "$build/bin" && pwd)"
for tool in xvfb-run xdotool; do
  command -v "$tool" >/dev/null || { echo "measure-window: $tool is needed (Debian: xvfb, xdotool)" >&2; exit 1; }
done
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT

export MW_BIN="$bin" MW_WORK="$work" MW_RUNS="$runs"
# A display number searched from a random start: other sessions' X servers
# may hold the first ones.
xvfb-run -a -n $((200 + RANDOM % 600)) -s '-screen 0 1024x768x24' bash -c '
set -euo pipefail
median() { sort -n | awk "{ v[NR] = \$1 } END { print v[int((NR + 1) / 2)] }"; }
now_ms() { echo $(( $(date +%s%N) / 1000000 )); }

: > "$MW_WORK/start"; : > "$MW_WORK/bare"
for i in $(seq "$MW_RUNS"); do
  # Mendrake, then an empty Qt window with the same caption for reference.
  for program in "$MW_BIN/mendrake" "$MW_BIN/window_timing bare"; do
    t0=$(date +%s%N)
    $program 2>"$MW_WORK/err" & app=$!
    # Polled every few milliseconds; a tighter loop floods the X server with connections.
    until xdotool search --onlyvisible --name "^Mendrake \\(Repair, View and Extract\\) v1\\.2$" >/dev/null 2>&1; do
      kill -0 $app 2>/dev/null || { echo "$program ended before its window appeared:" >&2; cat "$MW_WORK/err" >&2; exit 1; }
      sleep 0.005
    done
    t1=$(date +%s%N)
    case "$program" in *bare) out=bare ;; *) out=start ;; esac
    echo $(( (t1 - t0) / 1000000 )) >> "$MW_WORK/$out"
    kill $app; wait $app 2>/dev/null || true
  done
done
echo "window appears after (ms, $MW_RUNS starts): $(tr "\n" " " < "$MW_WORK/start")-> median $(median < "$MW_WORK/start")"
echo "empty Qt window, same measure (ms):        $(tr "\n" " " < "$MW_WORK/bare")-> median $(median < "$MW_WORK/bare")"

"$MW_BIN/window_timing" makefile "$MW_WORK/junk64.crw" 64
: > "$MW_WORK/crwlog"; : > "$MW_WORK/window"
for i in $(seq "$MW_RUNS"); do
  t0=$(now_ms); "$MW_BIN/crwlog" "$MW_WORK/junk64.crw" > /dev/null; t1=$(now_ms)
  echo $((t1 - t0)) >> "$MW_WORK/crwlog"
  line=$("$MW_BIN/window_timing" search "$MW_WORK/junk64.crw" 2>/dev/null)
  echo "$line" | awk "{ print \$2 }" >> "$MW_WORK/window"
  echo "  window run $i: $line"
done
c=$(median < "$MW_WORK/crwlog"); w=$(median < "$MW_WORK/window")
echo "64 MiB junk: crwlog (ms): $(tr "\n" " " < "$MW_WORK/crwlog")-> median $c"
echo "64 MiB junk: window (ms): $(tr "\n" " " < "$MW_WORK/window")-> median $w"
awk -v w="$w" -v c="$c" "BEGIN { printf \"window / crwlog = %.2f\n\", w / c }"

"$MW_BIN/window_timing" append 10000 2>/dev/null
'
