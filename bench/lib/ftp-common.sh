# Shared by the FTP benchmarks (sourced; needs $root and $build set).

# ftp_bench_prepare NAME: refuses to run outside the test namespace or
# without curl, and builds qvftp.exe when it is not there; sets $qvftp.
ftp_bench_prepare() {
  [ -n "${NORV_IN_NS:-}" ] || { echo "$1: run it through scripts/run-tests.sh --bench" >&2; exit 2; }
  command -v curl >/dev/null || { echo "$1: needs curl" >&2; exit 2; }
  # BENCH_BUILD chooses the build measured: win64 (default) or win32.
  qvftp=$build/${BENCH_BUILD:-win64}/bin/qvftp.exe
  if [ ! -f "$qvftp" ]; then
    cmake -S "$root" -B "$build/win64" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
      -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-x86_64.cmake" >/dev/null
    cmake --build "$build/win64" --target qvftp -j"${JOBS:-2}" >/dev/null
  fi
}

# random_file PATH MB: PATH holds MB MiB of random bytes (kept between runs).
random_file() {
  if [ ! -f "$1" ] || [ "$(stat -c %s "$1")" -ne $(($2 * 1048576)) ]; then
    head -c $(($2 * 1048576)) /dev/urandom > "$1"
  fi
}

# bench_files DIR MB: DIR/bench.bin of MB MiB (kept between runs) and
# DIR/small16.bin, its first 16 MiB (for the peak-memory figures).
bench_files() {
  mkdir -p "$1"
  random_file "$1/bench.bin" "$2"
  head -c $((16 * 1048576)) "$1/bench.bin" > "$1/small16.bin"
}

median() { printf '%s\n' "$@" | sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
mbps() { awk -v b="$1" -v t="$2" 'BEGIN {printf "%.1f", b / t / 1e6}'; }

# report LABEL BYTES RUNS "QVFTP_WALL_S..." "CURL_WALL_S..." "QVFTP_MBPS..." "CURL_MBPS..."
report() {
  local label=$1 bytes=$2 runs=$3 qw=($4) cw=($5) qt=($6) ct=($7)
  local mqw mcw mqt mct
  mqw=$(median "${qw[@]}"); mcw=$(median "${cw[@]}")
  mqt=$(median "${qt[@]}"); mct=$(median "${ct[@]}")
  echo "$label: $((bytes / 1048576)) MiB, $runs runs each"
  echo "  wall clock   qvftp.exe $(mbps "$bytes" "$mqw") MB/s (median of ${qw[*]} s)"
  echo "               curl      $(mbps "$bytes" "$mcw") MB/s (median of ${cw[*]} s)"
  echo "               ratio     $(awk -v a="$mcw" -v b="$mqw" 'BEGIN {printf "%.2f", a / b}')"
  echo "  transfer     qvftp.exe $mqt MB/s (runs ${qt[*]})"
  echo "               curl      $mct MB/s (runs ${ct[*]})"
  echo "               ratio     $(awk -v a="$mqt" -v b="$mct" 'BEGIN {printf "%.2f", a / b}')"
}

# shaped_link NS HOST_DEV NS_DEV HOST_ADDR NS_ADDR RATE BURST: a veth pair
# from here (HOST_DEV, HOST_ADDR/24) into a new namespace NS (NS_DEV,
# NS_ADDR/24), shaped with a token-bucket filter to RATE with BURST in both
# directions. Fails when the kernel has no tbf.
shaped_link() {
  local ns=$1 hdev=$2 ndev=$3 haddr=$4 naddr=$5 rate=$6 burst=$7
  ip netns add "$ns"
  ip link add "$hdev" type veth peer name "$ndev"
  ip link set "$ndev" netns "$ns"
  ip addr add "$haddr/24" dev "$hdev"
  ip link set "$hdev" up
  ip -n "$ns" link set lo up
  ip -n "$ns" addr add "$naddr/24" dev "$ndev"
  ip -n "$ns" link set "$ndev" up
  tc qdisc add dev "$hdev" root tbf rate "$rate" burst "$burst" latency 50ms 2>/dev/null &&
    ip netns exec "$ns" tc qdisc add dev "$ndev" root tbf rate "$rate" burst "$burst" latency 50ms 2>/dev/null
}
