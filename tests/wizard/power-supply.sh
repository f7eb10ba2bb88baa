#!/usr/bin/env bash
# Runs the battery-power test program with a power-supply folder of its own
# bind-mounted over /sys/class/power_supply, where Wine reads the AC line
# status. The mount lives in a mount namespace of this test alone: the driver
# and the wizards it starts see it, nothing else does.
#   power-supply.sh TEST-EXE STATE-DIR
# The test program flips STATE-DIR/supply/AC/online through the folder's own
# path (Win32 file opens go through the wineserver, which runs outside this
# namespace and sees the folder only there).
set -u
exe=$1; state=$2
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
if [ -z "${NORV_POWER_NS:-}" ]; then
  rm -rf "$state"
  supply="$state/supply"
  mkdir -p "$supply/AC" "$supply/BAT0"
  echo Mains > "$supply/AC/type"
  echo 0 > "$supply/AC/online"
  echo Battery > "$supply/BAT0/type"
  echo 1 > "$supply/BAT0/present"
  echo Discharging > "$supply/BAT0/status"
  echo 80 > "$supply/BAT0/capacity"
  exec unshare --mount --propagation private env NORV_POWER_NS=1 bash "$0" "$@"
fi
mount --bind "$state/supply" /sys/class/power_supply || { echo "power-supply.sh: cannot mount the folder" >&2; exit 1; }
export NORV_POWER_DIR="Z:${state//\//\\}\\supply"
exec "$root/scripts/wine.sh" "$exe" --gtest_color=no
