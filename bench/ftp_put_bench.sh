#!/usr/bin/env bash
# Upload speed of qvftp.exe put (under Wine) against curl -T in the same mode,
# in the same run, to one vsftpd on loopback, with a 256 MB file: in active
# mode (qvftp -A, curl --ftp-port) and in passive mode (both tools' default).
# Each tool uploads the file RUNS times (default 3); the stored file is
# checked against the original once per tool. Reported: median wall-clock
# throughput (the whole command: for qvftp.exe that includes starting the
# Wine process), median transfer throughput as each tool measures it (qvftp:
# from the data connection's set-up to the closing reply; curl: size / (total - pretransfer time)),
# their ratios (qvftp / curl), and the peak memory of qvftp.exe for a 16 MB
# and the 256 MB file.
# Must run as root inside the test namespace: `make bench` does that.
#   bench/ftp_put_bench.sh [WORK_DIR]     (default: build/bench/ftp_put)
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$root/build}
work=${1:-$build/bench/ftp_put}
runs=${RUNS:-3}
size_mb=${SIZE_MB:-256}
addr=127.0.0.51
. "$root/bench/lib/ftp-common.sh"
ftp_bench_prepare ftp_put_bench

mkdir -p "$work/src" "$work/root"
file=$work/src/bench.bin
random_file "$file" "$size_mb"
head -c $((16 * 1048576)) "$file" > "$work/src/small16.bin"
bytes=$(stat -c %s "$file")
winfile="Z:${file//\//\\}"
stored=$work/root/incoming/up.bin

# The vsftpd state folder sits under build/bench/, where the test runner's
# clean-up finds its pid file.
vs=$build/bench/ftp-put-vsftpd
cleanup() {
  bash "$root/scripts/vsftpd.sh" stop "$vs" 2>/dev/null || true
  rm -f "$stored"
}
trap cleanup EXIT


check() {  # the stored file against the original
  cmp -s "$stored" "$file" || { echo "ftp_put_bench: $1 stored a different file" >&2; exit 1; }
}

# run_qvftp MODE -> "wall_seconds transfer_MBps"
run_qvftp() {
  rm -f "$stored"
  local t0 t1 err r mode=()
  [ "$1" = passive ] || mode=(-A)
  t0=$(date +%s.%N)
  # stderr into a file: through a pipe, the wait would also cover the second
  # or so that Wine's desktop process keeps it open after qvftp has ended.
  bash "$root/scripts/wine.sh" "$qvftp" put "${mode[@]}" "$addr" "$winfile" incoming/up.bin >/dev/null 2>"$work/qvftp.err" \
    || { echo "ftp_put_bench: qvftp failed: $(cat "$work/qvftp.err")" >&2; exit 1; }
  t1=$(date +%s.%N)
  err=$(cat "$work/qvftp.err")
  r=$(printf '%s\n' "$err" | tr '\r' '\n' | awk '/^[0-9]+ bytes +[0-9.]+ MB\/s/ {v=$3} END {print v}')
  echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}') $r"
}

# run_curl MODE -> "wall_seconds transfer_MBps"
run_curl() {
  rm -f "$stored"
  local t0 t1 w mode=()
  [ "$1" = passive ] || mode=(--ftp-port -)
  t0=$(date +%s.%N)
  w=$(curl -s "${mode[@]}" -T "$file" -w '%{time_total} %{time_pretransfer} %{size_upload}' \
        "ftp://$addr/incoming/up.bin") || { echo "ftp_put_bench: curl failed" >&2; exit 1; }
  t1=$(date +%s.%N)
  echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}') $(echo "$w" | awk '{printf "%.1f", $3 / ($1 - $2) / 1e6}')"
}

peak() {  # peak LOCAL-FILE -> "working_set_bytes"
  rm -f "$stored"
  local err
  err=$(NORV_QVFTP_STATS=1 bash "$root/scripts/wine.sh" "$qvftp" put -A "$addr" "Z:${1//\//\\}" incoming/up.bin 2>&1 >/dev/null)
  printf '%s\n' "$err" | tr -d '\r' | sed -n 's/^peak_working_set=//p'
}

bash "$root/scripts/vsftpd.sh" start "$vs" "$addr" 21 "$work/root"
for mode in active passive; do
  qw=() qt=() cw=() ct=()
  for i in $(seq "$runs"); do
    res=$(run_qvftp "$mode"); read -r w t <<< "$res"; [ "$i" -ne 1 ] || check qvftp; qw+=("$w"); qt+=("$t")
    res=$(run_curl "$mode"); read -r w t <<< "$res"; [ "$i" -ne 1 ] || check curl; cw+=("$w"); ct+=("$t")
  done
  report "upload, loopback, $mode mode" "$bytes" "$runs" "${qw[*]}" "${cw[*]}" "${qt[*]}" "${ct[*]}"
done
ws16=$(peak "$work/src/small16.bin")
ws256=$(peak "$file")
echo "  peak working set of qvftp.exe: $((ws16 / 1024)) KiB for 16 MiB, $((ws256 / 1024)) KiB for $((bytes / 1048576)) MiB"
