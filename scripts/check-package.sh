#!/usr/bin/env bash
# Checks what "make package" built: the launcher, the metainfo and the Debian
# package itself. Fails on the first fault; lintian's warnings are shown but
# only its errors fail.
# Usage: check-package.sh BUILD_DIR
set -euo pipefail

build_dir=${1:-build}
app_id=io.github.mendrake.Mendrake

debs=("$build_dir"/mendrake_*_amd64.deb)
if [ ${#debs[@]} -ne 1 ] || [ ! -f "${debs[0]}" ]; then
  echo "check-package: expected one mendrake_*_amd64.deb in $build_dir" >&2
  exit 1
fi
deb=${debs[0]}

# The files as the package installs them.
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
dpkg-deb -x "$deb" "$unpacked"
echo "desktop-file-validate $app_id.desktop"
desktop-file-validate "$unpacked/usr/share/applications/$app_id.desktop"
echo "appstreamcli validate --no-net $app_id.metainfo.xml"
appstreamcli validate --no-net "$unpacked/usr/share/metainfo/$app_id.metainfo.xml"
echo "lintian --fail-on error $(basename "$deb")"
lintian --fail-on error --tag-display-limit 0 "$deb"
echo "check-package: $deb passed"
