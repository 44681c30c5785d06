#!/usr/bin/env bash
# ombrix-cli --serve scraped by a real Prometheus on loopback. A live scrape passes promtool's
# checks; after the engine has scraped it a few times, its answers for a process burning a
# processor and for a file written at a known rate agree with what the kernel says of them.
set -u
cli=$1
if ! command -v prometheus >/dev/null || ! command -v promtool >/dev/null; then
  echo "SKIP: prometheus and promtool are not installed (Debian package prometheus)"
  exit 77
fi
work=$(mktemp -d)
pids=()
trap 'kill "${pids[@]}" 2>/dev/null; wait 2>/dev/null; rm -rf "$work"' EXIT
fail() {
  echo "FAIL: $*"
  for f in cli.out cli.err prometheus.log; do
    echo "--- $f"
    tail -n 15 "$work/$f" 2>/dev/null
  done
  exit 1
}
now() { date +%s.%N; }
# Runs Python code with its arguments (in the foreground: what runs beside the test is
# started as python3 itself, so that its process id is the one to watch and to stop).
py() { python3 -c "$@"; }

cp "$cli" "$work/ombrix-cli"
for f in ports.txt ombrix-probe; do
  [ -e "$(dirname "$cli")/$f" ] && cp -p "$(dirname "$cli")/$f" "$work/"
done

# The workload, each part under a name of its own: a processor burned whole, and a file
# written at 1 MiB a second in flushed 64 KiB steps (so the disk writes are the writer's own,
# not the kernel's later write-back).
python3 -c 'open("/proc/self/comm", "w").write("ombrix-burn")
while True: pass' &
burner=$!
pids+=($burner)
python3 -c 'import os, sys, time
open("/proc/self/comm", "w").write("ombrix-write")
fd = os.open(sys.argv[1], os.O_WRONLY | os.O_CREAT | os.O_TRUNC, 0o644)
chunk = b"x" * 65536
next_at = time.monotonic()
while True:
    os.write(fd, chunk)
    os.fdatasync(fd)
    next_at += len(chunk) / 1048576
    time.sleep(max(0, next_at - time.monotonic()))' "$work/known.dat" &
pids+=($!)

"$work/ombrix-cli" --serve 127.0.0.1:0 --interval 1000 > "$work/cli.out" 2> "$work/cli.err" &
cli_pid=$!
pids+=($cli_pid)
for _ in $(seq 100); do grep -q '^Serving metrics at' "$work/cli.out" 2>/dev/null && break; sleep 0.1; done
port=$(sed -nE 's|^Serving metrics at http://127\.0\.0\.1:([0-9]+)/metrics$|\1|p' "$work/cli.out")
[ -n "$port" ] || fail "ombrix-cli did not say where it serves"

fetch() { py 'import sys, urllib.request
sys.stdout.write(urllib.request.urlopen(sys.argv[1], timeout=5).read().decode())' "$1"; }

# A live scrape, once the first sample is in, as the engine's own checker sees it.
for _ in $(seq 100); do
  fetch "http://127.0.0.1:$port/metrics" > "$work/scrape.txt" 2>/dev/null
  grep -q '^ombrix_samples_total ' "$work/scrape.txt" && break
  sleep 0.1
done
grep -q '^ombrix_processes{process="ombrix-burn"} 1$' "$work/scrape.txt" ||
  fail "no burner in the scrape: $(grep -c '' "$work/scrape.txt") lines"
lint=$(promtool check metrics < "$work/scrape.txt" 2>&1) || fail "promtool check metrics: $lint"

prom_port=$(py 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
cat > "$work/prometheus.yml" <<EOF
global:
  scrape_interval: 1s
  evaluation_interval: 1s
scrape_configs:
  - job_name: ombrix
    static_configs:
      - targets: ['127.0.0.1:$port']
EOF
prometheus --config.file="$work/prometheus.yml" --storage.tsdb.path="$work/data" \
  --web.listen-address="127.0.0.1:$prom_port" --log.level=warn > "$work/prometheus.log" 2>&1 &
pids+=($!)

# The value of the first series a query answers, or nothing.
query() {
  py 'import json, sys, urllib.parse, urllib.request
url = "http://127.0.0.1:%s/api/v1/query?%s" % (sys.argv[1], urllib.parse.urlencode({"query": sys.argv[2]}))
result = json.load(urllib.request.urlopen(url, timeout=5))["data"]["result"]
if result: print(result[0]["value"][1])' "$prom_port" "$1" 2>/dev/null
}
cpu_seconds() {
  local stat rest f
  stat=$(cat "/proc/$burner/stat")
  rest=${stat##*) }
  read -r -a f <<< "$rest"
  echo $(( f[11] + f[12] ))
}

# Two scrapes first; then what the kernel says from here to the queries.
# The engine can take a minute to start on a loaded machine: wait by the clock, not by tries.
deadline=$(($(date +%s) + 150))
while (($(date +%s) < deadline)); do
  [ "$(query 'count_over_time(ombrix_samples_total[1m])')" -ge 2 ] 2>/dev/null && break
  sleep 0.5
done
[ "$(query 'count_over_time(ombrix_samples_total[1m])')" -ge 2 ] 2>/dev/null ||
  fail "Prometheus did not scrape ombrix-cli twice in 150 s (up: $(query 'up'))"
[ "$(query 'up{job="ombrix"}')" = 1 ] || fail "the target is not up"
t0=$(now)
cpu0=$(cpu_seconds)
size0=$(stat -c %s "$work/known.dat")
for _ in $(seq 100); do
  [ "$(query 'count_over_time(ombrix_samples_total[1m])')" -ge 10 ] 2>/dev/null && break
  sleep 0.2
done
t1=$(now)
cpu1=$(cpu_seconds)
size1=$(stat -c %s "$work/known.dat")
window=$(py 'import sys; print(round(float(sys.argv[2]) - float(sys.argv[1])))' "$t0" "$t1")

# Processor: the counter's rate against the burner's own processor time. On a busy machine
# the burner gets less than a whole processor; the engine must say how much it got.
burn=$(query "rate(ombrix_process_cpu_seconds_total{process=\"ombrix-burn\"}[${window}s])")
[ -n "$burn" ] || fail "no processor rate for the burner"
kernel=$(py 'import os, sys
print((int(sys.argv[2]) - int(sys.argv[1])) / os.sysconf("SC_CLK_TCK") / (float(sys.argv[4]) - float(sys.argv[3])))' \
  "$cpu0" "$cpu1" "$t0" "$t1")
echo "processor: Prometheus $burn, kernel $kernel"
py 'import sys; a, b = map(float, sys.argv[1:]); sys.exit(abs(a - b) > 0.1 + 0.1 * b)' "$burn" "$kernel" ||
  fail "processor rate $burn, the kernel says $kernel"

# The file: the gauge of the last interval, averaged over the scrapes, against its growth.
file_query="ombrix_file_bytes_per_second{process=\"ombrix-write\",file=\"$work/known.dat\"}"
written=$(query "avg_over_time(${file_query}[${window}s])")
[ -n "$written" ] || fail "no file series: $(fetch "http://127.0.0.1:$port/metrics" | grep -m3 file_bytes)"
grown=$(py 'import sys; print((int(sys.argv[2]) - int(sys.argv[1])) / (float(sys.argv[4]) - float(sys.argv[3])))' \
  "$size0" "$size1" "$t0" "$t1")
echo "file: Prometheus $written B/s, grown $grown B/s"
py 'import sys; a, b = map(float, sys.argv[1:]); sys.exit(abs(a - b) > 0.2 * b or b < 1e5)' "$written" "$grown" ||
  fail "file rate $written B/s, the file grew at $grown B/s"

# The end of the session ends the server cleanly.
kill -TERM $cli_pid
wait $cli_pid || fail "ombrix-cli ended with $?"
echo "PASS"
