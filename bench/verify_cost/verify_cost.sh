#!/usr/bin/env bash
# What the publisher checks add to the demo's update: the demo's signed site on
# one vsftpd, measured with bench/verify_cost (the wizard's FTP client and
# checks; BENCH_BUILD=win32 for the 32-bit product, default win64). Must run
# inside the test namespace:
#   bash scripts/run-tests.sh --run 'bash bench/verify_cost/verify_cost.sh'
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=${BUILD:-$root/build}
work=$build/bench/verify-cost
b=${BENCH_BUILD:-win64}
rm -rf "$work"; mkdir -p "$work/temp"
bash "$root/demo/make-site.sh" "$work/site" "$build/$b/keys/publisher.pem" >/dev/null
bash "$root/scripts/vsftpd.sh" start "$work/vsftpd" 127.0.0.12 21 "$work/site"
trap 'bash "$root/scripts/vsftpd.sh" stop "$work/vsftpd"' EXIT
w() { echo "Z:${1//\//\\}"; }
"$root/scripts/wine.sh" "$build/$b/bin/verify_cost.exe" 127.0.0.12 /pub/norv \
  "$(w "$build/$b/keys/publisher.der")" "$(w "$work/temp")" "${RUNS:-15}"
