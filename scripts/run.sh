#!/usr/bin/env bash
# Starts Ombrix from the build tree: the window program on a desktop, else the text front end.
set -eu
build=${1:-build}
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$build/bin/Ombrix" ]; then
  exec "$build/bin/Ombrix"
fi
if [ -z "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "No desktop session found: running the text front end in this terminal."
fi
exec "$build/bin/ombrix-cli"
