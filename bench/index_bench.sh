#!/usr/bin/env bash
# Version-index reader benchmark: a generated 50 MB index parsed by the reader
# and read by a plain line-by-line loop in the same run (throughput and
# ratio), then the reader's peak memory for a 1 MB and a 50 MB index.
# Built without sanitizers in BUILD/bench (BUILD defaults to build).
#   bench/index_bench.sh [BUILD]
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:-$root/build}/bench
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DNORV_SANITIZE=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target index_bench -j"${JOBS:-2}" >/dev/null
bin=$build/bin/index_bench
data=$build/data
mkdir -p "$data"
"$bin" generate "$data/index-1mb.idx" 1
"$bin" generate "$data/index-50mb.idx" 50
echo "== throughput (50 MB, best of 5)"
"$bin" compare "$data/index-50mb.idx" MODEL-7 5
echo "== peak memory of the reader (/usr/bin/time -v)"
peak() {
  /usr/bin/time -v "$bin" parse "$1" MODEL-7 2>"$data/time.txt" >/dev/null
  sed -n 's/.*Maximum resident set size (kbytes): *//p' "$data/time.txt"
}
small=$(peak "$data/index-1mb.idx")
large=$(peak "$data/index-50mb.idx")
echo "1 MB index:  $small kB"
echo "50 MB index: $large kB"
echo "difference:  $((large - small)) kB"
