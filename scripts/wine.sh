#!/usr/bin/env bash
# Runs a Windows program under Wine with the project's own prefix.
# 64-bit programs use the 64-bit loader; 32-bit ones the 32-bit loader, which
# needs a kernel that runs 32-bit code (see README, "Tests and 32-bit Wine").
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
export WINEPREFIX="${WINEPREFIX:-$root/build/wineprefix}"
export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
exe="$1"
loader=/usr/lib/wine/wine64
if [ -f "$exe" ]; then
  if [ "$(bash "$root/scripts/pe-machine.sh" "$exe")" = "014c" ]; then loader=/usr/lib/wine/wine; fi
fi
exec "$loader" "$@"
