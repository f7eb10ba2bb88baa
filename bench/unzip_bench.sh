#!/usr/bin/env bash
# Extraction speed of norvunzip against Info-ZIP unzip, in the same run, on the
# same 256 MB archive of several deflated members (made with Info-ZIP zip).
#   bench/unzip_bench.sh [WORK_DIR]     (default: build/bench-unzip)
# norvunzip is built optimised and without sanitizers for this (build/bench).
# Each tool extracts the archive RUNS times (default 3) into a fresh folder;
# the best wall time counts. Prints both times and the speed ratio
# (unzip time / norvunzip time: 1.0 means as fast, above 1 faster).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
work=${1:-$root/build/bench-unzip}
runs=${RUNS:-3}
command -v zip >/dev/null && command -v unzip >/dev/null || { echo "bench: needs zip and unzip" >&2; exit 2; }

cmake -S "$root" -B "$root/build/bench" -DCMAKE_BUILD_TYPE=Release -DNORV_SANITIZE=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build "$root/build/bench" --target norvunzip -j"${JOBS:-2}" >/dev/null
ours="$root/build/bench/bin/norvunzip"

mkdir -p "$work"
archive="$work/bench.zip"
if [ ! -f "$archive" ]; then
  # Eight members of 39 MiB, each half incompressible and half text, in 64 KiB
  # pieces: about 32 MB compressed apiece.
  rm -rf "$work/src"; mkdir -p "$work/src/data"
  python3 - "$work/src/data" <<'PY'
import os, random, sys
out = sys.argv[1]
rng = random.Random(1003)
words = [''.join(rng.choice('abcdefghijklmnopqrstuvwxyz') for _ in range(rng.randint(2, 9))) for _ in range(5000)]
pool = ' '.join(rng.choice(words) for _ in range(800000)).encode()
piece = 64 * 1024
for i in range(8):
    with open(os.path.join(out, 'member%d.bin' % i), 'wb') as f:
        for j in range(39 * 1024 * 1024 // piece):
            if j % 2:
                f.write(rng.randbytes(piece))
            else:
                at = rng.randrange(0, len(pool) - piece)
                f.write(pool[at:at + piece])
PY
  (cd "$work/src" && zip -q -r -6 "$archive" data)
fi
size=$(stat -c %s "$archive")

best() {  # best wall time of $runs runs of "$@" (each into a fresh $work/out)
  local b=""
  for _ in $(seq "$runs"); do
    rm -rf "$work/out"; sync
    local t0 t1 t
    t0=$(date +%s.%N); "$@" >/dev/null; t1=$(date +%s.%N)
    t=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
    if [ -z "$b" ] || awk -v t="$t" -v b="$b" 'BEGIN { exit !(t < b) }'; then b=$t; fi
  done
  echo "$b"
}

cat "$archive" >/dev/null  # both tools start from a warm page cache
t_unzip=$(best unzip -q -o "$archive" -d "$work/out")
t_ours=$(best "$ours" extract "$archive" "$work/out")
# The last extraction must equal the source tree.
diff -r "$work/src" "$work/out" >/dev/null || { echo "bench: norvunzip output differs from the source" >&2; exit 1; }
rm -rf "$work/out"
ratio=$(awk -v u="$t_unzip" -v o="$t_ours" 'BEGIN { printf "%.2f", u / o }')
printf 'archive: %s (%d bytes, %d members)\n' "$archive" "$size" 8
printf 'unzip:     %s s\n' "$t_unzip"
printf 'norvunzip: %s s\n' "$t_ours"
printf 'speed ratio norvunzip/unzip: %s (aim: >= 0.90)\n' "$ratio"
