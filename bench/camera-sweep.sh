#!/usr/bin/env bash
# Card recovery on many small cards filled the way cameras fill them (cardmake
# camera), five kinds of card over five seeds each: the photos given back
# byte for byte by the number of pieces they were written in, and the CRW
# files written that are no photo ever shot on the card (WRONG), per card and
# in all. Slower than camera-cards-bench.sh's four cards, and wider.
#
# usage: bench/camera-sweep.sh BUILD_DIR [SEED...]   (seeds 21 to 25 by default)
set -euo pipefail

build_dir=$(cd "${1:?usage: camera-sweep.sh BUILD_DIR [SEED...]}" && pwd)
shift
seeds=("$@")
[ ${#seeds[@]} -gt 0 ] || seeds=(21 22 23 24 25)
bin=$build_dir/bin
for tool in crwlog cardmake; do
  [ -x "$bin/$tool" ] || { echo "camera-sweep: $bin/$tool is missing; build first (make build)" >&2; exit 1; }
done
work=$(mktemp -d "${TMPDIR:-/tmp}/mendrake-camera-sweep.XXXXXX")
trap 'rm -rf "$work"' EXIT

kinds=(
  "--size 64MiB --cluster 8KiB --rounds 4 --shots 12"
  "--next-free --size 64MiB --cluster 4KiB --rounds 4 --shots 12"
  "--fat32 --deleted-on-computer --size 160MiB --cluster 2KiB --rounds 4 --shots 20"
  "--fat32 --next-free --size 288MiB --cluster 4KiB --rounds 4 --shots 24 --deleted-percent 50"
  "--size 64MiB --cluster 2KiB --rounds 5 --shots 10 --jpg-percent 40"
)

declare -A back total
wrong_all=0
for seed in "${seeds[@]}"; do
  for kind in "${!kinds[@]}"; do
    rm -rf "$work/truth" "$work/out"
    # shellcheck disable=SC2086
    "$bin/cardmake" camera "$work/card.img" "$work/truth" ${kinds[$kind]} --seed "$seed" >/dev/null
    "$bin/crwlog" --recover "$work/card.img" "$work/out" >"$work/log" 2>&1 || true
    md5sum "$work"/truth/live/* "$work"/truth/gone/* 2>/dev/null | cut -d' ' -f1 | sort -u >"$work/shot.md5"
    find "$work/out" -iname '*.crw' -exec md5sum {} + | cut -d' ' -f1 | sort >"$work/written.md5"
    wrong=$(comm -23 "$work/written.md5" "$work/shot.md5" | wc -l)
    wrong_all=$((wrong_all + wrong))
    line="kind $kind seed $seed: WRONG $wrong"
    for group in 1 2 3; do
      found=0 shot=0
      while read -r name pieces where _; do
        [ "$where" = live ] || continue
        [ "$pieces" -ge 3 ] && pieces=3
        [ "$pieces" -eq "$group" ] || continue
        shot=$((shot + 1))
        grep -qx "$(md5sum "$work/truth/live/$name" | cut -d' ' -f1)" "$work/written.md5" && found=$((found + 1))
      done <"$work/truth/pieces.txt"
      back[$group]=$(( ${back[$group]:-0} + found ))
      total[$group]=$(( ${total[$group]:-0} + shot ))
      case $group in 1) label="1 piece" ;; 2) label="2 pieces" ;; *) label="3+" ;; esac
      line+=", $label $found/$shot"
    done
    echo "$line"
  done
done
echo "in all: 1 piece ${back[1]}/${total[1]}, 2 pieces ${back[2]}/${total[2]}, 3+ ${back[3]}/${total[3]}, WRONG $wrong_all"
