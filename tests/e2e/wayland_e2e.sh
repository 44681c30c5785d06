#!/usr/bin/env bash
# The monitor under a Wayland desktop whose panel is a StatusNotifier host (sway with
# waybar's tray), driven over D-Bus as the panel drives it: the icon registers with the
# watcher and exports its menu, activating it opens the menu in a small floating window
# (a screenshot shows it), and the exported menu's "Exit" ends the program with the log's
# stop record. sway does not run as root: the session script runs it, and the monitor, as
# an unprivileged user then.
#
#   wayland_e2e.sh OMBRIX_PROGRAM WL_SESSION_SCRIPT [SHOTS_DIR]
set -uo pipefail
program=$1 wl=$2 shots=${3:-}
if [ ! -x "$wl" ]; then
  echo "SKIP: no Wayland session script at $wl (the shared tools folder belongs beside the repository)"
  exit 77
fi
for tool in sway waybar grim dbus-daemon; do
  command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed (make deps)"; exit 77; }
done

work=$(mktemp -d -t wayland-e2e.XXXXXX)
chmod 755 "$work"
prog=$work/prog
session= runner=

cleanup() {
  [ -n "$session" ] && "$wl" stop >/dev/null 2>&1
  [ -n "$runner" ] && wait "$runner" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "WAYLAND E2E FAIL: $*"
  tail -n 40 "$work/ombrix.out" 2>/dev/null
  tail -n 5 "$prog/Ombrix.log" "$work/session.err" 2>/dev/null
  [ -n "$shots" ] && [ -n "$session" ] && "$wl" screenshot "$shots/wayland-fail.png" >/dev/null 2>&1
  exit 1
}
wait_for() {  # wait_for SECONDS COMMAND...: until the command succeeds
  local n=$(($1 * 10))
  shift
  for _ in $(seq "$n"); do "$@" && return 0; sleep 0.1; done
  return 1
}
# The program's toplevel windows as "name floating|tiled x y width height".
windows() {
  "$wl" run sh -c 'SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.* | head -n 1) swaymsg -t get_tree -r' |
    python3 -c 'import json, sys
def walk(n, floating):
    if n.get("type") in ("con", "floating_con") and n.get("name") and not n.get("nodes"):
        r = n["rect"]
        print(n["name"], "floating" if floating else "tiled", r["x"], r["y"], r["width"], r["height"])
    for c in n.get("nodes", []): walk(c, floating)
    for c in n.get("floating_nodes", []): walk(c, True)
walk(json.load(sys.stdin), False)'
}
menu_window() { windows | grep -E '^Ombrix (floating|tiled) ' | head -n 1; }
has_menu_window() { [ -n "$(menu_window)" ]; }
item() { "$wl" items | head -n 1; }
has_item() { [ -n "$(item)" ]; }
[ -n "$shots" ] && mkdir -p "$shots"

mkdir -p "$prog"
cp "$program" "$prog/" || fail "no program at $program"
[ -f "$(dirname "$program")/ports.txt" ] && cp "$(dirname "$program")/ports.txt" "$prog/"
# The session's user keeps its settings and log beside the program, as any user would.
[ "$(id -u)" = 0 ] && chown -R nobody "$prog"
session_env=$("$wl" start 2>"$work/session.err") || fail "no Wayland session: $(cat "$work/session.err")"
eval "$session_env"
session=1
# Under LeakSanitizer: what the toolkit's D-Bus and Wayland libraries keep to the end (their
# connections, decoration plugins and interface tables) is not the program's to free; full
# stacks are needed to tell them by their library.
printf 'leak:libdbus-1.so\nleak:libwayland-client.so\nleak:libQt6WaylandClient.so\nleak:libQt6DBus.so\n' >"$work/lsan.supp"
chmod 644 "$work/lsan.supp"
"$wl" run env LSAN_OPTIONS="suppressions=$work/lsan.supp" ASAN_OPTIONS=fast_unwind_on_malloc=0 "$prog/Ombrix" >"$work/ombrix.out" 2>&1 &
runner=$!

wait_for 15 has_item || fail "the icon did not register with the StatusNotifier watcher"
it=$(item)
menu=$("$wl" item-prop "$it" Menu)
[[ $menu == *'"/MenuBar"'* ]] || fail "no menu exported to the panel (Menu is $menu)"
# The first sample puts the four figures into the icon's tip.
tip_has_figures() { [[ $("$wl" item-prop "$it" ToolTip) == *'CPU: '*'Net: '* ]]; }
wait_for 10 tip_has_figures || fail "the icon's tip has no figures: $("$wl" item-prop "$it" ToolTip)"
layout() {
  "$wl" run dbus-send --session --print-reply --dest="${it%%/*}" /MenuBar \
    com.canonical.dbusmenu.GetLayout int32:0 int32:-1 array:string:label
}
layout >"$work/layout" || fail "the exported menu does not answer"
for label in Help About 'Settings...' Exit; do
  grep -qF "string \"$label" "$work/layout" || fail "the exported menu has no \"$label\""
done

# A left click on the panel icon: the menu opens, in a small window the compositor floats.
"$wl" activate "$it" || fail "Activate was refused"
wait_for 5 has_menu_window || fail "activating the icon opened no menu"
read -r _ kind x y w h <<<"$(menu_window)"
[ "$kind" = floating ] && ((w < 600 && h < 600)) || fail "the menu is no small floating window: $kind ${w}x$h"
shot=$work/menu.png
# The menu is light on the dark desktop, and its captions carry the figures now. A window just
# mapped may not be painted yet on a busy machine: look again for a few seconds.
for _ in $(seq 10); do
  "$wl" screenshot "$shot" || fail "no screenshot"
  bright=$(/usr/bin/convert "$shot" -crop "$((w - 20))x$((h - 40))+$((x + 10))+$((y + 30))" \
    -colorspace Gray -format '%[fx:mean]' info:)
  python3 -c "import sys; sys.exit(0 if $bright > 0.7 else 1)" && break
  sleep 0.3
done
[ -n "$shots" ] && cp "$shot" "$shots/wayland-menu.png"
python3 -c "import sys; sys.exit(0 if $bright > 0.7 else 1)" || fail "no menu to be seen (brightness $bright)"
layout >"$work/layout"
grep -q 'string "Processor: [0-9.]*%"' "$work/layout" && grep -q 'string "Interval: [1-9]' "$work/layout" ||
  fail "the exported menu's captions have no figures"

# The panel's "Exit", as a click on the menu it draws, ends the program with the stop record.
# Each item is its id (int32) followed by its properties, the label among them.
exit_id=$(awk '/^ *int32 [0-9]+$/ { id = $2 } /string "Exit"$/ { print id; exit }' "$work/layout")
[ -n "$exit_id" ] || fail "no id for Exit in the exported menu"
"$wl" run dbus-send --session --print-reply --dest="${it%%/*}" /MenuBar com.canonical.dbusmenu.Event \
  "int32:$exit_id" string:clicked variant:int32:0 uint32:0 >/dev/null || fail "the menu refused the click"
wait "$runner"
status=$?
runner=
[ "$status" = 0 ] || fail "the program ended with status $status"
tail -n 1 "$prog/Ombrix.log" | tr -d "\r" | grep -Eq "^[0-9:]+  Stop     $prog/Ombrix\$" ||
  fail "no stop record at the log's end"
echo "WAYLAND E2E PASS"
