#!/usr/bin/env bash
# Card recovery on cards filled the way cameras fill them over months
# (cardmake camera: rounds of shooting and deleting in the camera, first fit
# or the next-free hint, FAT16 and FAT32, clusters of 2 to 32 KiB, real
# compressed raw data), then quick-formatted or deleted on a computer;
# crwlog against photorec in the same run.
# For each card and tool: the photos on the card given back byte for byte, by
# the number of pieces they were written in; WRONG CRW files written (no
# photo ever shot on the card: the figure that must be 0); damaged pieces
# kept; photos under the camera's name and with their THM; time against a
# plain read of the image; peak memory.
#
# usage: bench/camera-cards-bench.sh BUILD_DIR
# MENDRAKE_BENCH_CARDS=quick makes the first card only.
set -euo pipefail

build_dir=$(cd "${1:?usage: camera-cards-bench.sh BUILD_DIR}" && pwd)
bin=$build_dir/bin
for tool in crwlog cardmake; do
  [ -x "$bin/$tool" ] || { echo "camera-cards-bench: $bin/$tool is missing; build first (make build)" >&2; exit 1; }
done
have_photorec=1
command -v photorec >/dev/null || { have_photorec=0; echo "camera-cards-bench: photorec is missing (scripts/install-deps.sh installs it)" >&2; }
work=$(mktemp -d "${TMPDIR:-/tmp}/mendrake-camera-cards.XXXXXX")
trap 'rm -rf "$work"' EXIT

# name, cardmake options
cards=(
  "fat16-firstfit-2k-formatted   --size 128MiB --cluster 2KiB --rounds 5 --shots 20 --seed 1"
  "fat32-nextfree-2k-deleted     --fat32 --next-free --deleted-on-computer --size 256MiB --cluster 2KiB --rounds 5 --shots 36 --seed 2"
  "fat16-nextfree-32k-formatted  --next-free --size 256MiB --cluster 32KiB --rounds 6 --shots 28 --seed 3"
  "fat32-firstfit-4k-deleted     --fat32 --deleted-on-computer --size 512MiB --cluster 4KiB --rounds 6 --shots 56 --seed 4"
)
[ "${MENDRAKE_BENCH_CARDS:-}" = quick ] && cards=("${cards[0]}")

seconds_of() { tail -n 1 "$1" | awk '{ print $1 }'; }
kib_of() { tail -n 1 "$1" | awk '{ print $2 }'; }

# Prints "exact1 exact2 exact3+ total1 total2 total3+ wrong written" for the
# CRW files under the folders $work/$1* (photorec numbers its folders).
score() {
  local prefix=$1 truth=$2
  find "$work" -path "$work/$prefix*" -type f -iname '*.crw' -exec md5sum {} + 2>/dev/null | cut -d' ' -f1 | sort \
    > "$work/written.md5" || true
  md5sum "$truth"/live/* "$truth"/gone/* 2>/dev/null | cut -d' ' -f1 | sort -u > "$work/shot.md5"
  local wrong written
  written=$(wc -l < "$work/written.md5")
  wrong=$(comm -23 "$work/written.md5" "$work/shot.md5" | wc -l)
  local e1=0 e2=0 e3=0 t1=0 t2=0 t3=0 name pieces where sum
  while read -r name pieces where _; do
    [ "$where" = live ] || continue
    sum=$(md5sum "$truth/live/$name" | cut -d' ' -f1)
    local found=0
    grep -qx "$sum" "$work/written.md5" && found=1
    if [ "$pieces" -eq 1 ]; then t1=$((t1 + 1)); e1=$((e1 + found));
    elif [ "$pieces" -eq 2 ]; then t2=$((t2 + 1)); e2=$((e2 + found));
    else t3=$((t3 + 1)); e3=$((e3 + found)); fi
  done < "$truth/pieces.txt"
  echo "$e1 $e2 $e3 $t1 $t2 $t3 $wrong $written"
}

# Prints "named thms exact" for crwlog's folder $1: of the photos given back
# byte for byte, those under the camera's own name, and those with the THM
# the camera wrote beside them.
names() {
  local out=$1 truth=$2 named=0 thms=0 exact=0 name sum
  while read -r name _ where _; do
    [ "$where" = live ] || continue
    sum=$(md5sum "$truth/live/$name" | cut -d' ' -f1)
    grep -qx "$sum" "$work/written.md5" || continue
    exact=$((exact + 1))
    [ -f "$out/$name" ] && [ "$(md5sum "$out/$name" | cut -d' ' -f1)" = "$sum" ] || continue
    named=$((named + 1))
    [ -f "$out/${name%.CRW}.THM" ] && thms=$((thms + 1))
  done < "$truth/pieces.txt"
  echo "$named $thms $exact"
}

row() { printf '%-30s %-9s %9s %9s %9s %7s %8s %9s %9s %8s %7s %7s %9s\n' "$@"; }
row "card" "tool" "1 piece" "2 pieces" "3+" "WRONG" "damaged" "named" "THM" "time" "x read" "x disk" "peak MiB"
for card in "${cards[@]}"; do
  read -r name options <<<"$card"
  image=$work/$name.img
  truth=$work/$name.truth
  # shellcheck disable=SC2086
  "$bin/cardmake" camera "$image" "$truth" $options
  cat "$image" > /dev/null
  start=$(date +%s%N); cat "$image" > /dev/null; end=$(date +%s%N)
  plain=$(awk -v n=$((end - start)) 'BEGIN { printf "%.3f", n / 1e9 }')
  # The same read past the page cache, from the disk that holds the image
  # (none where its file system takes no direct reads), once the image is
  # written out.
  sync "$image"
  start=$(date +%s%N)
  if dd if="$image" of=/dev/null bs=4M iflag=direct 2>/dev/null; then
    end=$(date +%s%N); disk=$(awk -v n=$((end - start)) 'BEGIN { printf "%.3f", n / 1e9 }')
  else
    disk=0
  fi
  for tool in crwlog photorec; do
    [ $tool = photorec ] && [ $have_photorec = 0 ] && continue
    out=$work/out-$tool
    rm -rf "$out" "$out".*
    if [ $tool = crwlog ]; then
      /usr/bin/time -f "%e %M" -o "$work/time.txt" "$bin/crwlog" --recover "$image" "$out" > "$work/crwlog.log" 2>&1 || true
      damaged=$(grep -c '^At .*\.damaged' "$work/crwlog.log" || true)
    else
      ( cd "$work" && /usr/bin/time -f "%e %M" -o "$work/time.txt" photorec /log /d "$out" /cmd "$image" \
          partition_none,options,keep_corrupted_file,fileopt,everything,disable,crw,enable,search > /dev/null 2>&1 ) || true
      damaged=-
    fi
    read -r e1 e2 e3 t1 t2 t3 wrong written < <(score "out-$tool" "$truth")
    named=- thms=-
    if [ $tool = crwlog ]; then
      read -r n h x < <(names "$out" "$truth")
      named=$n/$x thms=$h/$x
    fi
    t=$(seconds_of "$work/time.txt")
    row "$name" "$tool" "$e1/$t1" "$e2/$t2" "$e3/$t3" "$wrong" "$damaged" "$named" "$thms" "${t} s" \
      "$(awk -v a="$t" -v b="$plain" 'BEGIN { if (b > 0) printf "%.1f", a / b; else print "-" }')" \
      "$(awk -v a="$t" -v b="$disk" 'BEGIN { if (b > 0) printf "%.1f", a / b; else print "-" }')" \
      "$(awk -v k="$(kib_of "$work/time.txt")" 'BEGIN { printf "%.1f", k / 1024 }')"
  done
  rm -rf "$image" "$truth" "$work"/out-*
done
echo "(photos on the card given back byte for byte, of those written in that many pieces; WRONG: CRW files written"
echo " that are no photo ever shot on the card; named: of those given back, under the camera's name; THM: with"
echo " the camera's THM beside them; time against a plain read of the image from the page cache, and from the disk"
echo " past the cache)"
