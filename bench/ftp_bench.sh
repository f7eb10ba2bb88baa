#!/usr/bin/env bash
# Download speed of qvftp.exe (under Wine) against curl in the same mode, in
# the same run, from one vsftpd, on a 256 MB file, in active mode (qvftp -A,
# curl --ftp-port) and in passive mode (both tools' default: EPSV):
#   1. plain loopback, both modes;
#   2. a veth link into a second network namespace, shaped with a token-bucket
#      filter (RATE, default 50mbit) in both directions, active mode.
# Each tool downloads the file RUNS times (default 3); the output is checked
# against the original once per tool. Reported: median wall-clock throughput
# (the whole command: for qvftp.exe that includes starting the Wine process),
# median transfer throughput as each tool measures it (qvftp: from the data
# connection's set-up to the closing reply; curl: size / (total - pretransfer time)), their ratios
# (qvftp / curl), and the peak memory of qvftp.exe for a 16 MB and the 256 MB
# file (its own peak working set, and the Wine process's maximum RSS).
# Must run as root inside the test namespace: `make bench` does that.
#   bench/ftp_bench.sh [WORK_DIR]     (default: build/bench/ftp)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$root/build}
work=${1:-$build/bench/ftp}
runs=${RUNS:-3}
rate=${RATE:-50mbit}
size_mb=${SIZE_MB:-256}
ns=norvftpbench
. "$root/bench/lib/ftp-common.sh"
ftp_bench_prepare ftp_bench

mkdir -p "$work/out"
bench_files "$work/root" "$size_mb"
file=$work/root/bench.bin
bytes=$(stat -c %s "$file")
out=$work/out/bench.bin
winout="Z:${out//\//\\}"

# The vsftpd state folders sit under build/bench/, where the test runner's
# clean-up finds their pid files.
vs_lo=$build/bench/ftp-vsftpd-lo
vs_ns=$build/bench/ftp-vsftpd-ns
cleanup() {
  bash "$root/scripts/vsftpd.sh" stop "$vs_lo" 2>/dev/null || true
  bash "$root/scripts/vsftpd.sh" stop "$vs_ns" 2>/dev/null || true
  ip link del nfb0 2>/dev/null || true
  ip netns del "$ns" 2>/dev/null || true
  rm -f "$out"
}
trap cleanup EXIT


check() {  # the downloaded file against the original
  cmp -s "$out" "$file" || { echo "ftp_bench: $1 delivered a different file" >&2; exit 1; }
}

# run_qvftp HOST MODE -> "wall_seconds transfer_MBps"
run_qvftp() {
  rm -f "$out"
  local t0 t1 err mode=()
  [ "$2" = passive ] || mode=(-A)
  t0=$(date +%s.%N)
  # stderr into a file: through a pipe, the wait would also cover the second
  # or so that Wine's desktop process keeps it open after qvftp has ended.
  bash "$root/scripts/wine.sh" "$qvftp" get "${mode[@]}" "$1" /bench.bin "$winout" >/dev/null 2>"$work/qvftp.err" \
    || { echo "ftp_bench: qvftp failed: $(cat "$work/qvftp.err")" >&2; exit 1; }
  t1=$(date +%s.%N)
  err=$(cat "$work/qvftp.err")
  local r
  r=$(printf '%s\n' "$err" | tr '\r' '\n' | awk '/^[0-9]+ bytes +[0-9.]+ MB\/s/ {v=$3} END {print v}')
  echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}') $r"
}

# run_curl HOST MODE -> "wall_seconds transfer_MBps"
run_curl() {
  rm -f "$out"
  local t0 t1 w mode=()
  [ "$2" = passive ] || mode=(--ftp-port -)
  t0=$(date +%s.%N)
  w=$(curl -s "${mode[@]}" -o "$out" -w '%{time_total} %{time_pretransfer} %{size_download}' "ftp://$1/bench.bin") \
    || { echo "ftp_bench: curl failed" >&2; exit 1; }
  t1=$(date +%s.%N)
  echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}') $(echo "$w" | awk '{printf "%.1f", $3 / ($1 - $2) / 1e6}')"
}

measure() {  # measure LABEL HOST MODE
  local label=$1 host=$2 mode=$3 qw=() qt=() cw=() ct=()
  for i in $(seq "$runs"); do
    local res
    res=$(run_qvftp "$host" "$mode"); read -r w t <<< "$res"; [ "$i" -ne 1 ] || check qvftp; qw+=("$w"); qt+=("$t")
    res=$(run_curl "$host" "$mode"); read -r w t <<< "$res"; [ "$i" -ne 1 ] || check curl; cw+=("$w"); ct+=("$t")
  done
  report "$label" "$bytes" "$runs" "${qw[*]}" "${cw[*]}" "${qt[*]}" "${ct[*]}"
}

peak() {  # peak HOST REMOTE -> "working_set_bytes max_rss_kb"
  rm -f "$out"
  local err
  err=$(NORV_QVFTP_STATS=1 /usr/bin/time -f 'maxrss=%M' bash "$root/scripts/wine.sh" "$qvftp" get -A "$1" "$2" "$winout" 2>&1 >/dev/null)
  err=$(printf '%s\n' "$err" | tr -d '\r')
  echo "$(printf '%s\n' "$err" | sed -n 's/^peak_working_set=//p') $(printf '%s\n' "$err" | sed -n 's/^maxrss=//p')"
}

# --- 1. loopback --------------------------------------------------------------
bash "$root/scripts/vsftpd.sh" start "$vs_lo" 127.0.0.50 21 "$work/root"
measure "loopback, active mode" 127.0.0.50 active
measure "loopback, passive mode" 127.0.0.50 passive
res=$(peak 127.0.0.50 /small16.bin); read -r ws16 rss16 <<< "$res"
res=$(peak 127.0.0.50 /bench.bin); read -r ws256 rss256 <<< "$res"
echo "  peak memory of qvftp.exe: working set $((ws16 / 1024)) KiB for 16 MiB, $((ws256 / 1024)) KiB for $((bytes / 1048576)) MiB;"
echo "               Wine process max RSS $rss16 KiB for 16 MiB, $rss256 KiB for $((bytes / 1048576)) MiB"
bash "$root/scripts/vsftpd.sh" stop "$vs_lo"

# --- 2. shaped veth link into a second namespace --------------------------------
if ! shaped_link "$ns" nfb0 nfb1 198.18.77.1 198.18.77.2 "$rate" 64kb; then
  echo "shaped link: tc tbf is not available in this kernel; skipped"
  exit 0
fi
ip netns exec "$ns" bash "$root/scripts/vsftpd.sh" start "$vs_ns" 198.18.77.2 21 "$work/root"
measure "veth link shaped to $rate (tbf), active mode" 198.18.77.2 active
