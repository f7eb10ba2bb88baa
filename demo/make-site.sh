#!/usr/bin/env bash
# Builds the demo's sample update site in FOLDER: the site index, a version
# index with several boards (the simulated MODEL-A1 among them, with three
# versions), and the packages: a bare .awd, a .zip with a setup program, and a
# .zip with an .AWD image in a sub-directory. Every version carries the
# SHA-256 of its package; with KEY (a private key in PEM form) every index file
# is signed too, FILE.sig beside FILE, as a publisher does it with openssl.
#   make-site.sh FOLDER [KEY]
set -euo pipefail
site=$1
key=${2:-}
rm -rf "$site"
mkdir -p "$site/pub/norv/bios/a1" "$site/pub/norv/bios/b2" "$site/pub/norv/vga"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

image() {  # file size seed: a deterministic pseudo-random image
  python3 - "$1" "$2" "$3" <<'PY'
import random, sys
path, size, seed = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
random.seed(seed)
open(path, "wb").write(bytes(random.getrandbits(8) for _ in range(size)))
PY
}

cat > "$site/pub/norv/Path.idx" <<'IDX'
-- NORV update site: where each category's version index lies
<product> Graphics
<path> vga/vga.idx
<~product>
<product> Motherboard BIOS
<path> bios/board.idx
<~product>
IDX

image "$site/pub/norv/bios/a1/a1v1001.awd" 131072 1001
mkdir -p "$work/setup1002"
printf 'MZ demo setup program\r\n' > "$work/setup1002/setup.exe"
printf 'Run setup.exe to install version 1002.\r\n' > "$work/setup1002/readme.txt"
(cd "$work/setup1002" && zip -q -X -r "$site/pub/norv/bios/a1/a1v1002.zip" .)
mkdir -p "$work/pkg1003/BIOS"
image "$work/pkg1003/BIOS/A1V1003.AWD" 262144 1003
printf 'Version 1003: supports new processors, fixes the clock setting.\r\n' > "$work/pkg1003/README.TXT"
(cd "$work/pkg1003" && zip -q -X -r "$site/pub/norv/bios/a1/a1v1003.zip" .)
image "$site/pub/norv/bios/b2/b2v2001.awd" 131072 2001

cat > "$site/pub/norv/bios/board.idx" <<'IDX'
-- NORV motherboard BIOS versions, board by board
<product> MODEL-B2
<version> 2001
<release-date> 2000/09/01
<description> First release for MODEL-B2.
<~description>
<path> b2/b2v2001.awd
<~version>
<~product>
<product> MODEL-A1
<version> 1001
<release-date> 2000/08/15
<description> First release.
Supports the 440BX chipset.
<~description>
<path> a1/a1v1001.awd
<~version>
<version> 1002
<release-date> 2000/10/02
<description> Adds the setup utility.
Run setup.exe from the package.
<~description>
<path> a1/a1v1002.zip
<~version>
<version> 1003
<release-date> 2000/11/20
<description> Supports new processors.

Fixes the clock setting.
<~description>
<path> a1/a1v1003.zip
<~version>
<~product>
IDX

# The checksum of each version's package, on the line after its <path>.
python3 - "$site/pub/norv/bios/board.idx" <<'PY'
import hashlib, os, sys
path = sys.argv[1]
out = []
for line in open(path, encoding="latin-1"):
    out.append(line)
    if line.startswith("<path> "):
        pkg = os.path.join(os.path.dirname(path), line.split(None, 1)[1].strip())
        out.append("<sha256> %s\n" % hashlib.sha256(open(pkg, "rb").read()).hexdigest())
open(path, "w", encoding="latin-1").write("".join(out))
PY

if [ -n "$key" ]; then
  for idx in "$site/pub/norv/Path.idx" "$site/pub/norv/bios/board.idx"; do
    openssl dgst -sha256 -sign "$key" -out "$idx.sig" "$idx"
  done
fi
echo "$site"
