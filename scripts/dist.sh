#!/usr/bin/env bash
# make dist: the release folder (32-bit build) and a .zip of it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$root/build}
bin="$build/win32/bin"
out="$build/dist/NorvUpdate"
rm -rf "$out" "$build/dist/NorvUpdate.zip"
mkdir -p "$out"
for f in NorvUpdate.exe Romscope.dll NorvSite.dll Romwrite.exe unzip32.dll; do
  cp "$bin/$f" "$out/"
done
(cd "$build/dist" && zip -q -r NorvUpdate.zip NorvUpdate)
echo "release folder: $out"
echo "release archive: $build/dist/NorvUpdate.zip"
