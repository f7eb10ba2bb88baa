#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a while, one after the other.
#   scripts/fuzz.sh BUILD_DIR SECONDS_PER_TARGET
# Each target bin/fuzz_* starts from its seed corpus fuzz/corpus/<target>/ and
# keeps what it finds in BUILD_DIR/corpus/<target>/ (the sources stay as they
# are); a crash is saved under BUILD_DIR/artifacts/. Prints the executions of
# each target and exits non-zero when any target found a fault.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:?usage: fuzz.sh BUILD_DIR SECONDS}
seconds=${2:?usage: fuzz.sh BUILD_DIR SECONDS}
status=0
found=0
for target in "$build"/bin/fuzz_*; do
  [ -x "$target" ] || continue
  name=$(basename "$target")
  found=1
  work="$build/corpus/$name"
  mkdir -p "$work" "$build/artifacts"
  seeds="$root/fuzz/corpus/$name"
  log="$build/$name.log"
  args=("$work")
  [ -d "$seeds" ] && args+=("$seeds")
  "$target" -max_total_time="$seconds" -print_final_stats=1 -timeout=10 -rss_limit_mb=1024 \
    -artifact_prefix="$build/artifacts/$name-" "${args[@]}" >"$log" 2>&1
  rc=$?
  execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
  if [ "$rc" -eq 0 ]; then
    echo "$name: ${execs:-?} executions in ${seconds} s, no finding"
  else
    echo "$name: FAILED (exit $rc) after ${execs:-?} executions; see $log"
    status=1
  fi
done
if [ "$found" -eq 0 ]; then
  echo "fuzz.sh: no fuzz_* targets in $build/bin" >&2
  exit 1
fi
exit $status
