#!/usr/bin/env bash
# Installs the Debian packages Mendrake builds, tests and compares against.
# Calls apt-get only when something is missing; safe to run again.
set -euo pipefail

packages=(
  build-essential cmake pkg-config
  qt6-base-dev libjpeg62-turbo-dev libunwind-dev libdw-dev librsvg2-bin libblkid-dev
  libgtest-dev libbenchmark-dev
  clang libclang-rt-14-dev
  dcraw libimage-exiftool-perl libjpeg-turbo-progs hyperfine time
  testdisk dosfstools mtools e2fsprogs mount util-linux dbus-daemon
  # GNU ddrescue: the tests hand it the image and mapfile of a failing card.
  gddrescue
  xvfb xauth xdotool imagemagick
  dpkg-dev file desktop-file-utils appstream lintian cmark
  # make windows and make test-windows: the MinGW-w64 cross compiler, nasm for
  # libjpeg-turbo's SIMD code, GoogleTest's source, zip, and Wine to run them.
  g++-mingw-w64-x86-64 nasm googletest zip wine wine64
  # The Windows build compiles through it, so a second build takes little time.
  ccache
)

missing=()
for package in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$package")
  fi
done

[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing missing Debian packages: ${missing[*]}"
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null 2>&1; then
  sudo=(sudo)
else
  echo "Cannot install packages without root. Please run as root:" >&2
  echo "  apt-get install ${missing[*]}" >&2
  exit 1
fi

if ! { "${sudo[@]}" apt-get update -qq && DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq "${missing[@]}"; }; then
  echo "Installing packages failed. Please install them by hand:" >&2
  echo "  apt-get install ${missing[*]}" >&2
  exit 1
fi
