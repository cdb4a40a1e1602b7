#!/usr/bin/env bash
# Runs crwlog.exe under Wine and the Linux crwlog on the same files, each in
# a copy of its own, and compares what they print, their exit statuses and
# every file they write: byte for byte, but for the path in "Repairing file"
# and the line endings (CR LF on Windows).
# Usage: compare-crwlog.sh CRWLOG_EXE LINUX_BIN_DIR WORK_DIR
set -uo pipefail
exe=$(realpath "$1")
bin=$(realpath "$2")
work=$(realpath -m "$3")
samples=$(cd "$(dirname "$0")/../data" && pwd)
rm -rf "$work" && mkdir -p "$work/files"
cd "$work/files"

# The test files: the camera sample, built files in both byte orders with
# each kind of junk, files that are no CRW file or are cut short, non-ASCII
# names, and hostile card images.
cp "$samples/CanonRaw.crw" .
"$bin/crwmake" --size 300K --junk random --junk-size 2000 intel-random.crw
"$bin/crwmake" --size 200K --big-endian --junk zeros --junk-size 70000 motorola-zeros.crw
"$bin/crwmake" --size 150K --junk copy --junk-size 5000 --make "Canon" --model "EOS D60" copy-junk.crw
"$bin/crwmake" --size 120K --junk ones --junk-size 1 --white-balance 3 ones.crw
"$bin/crwmake" --size 100K whole.crw
head -c 50000 intel-random.crw > cut-short.crw
head -c 4000 /dev/zero > zeros.crw
printf 'not a raw file\n' > text.crw
cp motorola-zeros.crw "Köln_東京_Ærø.crw"
for kind in same-number-files records-outside stray-thumbnails; do
  "$bin/cardmake" "$kind" 8MiB "card-$kind.img"
done
# A card image past 2 GiB (sparse) with photos before and past the 2 GiB mark.
truncate -s 2600M card-large.img
dd if=whole.crw of=card-large.img bs=1M seek=100 conv=notrunc status=none
dd if=intel-random.crw of=card-large.img bs=1M seek=2200 conv=notrunc status=none
dd if="Köln_東京_Ærø.crw" of=card-large.img bs=1M seek=2599 conv=notrunc status=none

# Also the time a recovery took, and the system's own text for a file that
# cannot be opened ("No such file or directory", "File not found").
normalise() {
  tr -d '\r' | sed -e 's|^Repairing file .*[/\\]|Repairing file |' \
    -e 's|^\(Recovered .* from .*\) in [0-9.]* s$|\1|' \
    -e 's|"[^"]*[/\\]\([^"/\\]*\)": cannot open the file: .*|"\1": cannot open the file: (reason)|'
}

failures=0
# run NAME ARGS...: each tool in a fresh copy of the files.
run() {
  local name=$1
  shift
  for side in linux windows; do
    rm -rf "$work/$side" && mkdir -p "$work/$side"
    cp -r "$work/files/." "$work/$side/" 2>/dev/null
    # The large card image goes by link: it is only read.
    ln -f "$work/files/card-large.img" "$work/$side/card-large.img"
    local status=0
    if [ "$side" = linux ]; then
      (cd "$work/$side" && "$bin/crwlog" "$@" >"$work/$name.$side.out" 2>"$work/$name.$side.err") || status=$?
    else
      (cd "$work/$side" && wine "$exe" "$@" >"$work/$name.$side.out" 2>"$work/$name.$side.err") || status=$?
    fi
    echo "$status" > "$work/$name.$side.status"
    normalise < "$work/$name.$side.out" > "$work/$name.$side.log"
    normalise < "$work/$name.$side.err" > "$work/$name.$side.errlog"
    (cd "$work/$side" && find . -type f ! -name card-large.img -print0 | sort -z | xargs -0 sha256sum) > "$work/$name.$side.files"
  done
  local differs=
  for part in status log errlog files; do
    if ! cmp -s "$work/$name.linux.$part" "$work/$name.windows.$part"; then
      differs+=" $part"
      diff "$work/$name.linux.$part" "$work/$name.windows.$part" | head -n 20
    fi
  done
  if [ -n "$differs" ]; then
    echo "DIFFERS: crwlog $* ($differs)"
    failures=$((failures + 1))
  else
    echo "same: crwlog $* ($(wc -l < "$work/$name.linux.log") lines, status $(cat "$work/$name.linux.status"))"
  fi
}

for file in CanonRaw.crw intel-random.crw motorola-zeros.crw copy-junk.crw ones.crw whole.crw cut-short.crw \
            zeros.crw text.crw "Köln_東京_Ærø.crw"; do
  run "one-${file%.crw}" "$file"
done
run several CanonRaw.crw intel-random.crw motorola-zeros.crw "Köln_東京_Ærø.crw" cut-short.crw
run preview --preview-ppm preview.ppm intel-random.crw CanonRaw.crw
run missing whole.crw missing.crw
for kind in same-number-files records-outside stray-thumbnails; do
  run "recover-$kind" --recover "card-$kind.img" recovered
done
run recover-large --recover card-large.img "Gefunden_東京"

echo "crwlog.exe against crwlog: $failures of the runs differ"
[ "$failures" -eq 0 ]
