#!/usr/bin/env bash
# The demo inside its namespace (started by demo.sh through run-tests.sh).
set -u
mode=$1
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$root/build}
# What users get: the 32-bit release folder (make dist), with the simulated
# board library and the demo's site library of the 32-bit build beside it.
release="$build/dist/NorvUpdate"
bin="$build/win32/bin"
work="$build/demo"
rm -rf "$work"
mkdir -p "$work"
bash "$root/demo/make-site.sh" "$work/site" "$build/win32/keys/publisher.pem" >/dev/null
for m in 2 3; do
  bash "$root/scripts/vsftpd.sh" start "$work/mirror$m" "127.0.0.1$m" 21 "$work/site" || exit 1
done
stop() { for m in 2 3; do bash "$root/scripts/vsftpd.sh" stop "$work/mirror$m"; done; }
trap stop EXIT

if [ "$mode" = interactive ]; then
  app="$work/app"
  mkdir -p "$app"
  cp "$release/NorvUpdate.exe" "$release/Romwrite.exe" "$release/unzip32.dll" "$app/"
  cp "$bin/sim/Romscope.dll" "$app/"
  cp "$bin/sites/demo/NorvSite.dll" "$app/"
  echo "demo: the 32-bit product from $release is open on $DISPLAY (board MODEL-A1, mirrors mirror1-3.norv.test)"
  (cd "$app" && "$root/scripts/wine.sh" "$app/NorvUpdate.exe")
  if [ -f "$app/Flashpart.bin" ]; then echo "demo: the emulated flash part now holds $(stat -c %s "$app/Flashpart.bin") bytes ($app/Flashpart.bin)"; fi
  exit 0
fi

shots="$build/screenshots/demo"
mkdir -p "$shots"
export NORV_SCREENSHOTS="Z:${shots//\//\\}"
export NORV_PRODUCT_DIR="Z:${release//\//\\}"
echo "demo: the 32-bit product from the release folder $release (32-bit code: $NORV_RUN32)"
"$root/scripts/wine.sh" "$bin/norvdemo.exe"
rc=$?
downloaded=$(grep -h "OK DOWNLOAD" "$work"/mirror*/vsftpd.log 2>/dev/null | sed -n 's/.*", \([0-9]*\) bytes.*/\1/p' | paste -sd+ | bc 2>/dev/null)
echo "bytes downloaded (all files, from the mirrors' logs): ${downloaded:-0}"
for f in "$shots"/*.png; do [ -f "$f" ] && echo "screenshot: $f"; done
exit $rc
