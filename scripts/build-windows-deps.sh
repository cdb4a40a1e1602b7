#!/usr/bin/env bash
# Builds the libraries the Windows build links that Debian ships only for
# Linux, with MinGW-w64, into PREFIX (static, once; safe to run again):
#   libjpeg-turbo from Debian's source package, the same version and patches
#     as the Linux build's libjpeg62-turbo, so thumbnails decode alike;
#   GoogleTest from Debian's googletest package (/usr/src/googletest).
# Usage: build-windows-deps.sh PREFIX WORKDIR JOBS
set -euo pipefail

prefix=$(realpath -m "$1")
work=$(realpath -m "$2")
jobs=${3:-2}
here=$(cd "$(dirname "$0")" && pwd)
toolchain="$here/../cmake/mingw-w64-x86_64.cmake"
mkdir -p "$prefix" "$work"

# Debian's source package, fetched through apt with a source list of our own,
# so that the machine's own apt configuration stays as it is.
fetch_jpeg_source() {
  local apt="$work/apt"
  mkdir -p "$apt/lists/partial" "$apt/src"
  sed 's/^Types: deb$/Types: deb-src/' /etc/apt/sources.list.d/debian.sources > "$apt/sources.sources"
  local options=(-o "Dir::Etc::SourceList=$apt/sources.sources" -o "Dir::Etc::SourceParts=/nonexistent"
                 -o "Dir::State::Lists=$apt/lists" -o "Debug::NoLocking=1")
  apt-get -qq "${options[@]}" update
  local version
  version=$(dpkg-query -W -f='${source:Version}' libjpeg62-turbo-dev)
  (cd "$apt/src" && apt-get -qq "${options[@]}" source --download-only "libjpeg-turbo=$version" 2>/dev/null)
  rm -rf "$work/libjpeg-turbo"
  dpkg-source --no-check -x "$apt/src"/libjpeg-turbo_*.dsc "$work/libjpeg-turbo" >/dev/null
}

if [ ! -f "$prefix/lib/libjpeg.a" ]; then
  [ -d "$work/libjpeg-turbo" ] || fetch_jpeg_source
  cmake -S "$work/libjpeg-turbo" -B "$work/libjpeg-turbo-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DENABLE_SHARED=OFF -DENABLE_STATIC=ON \
    -DWITH_TURBOJPEG=OFF -DWITH_JPEG8=OFF -DCMAKE_C_COMPILER_LAUNCHER=ccache >/dev/null
  nice -n 10 cmake --build "$work/libjpeg-turbo-build" -j "$jobs" --target jpeg-static >/dev/null
  cmake --install "$work/libjpeg-turbo-build" >/dev/null 2>&1 || true
  # Only the library and its headers are wanted; installing the static
  # target alone leaves out the programs that were not built.
  mkdir -p "$prefix/lib" "$prefix/include"
  cp "$work/libjpeg-turbo-build/libjpeg.a" "$prefix/lib/libjpeg.a"
  cp "$work/libjpeg-turbo-build/jconfig.h" "$work/libjpeg-turbo/jerror.h" "$work/libjpeg-turbo/jmorecfg.h" \
     "$work/libjpeg-turbo/jpeglib.h" "$prefix/include/"
fi

if [ ! -f "$prefix/lib/libgtest.a" ]; then
  cmake -S /usr/src/googletest -B "$work/googletest-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DBUILD_GMOCK=OFF -Dgtest_disable_pthreads=OFF \
    -DCMAKE_CXX_COMPILER_LAUNCHER=ccache >/dev/null
  nice -n 10 cmake --build "$work/googletest-build" -j "$jobs" >/dev/null
  cmake --install "$work/googletest-build" >/dev/null
fi
