#!/usr/bin/env bash
# make windows: builds libjpeg-turbo and GoogleTest for Windows once, then the
# engine, card recovery, crwlog.exe and the engine's tests with MinGW-w64, and
# packs crwlog.exe with its README.txt and the licence into a zip.
# Usage: build-windows.sh BUILD_DIR JOBS
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build-windows}
jobs=${2:-2}
export CCACHE_BASEDIR=${CCACHE_BASEDIR:-$PWD}

bash scripts/build-windows-deps.sh "$build/deps" "$build/deps-work" "$jobs"
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DMENDRAKE_WINDOWS_DEPS="$PWD/$build/deps" -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
nice -n 10 cmake --build "$build" -j "$jobs"
cp "$build/bin/crwlog.exe" "$build/crwlog.exe"

version=$(sed -n 's/^project(Mendrake VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
stage="$build/zip/mendrake-$version-windows-x64"
rm -rf "$build/zip" && mkdir -p "$stage"
cp "$build/crwlog.exe" "$stage/"
sed 's/$/\r/' packaging/windows/README.txt > "$stage/README.txt"
sed 's/$/\r/' LICENSE > "$stage/LICENSE.txt"
rm -f "$build/mendrake-$version-windows-x64.zip"
(cd "$build/zip" && zip -q -r "../mendrake-$version-windows-x64.zip" "mendrake-$version-windows-x64")
echo "Built $build/crwlog.exe and $build/mendrake-$version-windows-x64.zip"
