#!/usr/bin/env bash
# Runs the run-files test program with a temporary folder that is nearly
# full: a small tmpfs, room for the package but not for its unpacked image.
# The test gives it to the wizards it starts as their TMP and TEMP.
#   full-temp.sh TEST-EXE STATE-DIR PACKAGE
# The mount is made in the test environment's own mount namespace (where the
# wineserver, which opens the files, sees it) and taken away at the end.
set -u
exe=$1; state=$2; package=$3
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
mkdir -p "$state/temp"
umount "$state/temp" 2>/dev/null
# The package and 96 KiB more, in whole pages: room for the index files, their
# signatures and the lock (a page each), not for the 256 KiB image.
size=$(( ( $(stat -c %s "$package") + 98304 + 4095 ) / 4096 * 4096 ))
mount -t tmpfs -o size=$size,mode=0777 tmpfs "$state/temp" || { echo "full-temp.sh: cannot mount a tmpfs" >&2; exit 1; }
trap 'umount "$state/temp"' EXIT
export NORV_FULL_TEMP="Z:${state//\//\\}\\temp"
"$root/scripts/wine.sh" "$exe" --gtest_color=no --gtest_filter='RunFiles.*FullTemp*'
