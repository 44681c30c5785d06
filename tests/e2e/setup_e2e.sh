#!/usr/bin/env bash
# Installs and uninstalls a small application with the real `setup` under a headless desktop,
# pressing through the pages with the keyboard as a user would, and checks what lands on disk.
# The installation folder already holds links to a file outside it, which must stay as it was.
#
#   setup_e2e.sh SETUP_PROGRAM GUI_SESSION_SCRIPT [SHOTS_DIR]
# SHOTS_DIR, when given, keeps one screenshot of each page.
set -uo pipefail
setup_bin=$1 gs=$2 shots=${3:-}
if [ ! -x "$gs" ]; then
  echo "SKIP: no headless desktop script at $gs (the shared tools folder belongs beside the repository)"
  exit 77
fi

work=$(mktemp -d -t setup-e2e.XXXXXX)
app="E2E Demo $$"
src=$work/src home=$work/home inst=$work/home/apps/$app
pids=()
session=

cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  [ -n "$session" ] && "$gs" stop >/dev/null 2>&1
  # The entry lives in the machine's key folder; take it away if a failure left it.
  [ -n "${keyfile:-}" ] && rm -f "$keyfile"
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "SETUP E2E FAIL: $*"; tail -n 5 "$work"/*.log 2>/dev/null; [ -n "$shots" ] && "$gs" screenshot "$shots/fail.png" >/dev/null 2>&1; exit 1; }
wait_for() {  # wait_for SECONDS COMMAND...: until the command succeeds
  local n=$(( $1 * 20 )); shift
  for _ in $(seq "$n"); do "$@" && return 0; sleep 0.05; done
  return 1
}
shot() { [ -n "$shots" ] && { sleep 0.3; "$gs" screenshot "$shots/$1.png" "$2" >/dev/null || true; }; }
# Keys go to the focused window: wait until the new window has the focus.
activate() {
  wait_for 5 sh -c "[ \"\$(xdotool getactivewindow 2>/dev/null)\" = $1 ]" && return 0
  xdotool windowactivate --sync "$1" >/dev/null 2>&1
}
gone() { ! kill -0 "$1" 2>/dev/null || grep -q '^[^ ]* ([^)]*) Z' "/proc/$1/stat" 2>/dev/null; }
# finish PID: Return on the last page until the program ends. On a slow machine the last step
# can still be running when the page is looked at; the button waits for it, and a user who sees
# nothing happen presses again.
finish() {
  local _
  for _ in 1 2 3; do
    xdotool key Return
    wait_for 5 gone "$1" && return 0
  done
  return 1
}
[ -n "$shots" ] && mkdir -p "$shots"

# The package: a program, a data file, a readme shipped compressed, a licence, the script.
mkdir -p "$src" "$home"
cp "$setup_bin" "$src/setup"
printf '#!/bin/sh\nexit 0\n' > "$src/demo"; chmod +x "$src/demo"
head -c 5000 /dev/urandom > "$src/data.bin"
seq 1 400 | sed 's/^/readme line /' > "$work/readme.txt"
cp "$work/readme.txt" "$src/readme.txt"
( cd "$src" && mscompress readme.txt ) || fail "mscompress"
rm "$src/readme.txt"; mv "$src/readme.txt_" "$src/readme.tx_"
echo "Use at will." > "$src/license.txt"
cat > "$src/setup.inf" <<INF
[Settings]
Name=$app
Company=Ombrix Tests
Directory=$home/apps/#APP_NAME
Exename=demo
Files=data.bin
OptionalFiles=readme.txt
LicenseFile=license.txt
ShortCuts=demo "#APP_NAME"
AddToStartup=YES
Url=https://example.org/
INF

# The folder holds links already, to files outside it: they must come out untouched.
echo "outside the installation" > "$work/marker"; chmod 600 "$work/marker"
cp -p "$work/marker" "$work/marker.orig"
mkdir -p "$inst"
ln -s "$work/marker" "$inst/data.bin"
ln -s "$work/marker" "$inst/readme.txt"

export HOME=$home
unset XDG_DATA_HOME XDG_CONFIG_HOME
# A session that fails to come up (a display taken meanwhile) gets one more try.
envs=$("$gs" start) || { sleep 1; envs=$("$gs" start); } || fail "session start"
eval "$envs"
session=1

# --- install ---
"$src/setup" >"$work/setup.log" 2>&1 &
pids+=($!); setup_pid=$!
win=$("$gs" wait-window "^$app Setup\$" 15) || fail "setup window did not appear"
activate "$win"
shot 1-welcome "$win"
for page in 2-directory 3-options 4-confirm; do
  xdotool key Return; shot "$page" "$win"
done
xdotool key Return   # Install
[ -n "$shots" ] && { sleep 0.5; "$gs" screenshot "$shots/4b-status.png" "$win" >/dev/null; }
if [ "$(id -u)" -eq 0 ] && [ -w /var/lib ]; then keys=/var/lib/ombrix/keys; else keys=$home/.local/share/ombrix/keys/machine; fi
entry_written() { grep -lq "DisplayName	s	" "$keys"/*.key 2>/dev/null && grep -l "E2E%20Demo%20$$" "$keys"/*.key >/dev/null 2>&1; }
wait_for 20 entry_written || fail "no uninstall entry in $keys"
keyfile=$(grep -l "E2E%20Demo%20$$" "$keys"/*.key | head -1)
sleep 0.6   # the last progress step
shot 5-complete "$win"
finish "$setup_pid" || fail "setup did not end on Finish"

cmp -s "$work/marker" "$work/marker.orig" || fail "the file behind a link was written"
[ "$(stat -c %a "$work/marker")" = 600 ] || fail "the file behind a link changed its mode"
[ ! -L "$inst/data.bin" ] && [ ! -L "$inst/readme.txt" ] || fail "a link was left in place"
cmp -s "$src/data.bin" "$inst/data.bin" || fail "data.bin differs"
cmp -s "$work/readme.txt" "$inst/readme.txt" || fail "readme.txt was not expanded"
cmp -s "$src/demo" "$inst/demo" || fail "demo differs"
cmp -s "$src/license.txt" "$inst/license.txt" || fail "licence missing"
cmp -s "$setup_bin" "$inst/uninstall.exe" || fail "uninstall.exe is not the installer"
cmp -s "$src/setup.inf" "$inst/setup.inf" || fail "setup.inf not beside the uninstaller"
menu="$home/.local/share/applications/$app/$app.desktop"
startup="$home/.config/autostart/$app.desktop"
[ -f "$menu" ] || fail "menu entry missing"
[ -f "$startup" ] || fail "startup entry missing"
if command -v desktop-file-validate >/dev/null; then
  desktop-file-validate "$menu" "$startup" || fail "desktop entries do not validate"
fi
grep -q "Exec=\"$inst/demo\"" "$menu" || fail "menu entry does not start the program"
grep -q "UninstallString	s	%22" "$keyfile" || fail "no UninstallString"

# --- uninstall ---
"$inst/uninstall.exe" >"$work/uninstall.log" 2>&1 &
pids+=($!); un_pid=$!
win=$("$gs" wait-window "^$app Uninstall\$" 15) || fail "uninstall window did not appear"
activate "$win"
shot 7-uninstall-welcome "$win"
xdotool key Return   # Uninstall
wait_for 20 sh -c "[ ! -e \"$keyfile\" ]" || fail "the entry was not removed"
sleep 0.8   # the closing lines
shot 8-uninstall-done "$win"
finish "$un_pid" || fail "uninstaller did not end on Exit"
[ ! -e "$inst" ] || fail "installation folder remains: $(ls -A "$inst")"
[ ! -e "$menu" ] && [ ! -e "$(dirname "$menu")" ] || fail "menu entry remains"
[ ! -e "$startup" ] || fail "startup entry remains"

# --- the error page: no script beside the program ---
mkdir -p "$work/empty" && cp "$setup_bin" "$work/empty/setup"
"$work/empty/setup" >/dev/null 2>&1 &
pids+=($!); err_pid=$!
win=$("$gs" wait-window '^Setup$' 15) || fail "error window did not appear"
activate "$win"
shot 6-error "$win"
finish "$err_pid" || fail "setup did not end on Exit"

echo "SETUP E2E PASS"
