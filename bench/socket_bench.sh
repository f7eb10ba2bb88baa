#!/usr/bin/env bash
# Throughput of TPowersock's SendFile and CaptureFile over loopback against a
# native copy with socat, in the same run, on the same 256 MB file.
#   bench/socket_bench.sh [WORK_DIR]        (default: build/bench-socket)
# Needs the test environment (run-tests.sh --bench: Xvfb, Wine prefix) and
# build/win64/bin/qvsock.exe. Each way runs RUNS times (default 3); the best
# time counts. The Wine side's time is the tool's own, from connect until the
# peer has everything (no process start-up); socat's is its wall time.
# Reported: MB/s of each, the ratio to socat, the tool's peak working set for a
# 16 MB and a 256 MB file (flat when files are streamed), the longest gap of
# a 10 ms window timer during the transfer, and the same transfers with a
# fixed 2 ms sleep per wait pass instead of waiting up to 2 ms for a message;
# then one-line Transaction round trips against an echoing socat, both ways of
# waiting, with a native Python client as the reference.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$root/build}
work=${1:-$build/bench-socket}
runs=${RUNS:-3}
tool="$build/${BENCH_BUILD:-win64}/bin/qvsock.exe"  # BENCH_BUILD: win64 (default) or win32
[ -f "$tool" ] || { echo "bench: $tool missing (make build-win64)" >&2; exit 2; }
command -v socat >/dev/null || { echo "bench: needs socat" >&2; exit 2; }
[ -n "${DISPLAY:-}" ] || { echo "bench: run inside the test environment (run-tests.sh --bench)" >&2; exit 2; }

mkdir -p "$work"
big="$work/src256.bin"; small="$work/src16.bin"; out="$work/out.bin"
[ -f "$big" ] || head -c $((256 << 20)) /dev/urandom >"$big"
[ -f "$small" ] || head -c $((16 << 20)) /dev/urandom >"$small"
port=5601
winpath() { local p; p=$(realpath -m "$1"); echo "Z:${p//\//\\}"; }
wine() { bash "$root/scripts/wine.sh" "$@"; }
listening() { for _ in $(seq 1 200); do ss -ltn "sport = :$1" | grep -q LISTEN && return 0; sleep 0.02; done; return 1; }
now() { date +%s.%N; }
field() { sed -n "s/.*\b$1=\([^ ]*\).*/\1/p"; }

# native: socat -> socat; prints seconds
native_copy() {
  rm -f "$out"
  socat -u TCP-LISTEN:$port,reuseaddr "OPEN:$out,creat,trunc" & local rx=$!
  listening $port
  local t0; t0=$(now)
  socat -u "OPEN:$1" TCP:127.0.0.1:$port
  wait $rx
  awk -v a="$t0" -v b="$(now)" 'BEGIN { printf "%.3f", b - a }'
  cmp -s "$1" "$out" || { echo "bench: socat copy differs" >&2; exit 1; }
}

# ours: qvsock send|recv FILE [flags]; prints the tool's line
ours() {
  local op=$1 file=$2; shift 2
  rm -f "$out"
  local line
  if [ "$op" = send ]; then
    socat -u TCP-LISTEN:$port,reuseaddr "OPEN:$out,creat,trunc" & local peer=$!
    listening $port
    line=$(wine "$tool" send 127.0.0.1 $port "$(winpath "$file")" "$@")
  else
    socat -u "OPEN:$file" TCP-LISTEN:$port,reuseaddr & local peer=$!
    listening $port
    line=$(wine "$tool" recv 127.0.0.1 $port "$(winpath "$out")" "$@")
  fi
  wait $peer
  cmp -s "$file" "$out" || { echo "bench: qvsock $op: content differs" >&2; exit 1; }
  echo "$line"
}

best_native() { local b=""; for _ in $(seq "$runs"); do local t; t=$(native_copy "$1");
  if [ -z "$b" ] || awk -v t="$t" -v b="$b" 'BEGIN { exit !(t < b) }'; then b=$t; fi; done; echo "$b"; }
best_ours() { local b="" bl=""; for _ in $(seq "$runs"); do local l t; l=$(ours "$@"); t=$(echo "$l" | field seconds);
  if [ -z "$b" ] || awk -v t="$t" -v b="$b" 'BEGIN { exit !(t < b) }'; then b=$t; bl=$l; fi; done; echo "$bl"; }

cat "$big" "$small" >/dev/null
mb=256
t_native=$(best_native "$big")
r_native=$(awk -v t="$t_native" -v m=$mb 'BEGIN { printf "%.1f", m / t }')
printf 'file: %s (%d MB)\n' "$big" $mb
printf '%-34s %8s %9s %8s %11s %9s\n' way seconds MB/s ratio peak_KB timer_gap
printf '%-34s %8s %9s %8s %11s %9s\n' "socat -> socat (native)" "$t_native" "$r_native" 1.00 - -
report() {
  local name=$1 line=$2 t
  t=$(echo "$line" | field seconds)
  printf '%-34s %8s %9s %8s %11s %8sms\n' "$name" "$t" "$(echo "$line" | field mbps)" \
    "$(awk -v t="$t" -v n="$t_native" 'BEGIN { printf "%.2f", n / t }')" \
    "$(echo "$line" | field peak_kb)" "$(echo "$line" | field worst_gap_ms)"
}
report "SendFile -> socat" "$(best_ours send "$big")"
report "socat -> CaptureFile" "$(best_ours recv "$big")"
report "SendFile, fixed 2 ms sleep" "$(best_ours send "$big" --sleep-wait)"
report "CaptureFile, fixed 2 ms sleep" "$(best_ours recv "$big" --sleep-wait)"
s16=$(ours send "$small" | field peak_kb); r16=$(ours recv "$small" | field peak_kb)
printf 'peak working set with a 16 MB file: SendFile %s KB, CaptureFile %s KB\n' "$s16" "$r16"
rm -f "$out"

# Round trips: COUNT Transactions ("NOOP i" echoed back) per second.
count=${ROUND_TRIPS:-2000}
chat() {
  socat TCP-LISTEN:$port,reuseaddr PIPE & local peer=$!
  listening $port
  "$@"
  wait $peer
}
native_chat() {
  python3 - $port "$count" <<'PY'
import socket, sys, time
s = socket.create_connection(("127.0.0.1", int(sys.argv[1])))
f = s.makefile("rb")
n = int(sys.argv[2]); t0 = time.perf_counter()
for i in range(n):
    s.sendall(b"NOOP %d\r\n" % i)
    assert f.readline() == b"NOOP %d\r\n" % i
print("%.0f" % (n / (time.perf_counter() - t0)))
PY
}
rt_msg=$(chat wine "$tool" chat 127.0.0.1 $port "$count" --no-timer | field per_second)
rt_sleep=$(chat wine "$tool" chat 127.0.0.1 $port "$count" --no-timer --sleep-wait | field per_second)
rt_native=$(chat native_chat)
printf 'Transaction round trips per second (%d): wait up to 2 ms for a message %s, fixed 2 ms sleep %s, native Python client %s\n' \
  "$count" "$rt_msg" "$rt_sleep" "$rt_native"
