#!/usr/bin/env bash
# Card recovery of fragmented files against photorec: a 512 MiB FAT16 card
# with 16 KiB clusters, made by mkfs.vfat and filled by mtools (never
# mounted), whose first-fit allocation splits files as a camera's does.
# Twelve shots (two of them followed by the camera's JPEG); four times one is
# deleted and a larger one taken, which fills the hole and goes on after the
# last file; two more shots; then the card quick-formatted.
# Prints time (median), peak memory, how many of the 14 shots each tool gives
# back byte for byte, and how many of those were in two pieces.
#
# usage: bench/fragmented-bench.sh BUILD_DIR
# MENDRAKE_BENCH_RUNS sets the runs per tool (default 3).
set -euo pipefail

build_dir=$(cd "${1:?usage: fragmented-bench.sh BUILD_DIR}" && pwd)
bin=$build_dir/bin
runs=${MENDRAKE_BENCH_RUNS:-3}
for tool in photorec mkfs.vfat mcopy mdel mshowfat; do
  command -v $tool >/dev/null || { echo "fragmented-bench: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/mendrake-fragments.XXXXXX")
trap 'rm -rf "$work"' EXIT
export MTOOLS_SKIP_CHECK=1

card=$work/card.img
mkfs.vfat -C -F 16 -s 32 "$card" $(( 512 * 1024 )) >/dev/null
"$bin/picturemake" 1536 1024 "$work/thumbnail.jpg"
"$bin/picturemake" 3072 2048 "$work/camera.jpg"
mkdir -p "$work/true"
shot() {  # name, size in KiB, white balance, [--big-endian]
  "$bin/crwmake" --size "$2"KiB --thumbnail "$work/thumbnail.jpg" --white-balance "$3" ${4:-} "$work/true/$1"
  mcopy -i "$card" "$work/true/$1" "::$1"
}
for i in $(seq 1 12); do
  shot "CRW_$(( 1000 + i )).CRW" $(( 4000 + (i * 733) % 4000 )) "$i"
  if [ "$i" -eq 3 ] || [ "$i" -eq 8 ]; then mcopy -i "$card" "$work/camera.jpg" "::IMG_$(( 1000 + i )).JPG"; fi
done
next=13
for i in 3 6 8 11; do
  mdel -i "$card" "::CRW_$(( 1000 + i )).CRW"
  rm "$work/true/CRW_$(( 1000 + i )).CRW"
  shot "CRW_$(( 1000 + next )).CRW" $(( 8200 + next * 37 )) "$next" $([ "$next" -eq 15 ] && echo --big-endian)
  next=$(( next + 1 ))
done
for i in 17 18; do shot "CRW_$(( 1000 + i )).CRW" $(( 5000 + i * 101 )) "$i"; done
split=0
for f in "$work"/true/*.CRW; do
  runs_of=$(mshowfat -i "$card" "::$(basename "$f")" | grep -o '<[0-9-]*>' | wc -l)
  [ "$runs_of" -gt 1 ] && split=$(( split + 1 ))
  [ "$runs_of" -gt 1 ] && echo "  $(basename "$f") in $runs_of pieces: $(mshowfat -i "$card" "::$(basename "$f")" | grep -o '<[0-9-]*>' | tr '\n' ' ')"
done
mkfs.vfat -F 16 -s 32 "$card" >/dev/null  # quick format: the tables are new, the clusters kept
cat "$card" > /dev/null
total=$(ls "$work/true" | wc -l)
echo "== ${total} CRW files on a quick-formatted 512 MiB FAT16 card, ${split} of them in more than one piece"

exact() {  # true files among the files under $1, byte for byte
  local found=0 sums
  sums=$(find "$1" -type f -iname '*.crw' -exec md5sum {} + | cut -d' ' -f1 | sort -u)
  for f in "$work"/true/*.CRW; do
    grep -q "$(md5sum "$f" | cut -d' ' -f1)" <<<"$sums" && found=$(( found + 1 ))
  done
  echo "$found"
}

measure() {  # name, command...
  local name=$1; shift
  local times=() peak=0
  for r in $(seq 1 "$runs"); do
    rm -rf "$work/out" "$work/out".*
    ( cd "$work" && /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" > "$work/$name.log" 2>&1 ) || true
    read -r t m < <(tail -n 1 "$work/time.txt")
    times+=("$t"); [ "$m" -gt "$peak" ] && peak=$m
  done
  local median all
  median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
  all=$(find "$work"/out* -type f -iname '*.crw' | wc -l)
  printf '%-10s median %6.2f s  peak %7.1f MiB  exact %s of %s (%s CRW files written)\n' \
    "$name" "$median" "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')" "$(exact "$work"/out*)" "$total" "$all"
}

measure crwlog "$bin/crwlog" --recover "$card" "$work/out"
echo "           $(grep -c '^At .*joined from two pieces' "$work/crwlog.log") joined from two pieces; $(grep -c '^At .*\.damaged' "$work/crwlog.log") kept as damaged"
measure photorec photorec /log /d "$work/out" /cmd "$card" \
  partition_none,options,keep_corrupted_file,fileopt,everything,disable,crw,enable,search
