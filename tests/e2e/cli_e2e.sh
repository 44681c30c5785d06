#!/usr/bin/env bash
# ombrix-cli on this machine: its own process is listed with a plausible working set, the
# disk and adapter views list the block-device mounts and the network interfaces the system
# shows, and with LogProcesses on the processes that end during the run are logged, with
# "  (partial)" exactly when their start was not observed.
set -u
cli=$1
ports=$(dirname "$cli")/ports.txt
work=$(mktemp -d)
trap 'kill $early $late 2>/dev/null; rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  echo "--- end of output"
  tail -n 20 "$work/out" 2>/dev/null
  exit 1
}

cp "$cli" "$work/ombrix-cli"
[ -f "$ports" ] && cp "$ports" "$work/"
probe=$(dirname "$cli")/ombrix-probe
[ -x "$probe" ] && cp "$probe" "$work/"
printf '[Settings]\nLogProcesses=True\n' > "$work/Ombrix.ini"

# A process already running when the monitor starts, and one it sees start.
sleep 300 & early=$!
"$work/ombrix-cli" --samples 6 --interval 1000 --stats > "$work/out" 2> "$work/err" &
cli_pid=$!
# The trace is started before the first sample is printed: only then is a start observable.
for _ in $(seq 100); do grep -q '^Tick:' "$work/out" 2>/dev/null && break; sleep 0.1; done
sleep 2 & late=$!
sleep 1.5
kill $early
wait $cli_pid || fail "ombrix-cli ended with $?"
wait $late 2>/dev/null

# As root, with the probe beside it, the kernel events come through the probe.
if [ -x "$probe" ] && [ "$(id -u)" -eq 0 ]; then
  grep -q '^Kernel events: backend probe,' "$work/out" ||
    fail "not on the probe: $(grep -m1 '^Kernel events' "$work/out")"
fi

# Its own row: name, then the working set column ("12,345 K") within reason.
row=$(grep -E '^ombrix-cli ' "$work/out" | tail -1)
[ -n "$row" ] || fail "ombrix-cli is not listed"
ws=$(sed -E 's/^ombrix-cli +[^ ]+ +[^ ]+ +([0-9,]+) K.*/\1/' <<<"$row" | tr -d ,)
[[ "$ws" =~ ^[0-9]+$ ]] && [ "$ws" -ge 1000 ] && [ "$ws" -le 2000000 ] ||
  fail "implausible working set '$ws' K in: $row"

# The four figures on one line after every sample, each named.
grep -Eq '^Processor: [0-9.]+%  Memory: [0-9.]+% \([0-9]+MB avail\)  Disk: [0-9.]+%  Network: [0-9.]+%$' \
  "$work/out" || fail "no labelled line of the four figures"

# Finished processes in the log, told apart by their ids.
log="$work/Ombrix.log"
grep -q "  Start    $work/ombrix-cli" "$log" || fail "no start record"
grep -q "  Stop     $work/ombrix-cli" "$log" || fail "no stop record"
line_of() { tr -d '\r' < "$log" | grep -B1 "ProcessId: $1," | head -1; }
[[ "$(line_of $early)" == *"  Process  sleep  (partial)" ]] ||
  fail "early process: '$(line_of $early)'"
late_line=$(line_of $late)
process_events=$(grep -oE 'process [0-9]+' "$work/out" | tail -1 | cut -d' ' -f2)
if [ "${process_events:-0}" -gt 0 ]; then
  [[ "$late_line" == *"  Process  sleep" ]] || fail "late process (start observed): '$late_line'"
else
  [[ "$late_line" == *"  Process  sleep  (partial)" ]] || fail "late process: '$late_line'"
fi

# Disks: the first mount point of every block device; adapters: /proc/net/dev without
# loopback.
"$work/ombrix-cli" --view disks --samples 1 --interval 300 > "$work/out" || fail "disks view"
expected=$(awk '{ split($3, d, ":"); mp = $5; gsub(/\\040/, " ", mp);
                 if (!seen[$3]++ && system("test -e /sys/dev/block/" $3) == 0) print mp }' \
             /proc/self/mountinfo | sort)
listed=$(awk 'NR > 2 && NF >= 6 && $1 != "Processor:" { print $1 }' "$work/out" | sort)
[ "$expected" == "$listed" ] || fail "disks: expected [$expected], listed [$listed]"

"$work/ombrix-cli" --view adapters --samples 1 --interval 300 > "$work/out" || fail "adapters"
expected=$(awk -F: 'NR > 2 { gsub(/ /, "", $1); print $1 }' /proc/net/dev |
           while read -r n; do
             flags=$(cat "/sys/class/net/$n/flags" 2>/dev/null || echo 0)
             (( (flags & 8) == 0 )) && echo "$n"
           done | sort)
listed=$(awk 'NR > 2 && NF == 6 && $1 != "Processor:" { print $1 }' "$work/out" | sort)
[ "$expected" == "$listed" ] || fail "adapters: expected [$expected], listed [$listed]"
echo "PASS"
