#!/usr/bin/env bash
# Starts the wizard under a wineserver that cannot open network sockets (see
# nosocket.c), in a copy of the test prefix, then runs the driver test.
#   winsock-failed.sh BIN-DIR NOSOCKET STATE-DIR
set -u
bin=$1; nosocket=$2; state=$3
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
rm -rf "$state"
mkdir -p "$state/app"
cp -a "$WINEPREFIX" "$state/prefix"
export WINEPREFIX="$state/prefix"
cp "$bin/NorvUpdate.exe" "$bin/Romwrite.exe" "$bin/unzip32.dll" "$state/app/"
cp "$bin/sim/Romscope.dll" "$bin/sites/e2e/NorvSite.dll" "$state/app/"
"$nosocket" /usr/lib/wine/wineserver -f -p >/dev/null 2>&1 &
server=$!
# A Wine program that finds no server starts an ordinary one, with working
# sockets: start none before this server listens (its socket appears in the
# folder it changes to).
for _ in $(seq 1 200); do [ -S "/proc/$server/cwd/socket" ] && break; sleep 0.05; done
[ -S "/proc/$server/cwd/socket" ] || { echo "the socket-less wineserver did not start" >&2; exit 1; }
/usr/lib/wine/wine64 cmd.exe /c exit </dev/null >/dev/null 2>&1
(cd "$state/app" && "$root/scripts/wine.sh" "$state/app/NorvUpdate.exe") &
wizard=$!
NORV_WSFAIL=1 "$root/scripts/wine.sh" "$bin/wizard_winsock_test.exe" --gtest_color=no
rc=$?
for _ in $(seq 1 100); do kill -0 "$wizard" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$wizard" 2>/dev/null; then echo "the wizard did not end" >&2; rc=1; fi
/usr/lib/wine/wineserver -k >/dev/null 2>&1
kill "$server" 2>/dev/null
wait
rm -rf "$state/prefix"
exit $rc
