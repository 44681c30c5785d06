#!/usr/bin/env bash
# The monitor on a desktop without a notification area: it shows its window instead of
# hiding, closing the window ends it with the log's stop record; a tray host that appears
# later takes the icon, and closing the window hides it to the tray again.
#
#   notray_e2e.sh OMBRIX_PROGRAM GUI_SESSION_SCRIPT [SHOTS_DIR]
set -uo pipefail
program=$1 gs=$2 shots=${3:-}
if [ ! -x "$gs" ]; then
  echo "SKIP: no headless desktop script at $gs (the shared tools folder belongs beside the repository)"
  exit 77
fi

work=$(mktemp -d -t notray-e2e.XXXXXX)
prog=$work/prog
pid= session= tray=

cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  [ -n "$tray" ] && kill "$tray" 2>/dev/null
  [ -n "$session" ] && "$gs" stop >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "NO-TRAY E2E FAIL: $*"
  tail -n 5 "$work/ombrix.out" "$prog/Ombrix.log" "$work/gs.err" "$work/session.err" 2>/dev/null
  [ -n "$shots" ] && "$gs" screenshot "$shots/notray-fail.png" >/dev/null 2>&1
  exit 1
}
wait_for() {  # wait_for SECONDS COMMAND...: until the command succeeds
  local n=$(($1 * 20))
  shift
  for _ in $(seq "$n"); do "$@" && return 0; sleep 0.05; done
  return 1
}
shot() { [ -n "$shots" ] && { sleep 0.3; "$gs" screenshot "$shots/$1.png" >/dev/null || true; }; }
gone() { ! kill -0 "$1" 2>/dev/null || grep -q '^[^ ]* ([^)]*) Z' "/proc/$1/stat" 2>/dev/null; }
shown() { xdotool search --onlyvisible --name '^Ombrix - Processes$' 2>/dev/null | head -n 1; }
is_shown() { [ -n "$(shown)" ]; }
is_hidden() { [ -z "$(shown)" ]; }
start_monitor() {
  (cd "$prog" && exec ./Ombrix >>"$work/ombrix.out" 2>&1) &
  pid=$!
  wait_for 10 is_shown || fail "the window did not show without a notification area"
  win=$(shown)
}
menu_open() {  # an override-redirect window of the program other than its tray icon
  local w
  for w in $(xdotool search --onlyvisible --classname '^Ombrix$' 2>/dev/null); do
    [ "$w" = "$icon" ] && continue
    xwininfo -id "$w" 2>/dev/null | grep -q 'Override Redirect State: yes' && return 0
  done
  return 1
}
about_gone() { ! xdotool search --onlyvisible --name '^About Ombrix$' >/dev/null 2>&1; }
close_window() {
  xdotool windowactivate --sync "$win" >/dev/null 2>&1
  xdotool key alt+F4  # the window manager's close
}
[ -n "$shots" ] && mkdir -p "$shots"

mkdir -p "$prog"
cp "$program" "$prog/" || fail "no program at $program"
[ -f "$(dirname "$program")/ports.txt" ] && cp "$(dirname "$program")/ports.txt" "$prog/"
source "$(dirname "$0")/desktop.sh"
start_desktop --tray none
printf 'leak:libdbus-1.so\n' >"$work/lsan.supp"
export LSAN_OPTIONS="suppressions=$work/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

# No tray: an ordinary window, which closing ends, with the stop record.
start_monitor
shot notray-window
close_window
wait_for 10 gone "$pid" || fail "closing the window did not end the program"
wait "$pid"
status=$?
pid=
[ "$status" = 0 ] || fail "the program ended with status $status"
tail -n 1 "$prog/Ombrix.log" | tr -d "\r" | grep -Eq "^[0-9:]+  Stop     $prog/Ombrix\$" ||
  fail "no stop record at the log's end after closing"

# Again, and a panel with a tray appears: the icon goes into it, closing hides the window.
start_monitor
cat >"$work/tint2rc" <<'RC'
panel_items = S
panel_size = 100% 32
panel_position = bottom left horizontal
systray_icon_size = 24
RC
tint2 -c "$work/tint2rc" </dev/null >"$work/tint2.log" 2>&1 &
tray=$!
icon=$("$gs" tray-icon Ombrix 2>>"$work/gs.err" | cut -d' ' -f1)
[ -n "$icon" ] || fail "no tray icon after the tray host appeared"
sleep 2.5  # the program looks for a tray host every two seconds
wait_for 8 about_gone || fail "the about window did not close itself"
close_window
wait_for 5 is_hidden || fail "closing did not hide the window to the tray"
gone "$pid" && fail "closing the window ended the program although a tray is there now"
shot notray-tray-later
# A tray just started can still be laying out its icons on a busy machine: try again. The
# menu takes the keyboard a moment after it maps; keys that came too early are sent again.
exit_from_menu() {
  local clicked= _
  for _ in 1 2 3; do
    "$gs" click-tray Ombrix 1 >/dev/null 2>>"$work/gs.err" && clicked=1 && break
    sleep 1
  done
  [ -n "$clicked" ] || fail "could not click the tray icon: $(cat "$work/gs.err")"
  wait_for 5 menu_open || fail "the tray menu did not open"
  sleep 0.3
  xdotool key Up Return  # Exit
  wait_for 10 gone "$pid"
}
exit_from_menu || { menu_open && xdotool key Escape; exit_from_menu; } || fail "Exit did not end the program"
wait "$pid"
pid=
tail -n 1 "$prog/Ombrix.log" | tr -d "\r" | grep -Eq "^[0-9:]+  Stop     $prog/Ombrix\$" ||
  fail "no stop record after Exit"
echo "NO-TRAY E2E PASS"
