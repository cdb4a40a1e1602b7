#!/usr/bin/env bash
# Card recovery against a plain read and photorec on one built card image of 3 GiB,
# read from the page cache: time (median), peak memory and how many of the
# true files each gives back byte-exact.
#
# usage: bench/recover-bench.sh BUILD_DIR
# MENDRAKE_BENCH_RUNS sets the runs per tool (default 3), MENDRAKE_CARD_MIB
# the image size (default 3072), and
# MENDRAKE_BENCH_PHOTOREC=0 leaves photorec out (crwlog against cat only).
set -euo pipefail

build_dir=$(cd "${1:?usage: recover-bench.sh BUILD_DIR}" && pwd)
bin=$build_dir/bin
runs=${MENDRAKE_BENCH_RUNS:-3}
card_mib=${MENDRAKE_CARD_MIB:-3072}
with_photorec=${MENDRAKE_BENCH_PHOTOREC:-1}
[ "$with_photorec" = 0 ] || command -v photorec >/dev/null || { echo "recover-bench: photorec is missing (scripts/install-deps.sh installs testdisk)" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/mendrake-recover.XXXXXX")
trap 'rm -rf "$work"' EXIT

# The card: random bytes (a used card's old contents), quick-formatted with a
# FAT volume of 32 KiB clusters as a camera formats it, a stretch of zeros,
# and 11 CRW files at cluster starts, one of them big-endian, two back to
# back. The volume's FAT and directories are empty: the photos are those of
# before the format.
cluster=32768
echo "== Making a ${card_mib} MiB card image in $work"
head -c $(( card_mib * 1048576 )) /dev/urandom > "$work/card.img"
mkfs.vfat -s $(( cluster / 512 )) -S 512 -n CARD "$work/card.img" > /dev/null
dd if=/dev/zero of="$work/card.img" bs=1M seek=$(( card_mib / 2 )) count=64 conv=notrunc status=none
mkdir -p "$work/true"
"$bin/picturemake" 1536 1024 "$work/thumbnail.jpg"
at=$(( 4 << 20 ))  # past the volume's tables, at a cluster start (mkfs.vfat aligns its clusters)
for i in $(seq 1 11); do
  order=$([ "$i" -eq 4 ] && echo --big-endian || true)
  # Each photo its own white balance: shots differ, so no two files match byte for byte.
  "$bin/crwmake" --size $(( 3 + i % 7 ))MiB --thumbnail "$work/thumbnail.jpg" $order --white-balance "$i" "$work/true/$i.crw"
  dd if="$work/true/$i.crw" of="$work/card.img" bs=$cluster seek=$(( at / cluster )) conv=notrunc status=none
  size=$(stat -c %s "$work/true/$i.crw")
  if [ "$i" -eq 6 ]; then gap=0; else gap=$(( (card_mib * 1048576 / 12) / cluster * cluster )); fi
  at=$(( (at + size + cluster - 1) / cluster * cluster + gap ))
done
# Written to disk before any run is timed: the writeback of 3 GiB would
# otherwise share the processors with the first runs.
sync "$work/card.img"
cat "$work/card.img" > /dev/null  # into the page cache

exact() {  # how many true files are among the files under $1, byte for byte
  local found=0
  local sums
  sums=$(find "$1" -type f \( -iname '*.crw' \) -exec md5sum {} + | cut -d' ' -f1 | sort -u)
  for f in "$work"/true/*.crw; do
    grep -q "$(md5sum "$f" | cut -d' ' -f1)" <<<"$sums" && found=$(( found + 1 ))
  done
  echo "$found"
}

measure() {  # name, command...: prints median seconds, peak KiB and exact files
  local name=$1; shift
  local times=() peak=0
  for r in $(seq 1 "$runs"); do
    rm -rf "$work/out" "$work/out".*
    ( cd "$work" && /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" > /dev/null 2>&1 ) || true
    read -r t m < "$work/time.txt"
    times+=("$t"); [ "$m" -gt "$peak" ] && peak=$m
  done
  local median
  median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }')
  local files
  files=$(exact "$work"/out*)
  local all
  all=$(find "$work"/out* -type f -iname '*.crw' | wc -l)
  printf '%-10s median %6.2f s  peak %7.1f MiB  exact %s of 11 (%s CRW files written)\n' \
    "$name" "$median" "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')" "$files" "$all"
  echo "$median" > "$work/$name.median"
}

# crwlog and a plain sequential read of the same image from the page cache
# (the pace a one-pass scan can at best keep), run by turns so that both meet
# the same load on the machine. Prints the ratio, and leaves crwlog's median
# in $work/crwlog.median for photorec's row, which runs on the card of the
# last race.
race() {  # what the card is
  local times_crwlog=() times_cat=() peak=0 t m
  for r in $(seq 1 "$runs"); do
    rm -rf "$work/out"
    /usr/bin/time -f "%e %M" -o "$work/time.txt" "$bin/crwlog" --recover "$work/card.img" "$work/out" > /dev/null 2>&1 || true
    read -r t m < "$work/time.txt"
    times_crwlog+=("$t"); [ "$m" -gt "$peak" ] && peak=$m
    /usr/bin/time -f "%e" -o "$work/time.txt" cat "$work/card.img" > /dev/null
    times_cat+=("$(tail -n 1 "$work/time.txt")")
  done
  median "${times_crwlog[@]}" > "$work/crwlog.median"
  median "${times_cat[@]}" > "$work/cat.median"
  echo "== $1"
  printf '%-10s median %6.2f s  peak %7.1f MiB  exact %s of 11 (%s CRW files written)  runs: %s\n' crwlog \
    "$(cat "$work/crwlog.median")" "$(awk -v k="$peak" 'BEGIN { print k / 1024 }')" "$(exact "$work/out")" \
    "$(find "$work/out" -type f -iname '*.crw' | wc -l)" "${times_crwlog[*]}"
  printf '%-10s median %6.2f s  runs: %s\n' cat "$(cat "$work/cat.median")" "${times_cat[*]}"
  awk -v a="$(cat "$work/crwlog.median")" -v c="$(cat "$work/cat.median")" -v mib="$card_mib" -v what="$1" \
    'BEGIN { printf "card recovery of %d MiB, %s: crwlog takes %.2f of a plain read (goal <= 1.2)\n", mib, what, a / c }'
}
median() { printf '%s\n' "$@" | sort -n | awk '{ a[NR] = $1 } END { print a[int((NR + 1) / 2)] }'; }

# On a card with a volume, headers are looked for at sector starts, where
# every file of a FAT volume begins; in a stream with none, at every byte.
race "formatted card"
head -c 65536 /dev/urandom | dd of="$work/card.img" conv=notrunc status=none  # boot sector and its backup gone
race "the same card with no volume left, searched byte by byte"
[ "$with_photorec" = 0 ] && exit 0
measure photorec photorec /log /d "$work/out" /cmd "$work/card.img" \
  partition_none,options,keep_corrupted_file,fileopt,everything,disable,crw,enable,search
awk -v a="$(cat "$work/crwlog.median")" -v b="$(cat "$work/photorec.median")" \
  'BEGIN { printf "card recovery: crwlog takes %.2f of photorec'"'"'s time\n", a / b }'
