#!/usr/bin/env bash
# Names, dates and THM files on two 64 MiB FAT16 cards as a camera leaves
# them (made by mkfs.vfat and filled by mtools, never mounted): twelve photos
# of 3 MiB, each with its THM, two of them shot in one second, one without a
# name record of its own copied under a long name. On one card every file is
# deleted as a computer deletes it; the other is quick-formatted. On both the
# end of one photo's raw data is overwritten (its JPEG, stored first, stays
# whole) and the first cluster of another.
# Prints, per card, how many photos came back under the camera's name, with
# their bytes; how many files are dated to the photo's shot time; how many
# THMs came back beside their photo; the damaged files that gave their JPEG;
# the lines for photos the directories name that did not come back.
#
# usage: bench/names-bench.sh BUILD_DIR
set -euo pipefail

build_dir=$(cd "${1:?usage: names-bench.sh BUILD_DIR}" && pwd)
bin=$build_dir/bin
for tool in mkfs.vfat mcopy mdel mmd python3; do
  command -v $tool >/dev/null || { echo "names-bench: $tool is missing (scripts/install-deps.sh installs it)" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/mendrake-names.XXXXXX")
trap 'rm -rf "$work"' EXIT
[ -n "${MENDRAKE_BENCH_KEEP:-}" ] && trap - EXIT
export MTOOLS_SKIP_CHECK=1

"$bin/picturemake" 2048 1360 "$work/jpeg.jpg"
mkdir -p "$work/true"
card=$work/card.img
mkfs.vfat -C -F 16 -s 32 -n EOS_DIGITAL "$card" $(( 64 * 1024 )) >/dev/null
mmd -i "$card" ::DCIM ::DCIM/100CANON
declare -A shot
for i in $(seq 1 12); do
  name=CRW_$(( 100 + i ))
  name=CRW_0${name#CRW_}
  seconds=$(( i * 37 + (i > 9 ? 86400 : 0) ))
  [ "$i" -eq 7 ] && seconds=$(( 6 * 37 ))  # a burst: the second of photo 6
  when=$(date -u -d "@$(( 1068472800 + seconds ))" '+%Y:%m:%d %H:%M:%S')
  shot[$name]=$when
  if [ "$i" -eq 12 ]; then
    "$bin/crwmake" --size 3MiB --thumbnail "$work/jpeg.jpg" --thumbnail-first --number 0 --time "$when" \
      --thm "$work/true/Lake at dusk.THM" "$work/true/Lake at dusk.CRW"
    mcopy -i "$card" "$work/true/Lake at dusk.THM" "$work/true/Lake at dusk.CRW" ::DCIM/100CANON/
  else
    "$bin/crwmake" --size 3MiB --thumbnail "$work/jpeg.jpg" --thumbnail-first --name "$name.CRW" \
      --number $(( 1000000 + 100 + i )) --time "$when" --thm "$work/true/$name.THM" "$work/true/$name.CRW"
    mcopy -i "$card" "$work/true/$name.THM" "$work/true/$name.CRW" ::DCIM/100CANON/
  fi
done

# Zeros over [from, from + count) of file, wherever the card holds it: found by
# its last 64 KiB, which hold its names and time (the photos' first bytes, their
# JPEG, are alike).
overwrite() {  # card, file, from (bytes into the file; negative: from its end), count
  python3 - "$@" <<'PY'
import sys
card, file, start, count = sys.argv[1], sys.argv[2], int(sys.argv[3]), int(sys.argv[4])
data = bytearray(open(card, 'rb').read())
head = open(file, 'rb').read()
at = data.find(head[-65536:]) - (len(head) - 65536)
if start < 0: start += len(head)
data[at + start:at + start + count] = bytes(count)
open(card, 'wb').write(data)
PY
}

cp "$card" "$work/deleted.img"
mdel -i "$work/deleted.img" '::DCIM/100CANON/*'
cp "$card" "$work/formatted.img"
mkfs.vfat -F 16 -s 32 -n EOS_DIGITAL "$work/formatted.img" >/dev/null
for image in deleted formatted; do
  overwrite "$work/$image.img" "$work/true/CRW_0104.CRW" -1048576 1048576
  overwrite "$work/$image.img" "$work/true/CRW_0109.CRW" 0 16384
done

printf '\n%-10s %7s %9s %8s %6s %14s %13s %6s\n' card named "bytes ok" dated THMs "damaged, JPEG" "named, lost" seconds
for image in deleted formatted; do
  out=$work/out-$image
  start=$(date +%s.%N)
  "$bin/crwlog" --recover "$work/$image.img" "$out" > "$work/$image.log" || true
  took=$(echo "$(date +%s.%N) - $start" | bc)
  named=0; exact=0; dated=0; thms=0
  for file in "$work"/true/*.CRW; do
    base=$(basename "$file" .CRW)
    [ -f "$out/$base.CRW" ] || continue
    named=$(( named + 1 ))
    cmp -s "$file" "$out/$base.CRW" && exact=$(( exact + 1 ))
    when=${shot[$base]:-${shot[CRW_0112]}}
    expected=$(date -d "$(echo "$when" | sed 's/:/-/; s/:/-/')" +%s)
    [ "$(stat -c %Y "$out/$base.CRW")" = "$expected" ] && dated=$(( dated + 1 ))
    cmp -s "$work/true/$base.THM" "$out/$base.THM" 2>/dev/null && thms=$(( thms + 1 ))
  done
  damaged=$(ls "$out" | grep -c '\.damaged$' || true)
  jpegs=$(grep -c '; its JPEG, 2048x1360, written' "$work/$image.log" || true)
  lost=$(grep -c ': not recovered, ' "$work/$image.log" || true)
  printf '%-10s %4d/12 %6d/12 %5d/12 %3d/12 %10d of %d %11d %8.1f\n' "$image" "$named" "$exact" "$dated" "$thms" \
    "$jpegs" "$damaged" "$lost" "$took"
  grep -E 'not recovered|not written|THM files' "$work/$image.log" | sed 's/^/    /'
done
echo "(10 of 12 can come back whole: one photo's raw data and another's first cluster are overwritten)"
