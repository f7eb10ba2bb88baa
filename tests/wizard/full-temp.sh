#!/usr/bin/env bash
# Runs the run-files test program with temporary folders that are nearly
# full, each a small tmpfs:
#   STATE/unpack    room for the package but not for its unpacked image;
#   STATE/download  room for the index files, not for the package.
# The test gives each in turn to the wizards it starts as their TMP and TEMP.
#   full-temp.sh TEST-EXE STATE-DIR PACKAGE
# The mounts are made in the test environment's own mount namespace (where
# the wineserver, which opens the files, sees them) and taken away at the end.
set -u
exe=$1; state=$2; package=$3
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
small() {  # small NAME BYTES: STATE/NAME, a tmpfs of BYTES in whole pages
  mkdir -p "$state/$1"
  umount "$state/$1" 2>/dev/null
  mount -t tmpfs -o size=$(( ( $2 + 4095 ) / 4096 * 4096 )),mode=0777 tmpfs "$state/$1" \
    || { echo "full-temp.sh: cannot mount a tmpfs" >&2; exit 1; }
}
trap 'umount "$state/unpack" "$state/download" 2>/dev/null' EXIT
# The package and 96 KiB more: the index files, their signatures and the
# lock take a page each; the 256 KiB image does not fit.
small unpack $(( $(stat -c %s "$package") + 98304 ))
# 64 KiB: the package does not fit.
small download 65536
export NORV_FULL_TEMP="Z:${state//\//\\}"
"$root/scripts/wine.sh" "$exe" --gtest_color=no --gtest_filter='RunFiles.*FullTemp*'
