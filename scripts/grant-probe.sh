#!/usr/bin/env bash
# Grants the built ombrix-probe the capabilities it needs, so that Ombrix sees kernel events
# without running as root. As root it runs setcap itself; otherwise it prints the one command
# to run. A probe that already holds them is left alone; a build without the probe is fine.
set -u
probe=$(readlink -f "${1:-build}/bin/ombrix-probe")
[ -x "$probe" ] || exit 0
caps=$("$probe" --capabilities) || exit 0
setcap -q -v "$caps" "$probe" 2>/dev/null && exit 0
if [ "$(id -u)" -eq 0 ]; then
  setcap "$caps" "$probe" || echo "Could not grant $probe its capabilities ($caps)." >&2
else
  echo "To let Ombrix see every file and connection of yours, run once after each build:" >&2
  echo "  sudo setcap $caps $probe" >&2
fi
exit 0
