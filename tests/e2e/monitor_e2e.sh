#!/usr/bin/env bash
# Drives the monitor under a headless desktop as a user would: the tray icon's menu opens
# the window on the Processes view sorted by Processor, the view buttons switch views, the
# settings dialog changes the interval, and Exit ends the program with the log's stop record.
#
#   monitor_e2e.sh OMBRIX_PROGRAM GUI_SESSION_SCRIPT [SHOTS_DIR]
# SHOTS_DIR, when given, keeps screenshots of the menu, each view and the dialog.
set -uo pipefail
program=$1 gs=$2 shots=${3:-}
if [ ! -x "$gs" ]; then
  echo "SKIP: no headless desktop script at $gs (the shared tools folder belongs beside the repository)"
  exit 77
fi

work=$(mktemp -d -t monitor-e2e.XXXXXX)
prog=$work/prog
pid=
session= new_tray=

cleanup() {
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  [ -n "$new_tray" ] && kill "$new_tray" 2>/dev/null
  [ -n "$session" ] && "$gs" stop >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "MONITOR E2E FAIL: $*"
  tail -n 25 "$work/ombrix.out" "$prog/Ombrix.log" "$work/gs.err" "$work/session.err" 2>/dev/null
  [ -n "$shots" ] && "$gs" screenshot "$shots/fail.png" >/dev/null 2>&1
  exit 1
}
wait_for() {  # wait_for SECONDS COMMAND...: until the command succeeds
  local n=$(($1 * 20))
  shift
  for _ in $(seq "$n"); do "$@" && return 0; sleep 0.05; done
  return 1
}
shot() { [ -n "$shots" ] && { sleep 0.3; "$gs" screenshot "$shots/$1.png" ${2:-} >/dev/null || true; }; }
gone() { ! kill -0 "$1" 2>/dev/null || grep -q '^[^ ]* ([^)]*) Z' "/proc/$1/stat" 2>/dev/null; }
visible() { xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }
menu_open() {  # an override-redirect window of the program other than its tray icon
  local w
  for w in $(xdotool search --onlyvisible --classname '^Ombrix$' 2>/dev/null); do
    [ "$w" = "$icon" ] && continue
    xwininfo -id "$w" 2>/dev/null | grep -q 'Override Redirect State: yes' && return 0
  done
  return 1
}
# The session script's window search now and then gives up at once while windows come and
# go; it is asked again within its own time limit.
retry() {
  local n
  for n in 1 2 3 4 5; do "$@" && return 0; sleep 0.2; done
  return 1
}
open_menu() {  # open_menu WHAT: the menu opened for what
  local n
  # A click that lands while the desktop is still busy with the last window change is
  # sometimes lost on a loaded machine; a user clicks again, and so does the test, once.
  for n in 1 2; do
    retry "$gs" click-tray Ombrix 1 >/dev/null || fail "could not click the tray icon (${1:-})"
    # Shown is not yet listening: the menu takes the keyboard a moment after it maps.
    wait_for 3 menu_open && { sleep 0.3; return 0; }
  done
  fail "the tray menu did not open on a left click (${1:-})"
}
# pick WHAT KEYS COMMAND...: opens the menu, chooses an item by its keys, and waits for the
# command to succeed. Under a sanitizer on a loaded machine the keys can reach the menu before
# it has the keyboard; a user who sees nothing happen tries again, and so does the test, once.
pick() {
  local what=$1 keys=$2 attempt
  shift 2
  for attempt in 1 2; do
    open_menu "$what"
    # shellcheck disable=SC2086 # the keys are words
    xdotool key $keys
    wait_for 8 "$@" && return 0
    menu_open && xdotool key Escape
  done
  return 1
}
# The strongly blue pixels of the window's grid (the sort column's figures and title) as
# the bounding box "WxH+X+Y", or empty when there are none.
blue_box() {
  import -window "$1" "$work/win.png" 2>/dev/null || return
  /usr/bin/convert "$work/win.png" -crop 2000x2000+0+28 +repage \
    -fx '(b>0.55 && r<0.35 && g<0.35)?1:0' -format '%@' info: 2>/dev/null
}
[ -n "$shots" ] && mkdir -p "$shots"

# A copy of the program folder, so that its settings file and log land in it.
# What the program ships beside it; not the settings or log of earlier runs.
mkdir -p "$prog"
# The program and what it reads beside it; its own files (ini, log, trace) start afresh.
cp "$program" "$prog/"
[ -f "$(dirname "$program")/ports.txt" ] && cp "$(dirname "$program")/ports.txt" "$prog/"
[ -x "$prog/Ombrix" ] || fail "no program at $program"

source "$(dirname "$0")/desktop.sh"
start_desktop
# Under LeakSanitizer: the D-Bus library keeps a buffer of the toolkit's session bus
# connection to the end; that is not the program's to free.
printf 'leak:libdbus-1.so\n' >"$work/lsan.supp"
export LSAN_OPTIONS="suppressions=$work/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
(cd "$prog" && exec ./Ombrix >"$work/ombrix.out" 2>&1) &
pid=$!

icon=$(retry "$gs" tray-icon Ombrix 2>>"$work/gs.err" | cut -d' ' -f1)
[ -n "$icon" ] || fail "no tray icon"
# The about window greets the user and goes away by itself after four seconds.
wait_for 5 visible '^About Ombrix$' || fail "no about window at start"
shot about
wait_for 8 sh -c "! xdotool search --onlyvisible --name '^About Ombrix\$' >/dev/null 2>&1" ||
  fail "the about window did not close itself"

# "Processor usage" (the third item) opens the window on the Processes view.
open_menu 'Processor usage'
shot menu
xdotool key Down Down Down Return
wait_for 8 visible '^Ombrix - Processes$' || {
  menu_open && xdotool key Escape
  pick 'Processor usage' 'Down Down Down Return' visible '^Ombrix - Processes$'
} || fail "Processor usage did not open the Processes view"
win=$("$gs" wait-window '^Ombrix - Processes$') || fail "the Processes view went away"
wait_for 5 sh -c "[ \"\$(xdotool getactivewindow 2>/dev/null)\" = $win ]" || fail "the window has no focus"
shot processes "$win"
# Sorted by Processor: the blue sort colour lies in the second column only.
# The window may map before its first paint with figures: the box is looked for again a while.
drawn() { box=$(blue_box "$win"); [[ $box =~ ^([1-9][0-9]*)x[0-9]+\+([0-9]+)\+ ]]; }
wait_for 5 drawn || fail "no sort column drawn (blue box '$box')"
left=${BASH_REMATCH[2]} right=$((BASH_REMATCH[2] + BASH_REMATCH[1]))
# Columns: 30 pixels spare, then two units for the name and one for each of the other ten.
unit=$(( ($(xwininfo -id "$win" | awk '/^ *Width:/ {print $2}') - 30) / 12 ))
((left > 2 * unit && right <= 3 * unit)) || fail "the sort colour is not in the Processor column ($box, unit $unit)"
# Opened at the tray: its frame's bottom edge two pixels above the panel (the work area
# ends at 768), inside the screen.
frame_placed() {  # frame_placed [WINDOW]
  local geo x y h bottom
  geo=$(xwininfo -id "${1:-$win}") || return 1
  x=$(awk '/Absolute upper-left X/ {print $4}' <<<"$geo")
  y=$(awk '/Absolute upper-left Y/ {print $4}' <<<"$geo")
  h=$(awk '/^ *Height:/ {print $2}' <<<"$geo")
  bottom=$(xprop -id "${1:-$win}" _NET_FRAME_EXTENTS | awk -F', *' '{print $4}')
  [ -n "$bottom" ] && ((y + h + bottom == 766 && x >= 0))
}
wait_for 5 frame_placed || fail "window not placed above the panel: $(xwininfo -id "$win" | grep -E 'Absolute|Width|Height' | tr -s ' \n' ' ')"

# The view buttons follow "Auto update" in the tool bar.
for view in Disks:106 Files:131 Adapters:157 Sockets:183 Processes:80; do
  name=${view%%:*} x=${view##*:}
  xdotool mousemove --window "$win" "$x" 13 click 1
  wait_for 5 sh -c "[ \"\$(xdotool getwindowname $win)\" = 'Ombrix - $name' ]" ||
    fail "the $name button did not switch the view"
  [ "$name" = Processes ] || shot "${name,,}" "$win"
done

# Another program's window covers the monitor's; a tray click brings the monitor forward.
xmessage -geometry 900x700+0+0 "another program" >/dev/null 2>&1 &
cover=$!
wait_for 5 sh -c "xdotool search --onlyvisible --class '^Xmessage$' >/dev/null 2>&1" || fail "no covering window"
xdotool windowactivate --sync "$(xdotool search --onlyvisible --class '^Xmessage$' | head -n 1)" >/dev/null 2>&1
open_menu 'over another window'
xdotool key Escape
wait_for 5 sh -c "[ \"\$(xdotool getactivewindow 2>/dev/null)\" = $win ]" ||
  fail "a tray click did not bring the shown window forward"
kill "$cover"
wait_for 5 sh -c "! xdotool search --onlyvisible --class '^Xmessage\$' >/dev/null 2>&1" ||
  fail "the covering window did not go"

# Settings: the interval to 1000 and OK; the settings file beside the program has it.
pick 'Settings' 'Up Up Return' visible '^Ombrix Settings$' || fail "Settings... did not open the dialog"
dlg=$("$gs" wait-window '^Ombrix Settings$') || fail "the dialog went away"
wait_for 5 sh -c "[ \"\$(xdotool getactivewindow 2>/dev/null)\" = $dlg ]" || fail "the dialog has no focus"
# The tray menu still answers while the dialog is open; "Settings..." brings the same
# dialog forward rather than a second one.
open_menu 'with the dialog open'
xdotool key Up Up Return
wait_for 5 sh -c "[ \"\$(xdotool getactivewindow 2>/dev/null)\" = $dlg ]" ||
  fail "Settings... with the dialog open did not bring it forward"
[ "$(xdotool search --onlyvisible --name '^Ombrix Settings$' | wc -l)" = 1 ] ||
  fail "a second settings dialog opened"
wait_for 5 frame_placed "$dlg" || fail "dialog not placed above the panel: $(xwininfo -id "$dlg" | grep -E 'Absolute|Width|Height' | tr -s ' \n' ' ')"
shot settings
xdotool key End BackSpace BackSpace BackSpace BackSpace BackSpace BackSpace
xdotool type --delay 20 1000
xdotool key Return
wait_for 5 sh -c "! xdotool search --onlyvisible --name '^Ombrix Settings\$' >/dev/null 2>&1" ||
  fail "OK did not close the dialog"
grep -qx 'Interval=1000' "$prog/Ombrix.ini" || fail "the settings file has no Interval=1000"

# Always on top: the window stays above others, and the settings dialog still opens above it.
pick 'Settings again' 'Up Up Return' visible '^Ombrix Settings$' ||
  fail "Settings... did not open the dialog again"
dlg=$("$gs" wait-window '^Ombrix Settings$') || fail "the dialog went away"
xdotool mousemove --window "$dlg" 20 228 click 1  # "Keep the main Ombrix window always on top."
xdotool key Return
# Changing the window's flags gives it a new native window.
on_top() {
  win=$(xdotool search --onlyvisible --name '^Ombrix - ' 2>/dev/null | head -n 1)
  [ -n "$win" ] && xprop -id "$win" _NET_WM_STATE 2>/dev/null | grep -q _NET_WM_STATE_ABOVE
}
wait_for 5 on_top || fail "always on top did not put the window above the others"
pick 'with the window on top' 'Up Up Return' visible '^Ombrix Settings$' ||
  fail "Settings... did not open the dialog with the window on top"
dlg=$("$gs" wait-window '^Ombrix Settings$') || fail "the dialog went away"
stacked_above() {  # stacked_above UPPER LOWER: by the window manager's stacking order
  local order
  order=$(xprop -root _NET_CLIENT_LIST_STACKING | tr -d ',' | tr ' ' '\n' | grep '^0x' | nl -ba)
  local up low
  up=$(awk -v id="$(printf '0x%x' "$1")" '$2 == id {print $1}' <<<"$order")
  low=$(awk -v id="$(printf '0x%x' "$2")" '$2 == id {print $1}' <<<"$order")
  [ -n "$up" ] && [ -n "$low" ] && ((up > low))
}
wait_for 5 stacked_above "$dlg" "$win" || fail "the dialog opened below the window kept on top"
shot settings-on-top
xdotool key Escape
wait_for 5 sh -c "! xdotool search --onlyvisible --name '^Ombrix Settings\$' >/dev/null 2>&1" ||
  fail "Escape did not close the dialog"

# Minimising hides the window to the tray too; "Memory usage" brings it back.
xdotool windowminimize "$win"
wait_for 5 sh -c "! xdotool search --onlyvisible --name '^Ombrix - ' >/dev/null 2>&1" ||
  fail "minimising did not hide the window"
pick 'Memory usage' 'Down Down Down Down Return' visible '^Ombrix - Processes$' ||
  fail "Memory usage did not show the window again"
win=$(xdotool search --onlyvisible --name '^Ombrix - Processes$' | head -n 1)

# The close box hides the window to the tray; the program goes on.
xdotool windowactivate --sync "$win" >/dev/null 2>&1
xdotool key alt+F4  # the window manager's close
wait_for 5 sh -c "! xdotool search --onlyvisible --name '^Ombrix - ' >/dev/null 2>&1" ||
  fail "the close box did not hide the window"
gone "$pid" && fail "closing the window ended the program"

# The panel restarts: the icon comes back in the new one, and its menu still works.
if [ -f "$GUI_SESSION_DIR/tray.pid" ] && [ -f "$GUI_SESSION_DIR/tint2rc" ]; then
  old_tray=$(cat "$GUI_SESSION_DIR/tray.pid")
  kill "$old_tray" 2>/dev/null
  wait_for 5 gone "$old_tray" || fail "the panel did not stop"
  tint2 -c "$GUI_SESSION_DIR/tint2rc" </dev/null >"$work/tint2.log" 2>&1 &
  new_tray=$!
  icon=$(retry "$gs" tray-icon Ombrix 2>>"$work/gs.err" | cut -d' ' -f1)
  [ -n "$icon" ] || fail "the icon did not come back after the panel restarted"
  shot tray-again
fi

# Exit, the last item, ends the program with the stop record in the log.
pick 'Exit' 'Up Return' gone "$pid" || fail "Exit did not end the program"
wait "$pid"
status=$?
pid=
[ "$status" = 0 ] || fail "the program ended with status $status"
tr -d "\r" <"$prog/Ombrix.log" | grep -Eq "^[0-9:]+  Start    $prog/Ombrix\$" || fail "no start record in the log"
tail -n 1 "$prog/Ombrix.log" | tr -d "\r" | grep -Eq "^[0-9:]+  Stop     $prog/Ombrix\$" || fail "no stop record at the log's end"
echo "MONITOR E2E PASS"
