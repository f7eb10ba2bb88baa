#!/usr/bin/env bash
# Transfers against the platform's limit: qvftp.exe (the FTP client
# component, under Wine) against ftploop.exe (a bare blocking-Winsock FTP
# client of ours under the same Wine: the fastest any Win32 program gets here)
# and against curl (native), in the same run, from one vsftpd, on the same
# file: download (get) and upload (put), active mode (qvftp -A, ftploop -A,
# curl --ftp-port) and passive mode (EPSV), for each build in BENCH_BUILDS
# (default "win32 win64": the 32-bit product and the 64-bit build).
#   1. loopback;
#   2. a veth link into a namespace of its own, shaped with a token-bucket
#      filter to RATE (default 1gbit) in both directions (modes: SHAPED_MODES,
#      default "active passive").
# Each tool moves the file RUNS times (default 3), the three tools taking
# turns; the result is checked against the original once per row and tool.
# Reported per row: the median transfer throughput as each tool measures it
# (qvftp and ftploop: from the data connection's set-up to the closing reply;
# curl: size / (total - pretransfer time)), the ratios qvftp/ftploop and
# qvftp/curl, and the median wall-clock throughput of the whole command
# (including Wine's start-up; stderr goes to a file, see run). Then the peak
# working set and maximum RSS of qvftp.exe for 16 MiB and SIZE_MB MiB, get
# and put. The load average is printed with each table: the machine's other
# work shifts the figures. LOOPBACK_ONLY=1 leaves out the shaped link.
# Must run as root inside the test namespace:
#   bash scripts/run-tests.sh --run 'bash bench/ftp_limit_bench.sh [WORK_DIR]'
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$root/build}
# The files live in memory (tmpfs) unless a folder is given: a download
# written to a disk that the machine's other work shares measures that
# disk's write-back as much as the transfer (256 MiB gets on loopback swung
# between 170 and 1000 MB/s for all three tools alike).
work=${1:-/dev/shm/norv-ftp-limit}
[ -n "${1:-}" ] || trap_rm_work=1
runs=${RUNS:-3}
size_mb=${SIZE_MB:-256}
rate=${RATE:-1gbit}
builds=${BENCH_BUILDS:-win32 win64}
shaped_modes=${SHAPED_MODES:-active passive}
ns=norvftplimit
lo_addr=127.0.0.52
. "$root/bench/lib/ftp-common.sh"
ftp_bench_prepare ftp_limit_bench
for b in $builds; do
  for exe in qvftp ftploop; do
    [ -f "$build/$b/bin/$exe.exe" ] || { echo "ftp_limit_bench: $build/$b/bin/$exe.exe missing (make build-$b)" >&2; exit 2; }
  done
done

mkdir -p "$work/out"
bench_files "$work/root" "$size_mb"
file=$work/root/bench.bin
bytes=$(stat -c %s "$file")
out=$work/out/bench.bin
stored=$work/root/incoming/up.bin
errf=$work/out/stderr.txt
win() { echo "Z:${1//\//\\}"; }

vs_lo=$build/bench/ftp-limit-vsftpd-lo
vs_ns=$build/bench/ftp-limit-vsftpd-ns
cleanup() {
  bash "$root/scripts/vsftpd.sh" stop "$vs_lo" 2>/dev/null || true
  bash "$root/scripts/vsftpd.sh" stop "$vs_ns" 2>/dev/null || true
  ip link del nfl0 2>/dev/null || true
  ip netns del "$ns" 2>/dev/null || true
  rm -f "$out" "$stored"
  [ -z "${trap_rm_work:-}" ] || rm -rf "$work"
}
trap cleanup EXIT

# rate_of STDERR: the MB/s of the last "N bytes  R MB/s" line of qvftp or ftploop.
rate_of() { printf '%s\n' "$1" | tr '\r' '\n' | awk '/^[0-9]+ bytes +[0-9.]+ MB\/s/ {v=$3} END {print v}'; }

# run TOOL BUILD WAY MODE HOST -> "wall_seconds transfer_MBps"
run() {
  local tool=$1 b=$2 way=$3 mode=$4 host=$5 t0 t1 err r mode_arg=()
  rm -f "$out" "$stored"
  t0=$(date +%s.%N)
  case $tool in
  qvftp|ftploop)
    [ "$mode" = passive ] || mode_arg=(-A)
    local exe=$build/$b/bin/$tool.exe args
    if [ "$way" = get ]; then args=(get "${mode_arg[@]}" "$host" /bench.bin "$(win "$out")")
    elif [ "$tool" = qvftp ]; then args=(put "${mode_arg[@]}" "$host" "$(win "$file")" incoming/up.bin)
    else args=(put "${mode_arg[@]}" "$host" incoming/up.bin "$(win "$file")"); fi
    # stderr into a file, not a pipe: the desktop process that Wine starts
    # for the first windowed program keeps the program's stderr open for
    # about a second after it has ended, and a pipe's reader would wait for it.
    bash "$root/scripts/wine.sh" "$exe" "${args[@]}" >/dev/null 2>"$errf" \
      || { echo "ftp_limit_bench: $tool ($b) $way $mode failed: $(cat "$errf")" >&2; exit 1; }
    r=$(rate_of "$(cat "$errf")")
    ;;
  curl)
    [ "$mode" = passive ] || mode_arg=(--ftp-port -)
    local w
    if [ "$way" = get ]; then
      w=$(curl -s "${mode_arg[@]}" -o "$out" -w '%{time_total} %{time_pretransfer} %{size_download}' "ftp://$host/bench.bin")
    else
      w=$(curl -s "${mode_arg[@]}" -T "$file" -w '%{time_total} %{time_pretransfer} %{size_upload}' "ftp://$host/incoming/up.bin")
    fi || { echo "ftp_limit_bench: curl $way $mode failed" >&2; exit 1; }
    r=$(echo "$w" | awk '{printf "%.1f", $3 / ($1 - $2) / 1e6}')
    ;;
  esac
  t1=$(date +%s.%N)
  echo "$(awk -v a="$t0" -v b="$t1" 'BEGIN {print b - a}') $r"
}

check() {  # check TOOL WAY: what arrived against the original
  local got=$out; [ "$2" = get ] || got=$stored
  cmp -s "$got" "$file" || { echo "ftp_limit_bench: $1 $2 delivered a different file" >&2; exit 1; }
}

header() {
  echo "$1 ($((bytes / 1048576)) MiB, medians of $runs; load average $(cut -d' ' -f1-3 /proc/loadavg))"
  printf '%-6s %-4s %-8s | %8s %8s %8s | %7s %7s | %8s %8s %8s\n' build way mode qvftp ftploop curl "q/loop" "q/curl" \
    "wall:qv" loop curl
}

row() {  # row BUILD WAY MODE HOST
  local b=$1 way=$2 mode=$3 host=$4 tool i w t
  declare -A wall rate
  for tool in qvftp ftploop curl; do wall[$tool]=""; rate[$tool]=""; done
  for i in $(seq "$runs"); do
    for tool in qvftp ftploop curl; do
      read -r w t <<< "$(run "$tool" "$b" "$way" "$mode" "$host")"
      [ "$i" -ne 1 ] || check "$tool" "$way"
      wall[$tool]+=" $w"; rate[$tool]+=" $t"
    done
  done
  local q l c
  q=$(median ${rate[qvftp]}); l=$(median ${rate[ftploop]}); c=$(median ${rate[curl]})
  printf '%-6s %-4s %-8s | %8s %8s %8s | %7s %7s | %8s %8s %8s\n' "$b" "$way" "$mode" "$q" "$l" "$c" \
    "$(awk -v a="$q" -v b="$l" 'BEGIN {printf "%.2f", a / b}')" "$(awk -v a="$q" -v b="$c" 'BEGIN {printf "%.2f", a / b}')" \
    "$(mbps "$bytes" "$(median ${wall[qvftp]})")" "$(mbps "$bytes" "$(median ${wall[ftploop]})")" \
    "$(mbps "$bytes" "$(median ${wall[curl]})")"
  echo "       runs: MB/s qvftp${rate[qvftp]}, ftploop${rate[ftploop]}, curl${rate[curl]};" \
    "s qvftp${wall[qvftp]}, ftploop${wall[ftploop]}, curl${wall[curl]}"
}

peak() {  # peak BUILD WAY FILE-NAME -> "working_set_KiB max_rss_KiB"
  local b=$1 way=$2 name=$3 err args
  rm -f "$out" "$stored"
  if [ "$way" = get ]; then args=(get -A "$lo_addr" "/$name" "$(win "$out")")
  else args=(put -A "$lo_addr" "$(win "$work/root/$name")" incoming/up.bin); fi
  NORV_QVFTP_STATS=1 /usr/bin/time -o "$errf.time" -f 'maxrss=%M' bash "$root/scripts/wine.sh" "$build/$b/bin/qvftp.exe" \
    "${args[@]}" >/dev/null 2>"$errf"
  err=$(cat "$errf" "$errf.time" | tr -d '\r')
  echo "$(( $(printf '%s\n' "$err" | sed -n 's/^peak_working_set=//p') / 1024 )) $(printf '%s\n' "$err" | sed -n 's/^maxrss=//p')"
}

# --- 1. loopback ----------------------------------------------------------------
bash "$root/scripts/vsftpd.sh" start "$vs_lo" "$lo_addr" 21 "$work/root"
header "loopback"
for b in $builds; do
  for way in get put; do
    for mode in active passive; do row "$b" "$way" "$mode" "$lo_addr"; done
  done
done
echo "peak memory of qvftp.exe (working set KiB / Wine process max RSS KiB), active mode:"
for b in $builds; do
  for way in get put; do
    read -r ws16 rss16 <<< "$(peak "$b" "$way" small16.bin)"
    read -r wsbig rssbig <<< "$(peak "$b" "$way" bench.bin)"
    echo "  $b $way: 16 MiB $ws16 / $rss16, $((bytes / 1048576)) MiB $wsbig / $rssbig"
  done
done
bash "$root/scripts/vsftpd.sh" stop "$vs_lo"

[ -z "${LOOPBACK_ONLY:-}" ] || exit 0

# --- 2. shaped veth link into a namespace of its own -------------------------------
if ! shaped_link "$ns" nfl0 nfl1 198.18.25.1 198.18.25.2 "$rate" 512kb; then
  echo "shaped link: tc tbf is not available in this kernel; skipped"
  exit 0
fi
ip netns exec "$ns" bash "$root/scripts/vsftpd.sh" start "$vs_ns" 198.18.25.2 21 "$work/root"
header "veth link shaped to $rate (tbf)"
for b in $builds; do
  for way in get put; do
    for mode in $shaped_modes; do row "$b" "$way" "$mode" 198.18.25.2; done
  done
done
