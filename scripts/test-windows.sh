#!/usr/bin/env bash
# make test-windows: runs the engine's tests built for Windows under wine64,
# then compares crwlog.exe with the Linux crwlog on the same files.
# Usage: test-windows.sh WINDOWS_BUILD_DIR LINUX_BUILD_DIR JOBS
set -euo pipefail
cd "$(dirname "$0")/.."
windows=$(realpath "${1:-build-windows}")
linux=$(realpath "${2:-build}")

# A Wine prefix of the build's own, made once; nothing of Wine's talk on stderr.
export WINEPREFIX="$windows/wine-prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -d "$WINEPREFIX/drive_c" ]; then
  echo "Setting up a Wine prefix in $WINEPREFIX"
  wine wineboot --init >/dev/null 2>&1 || true
fi
wine_run() { wine "$@"; }

filter=$(grep -v -e '^#' -e '^$' tests/windows/linux-only-cases.txt | paste -sd: -)
passed=0
failed=0
for test in "$windows"/bin/test_*.exe; do
  name=$(basename "$test" .exe)
  if (cd "$windows/bin" && wine_run "$test" --gtest_filter="-$filter" --gtest_brief=1 >"$windows/$name.log" 2>&1); then
    passed=$((passed + 1))
  else
    failed=$((failed + 1))
    echo "FAILED under Wine: $name (log: $windows/$name.log)"
    tail -n 40 "$windows/$name.log"
  fi
done
echo "Engine tests under Wine: $passed programs passed, $failed failed"

# crwlog.exe against the Linux crwlog, byte for byte but for the path in
# "Repairing file" and the line endings.
compare_status=0
bash tests/windows/compare-crwlog.sh "$windows/bin/crwlog.exe" "$linux/bin" "$windows/compare" || compare_status=$?

if [ "$failed" -ne 0 ] || [ "$compare_status" -ne 0 ]; then
  echo "$((passed + (compare_status == 0))) passed, $((failed + (compare_status != 0))) failed"
  exit 1
fi
echo "$((passed + 1)) passed, 0 failed"
