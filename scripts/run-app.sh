#!/usr/bin/env bash
# Starts Mendrake's window: `make run` calls it with the program's path.
# Without a display the toolkit would stop with a cryptic message; say plainly
# what is needed instead.
set -euo pipefail

program="${1:-build/bin/mendrake}"

if [ ! -x "$program" ]; then
  echo "Mendrake is not built yet ($program is missing): run 'make build' first." >&2
  exit 1
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
  cat >&2 <<'MESSAGE'
Mendrake is a desktop program and needs a desktop session to show its window,
but this shell has no display (neither DISPLAY nor WAYLAND_DISPLAY is set).

  - Run `make run` from a terminal inside your desktop session, or
  - on a machine without a screen, start it in a virtual X server:
        xvfb-run -a make run
    (Debian package xvfb), or log in with `ssh -X` to forward the window.
MESSAGE
  exit 2
fi

exec "$program"
