#!/usr/bin/env bash
# Runs every libFuzzer target of a fuzz build for a given time each:
#   scripts/fuzz.sh BUILD_DIR SECONDS
# Target fuzz_<name> starts from a copy of fuzz/corpus/<name>/ (the seeds stay
# as they are); findings land in BUILD_DIR/findings/<name>/.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${1:?build folder}
seconds=${2:-600}
status=0
for exe in "$build"/bin/fuzz_*; do
  [ -x "$exe" ] || continue
  name=$(basename "$exe"); name=${name#fuzz_}
  work="$build/corpus/$name"; findings="$build/findings/$name"
  mkdir -p "$work" "$findings"
  if [ -d "$root/fuzz/corpus/$name" ]; then cp -n "$root/fuzz/corpus/$name"/* "$work"/ 2>/dev/null || true; fi
  echo "fuzz: $name for ${seconds}s" >&2
  if ! "$exe" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
       -artifact_prefix="$findings/" -print_final_stats=1 "$work" 2>"$build/fuzz-$name.log"; then
    echo "fuzz: $name found something, see $findings and $build/fuzz-$name.log" >&2
    status=1
  fi
  grep -E "stat::number_of_executed_units|Done [0-9]+ runs" "$build/fuzz-$name.log" >&2 || true
done
exit $status
