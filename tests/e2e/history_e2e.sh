#!/usr/bin/env bash
# The History view as a user meets it: a busy program runs for a few seconds, the History
# view shows the last ten minutes, a click where the program ran lists it first among that
# moment's processes by disk I/O, and Ctrl+C copies the moment, its time with it.
#
#   history_e2e.sh OMBRIX_PROGRAM GUI_SESSION_SCRIPT [SHOTS_DIR]
set -uo pipefail
program=$1 gs=$2 shots=${3:-}
if [ ! -x "$gs" ]; then
  echo "SKIP: no headless desktop script at $gs (the shared tools folder belongs beside the repository)"
  exit 77
fi
command -v xclip >/dev/null || { echo "SKIP: no xclip to read the clipboard with"; exit 77; }

work=$(mktemp -d -t history-e2e.XXXXXX)
prog=$work/prog
pid= session= busy=

cleanup() {
  [ -n "$busy" ] && kill "$busy" 2>/dev/null
  [ -n "$pid" ] && kill "$pid" 2>/dev/null
  [ -n "$session" ] && "$gs" stop >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "HISTORY E2E FAIL: $*"
  tail -n 5 "$work/ombrix.out" "$work/session.err" 2>/dev/null
  [ -n "$shots" ] && "$gs" screenshot "$shots/history-fail.png" >/dev/null 2>&1
  exit 1
}
wait_for() {  # wait_for SECONDS COMMAND...: until the command succeeds
  local n=$(($1 * 20))
  shift
  for _ in $(seq "$n"); do "$@" && return 0; sleep 0.05; done
  return 1
}
now_ms() { date +%s%3N; }
titled() { [ "$(xdotool getwindowname "$win" 2>/dev/null)" = "$1" ]; }
[ -n "$shots" ] && mkdir -p "$shots"

mkdir -p "$prog"
cp "$program" "$prog/" || fail "no program at $program"
[ -f "$(dirname "$program")/ports.txt" ] && cp "$(dirname "$program")/ports.txt" "$prog/"
printf '[Settings]\nInterval=1000\n' >"$prog/Ombrix.ini"
# Without a notification area the window shows from the start.
source "$(dirname "$0")/desktop.sh"
start_desktop --tray none
printf 'leak:libdbus-1.so\n' >"$work/lsan.supp"
export LSAN_OPTIONS="suppressions=$work/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
(cd "$prog" && exec ./Ombrix >"$work/ombrix.out" 2>&1) &
pid=$!
wait_for 10 sh -c "xdotool search --onlyvisible --name '^Ombrix - Processes\$' >/dev/null 2>&1" ||
  fail "the window did not show"
win=$(xdotool search --onlyvisible --name '^Ombrix - Processes$' | head -n 1)

# A busy program of a name of its own: it copies as fast as it can, so that it heads the
# processes by I/O however much processor time other work on a shared machine leaves it.
cp "$(command -v dd)" "$work/ombrix-busy"
busy_start=$(now_ms)
"$work/ombrix-busy" if=/dev/zero of=/dev/null bs=1M 2>/dev/null &
busy=$!
sleep 6
kill "$busy"
wait "$busy" 2>/dev/null
busy_end=$(now_ms) busy_pid=$busy busy=
sleep 1.5  # the tick after it ended is written too

# History, the sixth view button, after "Auto update" and the five views.
xdotool mousemove --window "$win" 208 13 click 1
wait_for 5 titled "Ombrix - History" || fail "the History button did not show the History view"
sleep 1.2  # a tick later, the chart runs up to now
[ -n "$shots" ] && "$gs" screenshot "$shots/history.png" "$win" >/dev/null

# The strips lie where the green band is; ten minutes across them, ending now.
import -window "$win" "$work/win.png" 2>/dev/null || fail "no picture of the window"
box=$(/usr/bin/convert "$work/win.png" -fill black +opaque 'rgb(218,242,218)' \
  -fill white -opaque 'rgb(218,242,218)' -format '%@' info: 2>/dev/null)
[[ $box =~ ^([0-9]+)x([0-9]+)\+([0-9]+)\+([0-9]+)$ ]] || fail "no green band drawn ($box)"
width=${BASH_REMATCH[1]} left=${BASH_REMATCH[3]} top=${BASH_REMATCH[4]}
# Late in the run, where its smoothed figures have grown.
aim=$((busy_end - 1500))
x=$(( left + width - (width * ($(now_ms) - aim) + 300000) / 600000 ))
# The click chooses the moment and ctrl+c copies it; on a slow machine the first copy can come
# before the click is handled: the clipboard is asked again a few times.
xdotool mousemove --window "$win" "$x" $((top + 10)) click 1
copied() {
  sleep 0.5
  xdotool key ctrl+c
  sleep 0.3
  xclip -o -selection clipboard >"$work/moment.txt" 2>/dev/null && [ -s "$work/moment.txt" ]
}
copied || copied || copied || fail "nothing copied from the History view: $(cat "$work/moment.txt" 2>/dev/null)"
[ -n "$shots" ] && "$gs" screenshot "$shots/history-moment.png" "$win" >/dev/null

# The moment's time lies within the run, and the busy program heads its disk I/O list.
moment=$(head -n 1 "$work/moment.txt" | cut -c1-19)
moment_ms=$(date -d "$moment" +%s%3N 2>/dev/null) || fail "no time on the copied moment: $(head -n 1 "$work/moment.txt")"
((moment_ms >= busy_start - 1000 && moment_ms <= busy_end + 2000)) ||
  fail "the moment clicked ($moment) is not when the program ran ($(date -d @$((busy_start / 1000)) +%T) to $(date -d @$((busy_end / 1000)) +%T))"
grep -m1 '^Disk  ' "$work/moment.txt" | grep -Eq "^Disk  ombrix-busy \[$busy_pid\]  [0-9,]+ K/s$" ||
  fail "the busy program does not head the disk I/O of $moment (it ran from $(date -d @$((busy_start / 1000)) +%T) to $(date -d @$((busy_end / 1000)) +%T)): $(cat "$work/moment.txt")"
[ "$(stat -c %a "$prog/Ombrix.history")" = 600 ] || fail "the history file is not the user's alone"

xdotool windowactivate --sync "$win" >/dev/null 2>&1
xdotool key alt+F4
wait_for 10 sh -c "! kill -0 $pid 2>/dev/null || grep -q ' Z ' /proc/$pid/stat" || fail "closing the window did not end the program"
wait "$pid"
status=$?
pid=
[ "$status" = 0 ] || fail "the program ended with status $status"
echo "HISTORY E2E PASS ($moment: $(grep -m1 '^Disk  ' "$work/moment.txt"))"
