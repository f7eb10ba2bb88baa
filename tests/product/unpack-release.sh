#!/usr/bin/env bash
# Unpacks the release archive into a fresh folder: unpack-release.sh ZIP DEST
# The product stage runs only what the archive holds.
set -eu
zip=$1; dest=$2
if [ ! -f "$zip" ]; then
  echo "no release archive at $zip (make dist makes it)" >&2
  exit 1
fi
rm -rf "$dest"
mkdir -p "$dest"
unzip -q "$zip" -d "$dest"
missing=0
for f in NorvUpdate.exe Romscope.dll NorvSite.dll Romwrite.exe unzip32.dll; do
  [ -f "$dest/NorvUpdate/$f" ] || { echo "the release lacks $f" >&2; missing=1; }
done
# The release is the 32-bit product: every file a PE32 (i386) image.
for f in "$dest"/NorvUpdate/*; do
  machine=$(bash "$(dirname "$0")/../../scripts/pe-machine.sh" "$f")
  [ "$machine" = "014c" ] || { echo "$(basename "$f") is not a 32-bit image (machine $machine)" >&2; missing=1; }
done
exit $missing
