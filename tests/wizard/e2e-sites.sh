#!/usr/bin/env bash
# The update servers of the wizard's end-to-end tests:
#   e2e-sites.sh start STATE KEYS   builds the sites and starts two mirrors
#   e2e-sites.sh stop STATE
# Both mirrors (127.0.0.12 and 127.0.0.13, port 21) serve STATE/site: the demo's
# sample site under /pub/norv, signed with KEYS/publisher.pem, broken sites
# under /broken/*, and under /signed/* copies of the sample site with one flaw
# each in what is signed or checked.
# Mirror 2 has passive mode only (as a server behind a firewall would),
# mirror 3 active mode only (so the wizard has to fall back).
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cmd=$1; state=$2; keys=${3:-}
case "$cmd" in
start)
  mkdir -p "$state"
  bash "$root/demo/make-site.sh" "$state/site" "$keys/publisher.pem" >/dev/null
  b="$state/site/broken"
  mkdir -p "$b/nopath" "$b/nocat" "$b/noboard/bios" "$b/setup/bios" "$b/unsafe"
  printf '<product> Graphics\n<path> vga/vga.idx\n<~product>\n' > "$b/nocat/Path.idx"
  printf '<product> Motherboard\n<path> bios/board.idx\n<~product>\n' > "$b/noboard/Path.idx"
  printf '<product> MODEL-Z9\n<version> 1\n<path> z9.awd\n<~version>\n<~product>\n' > "$b/noboard/bios/board.idx"
  # A board whose only version is a package holding a setup program.
  printf '<product> Motherboard\n<path> bios/board.idx\n<~product>\n' > "$b/setup/Path.idx"
  printf '<product> MODEL-A1\n<version> 1002\n<path> ./a1v1002.zip\n<~version>\n<~product>\n' > "$b/setup/bios/board.idx"
  cp "$state/site/pub/norv/bios/a1/a1v1002.zip" "$b/setup/bios/"
  # A version index whose location names no file at all.
  printf '<product> Motherboard\n<path> bios/\n<~product>\n' > "$b/unsafe/Path.idx"
  # The flawed copies of the signed site.
  s="$state/site/signed"
  good="$state/site/pub/norv"
  sign() { openssl dgst -sha256 -sign "$keys/${2:-publisher}.pem" -out "$1.sig" "$1"; }
  flip() {  # file offset: one byte changed
    python3 -c 'import sys; p, o = sys.argv[1], int(sys.argv[2]); b = bytearray(open(p, "rb").read()); b[o] ^= 1; open(p, "wb").write(b)' "$1" "$2"
  }
  sha_1003() {  # file replacement: the <sha256> line of version 1003 (after its <path>)
    python3 - "$1" "$2" <<'PY'
import sys
path, new = sys.argv[1], sys.argv[2]
lines = open(path, encoding="latin-1").read().split("\n")
i = lines.index("<path> a1/a1v1003.zip") + 1
assert lines[i].startswith("<sha256> ")
if new == "-":
    del lines[i]
else:
    lines[i] = "<sha256> " + new
open(path, "w", encoding="latin-1").write("\n".join(lines))
PY
  }
  for c in pkgbyte verbyte sitebyte nosig otherkey nosha badsha wrongsha; do
    mkdir -p "$s/$c"
    cp -r "$good/." "$s/$c/"
  done
  flip "$s/pkgbyte/bios/a1/a1v1003.zip" 1000
  flip "$s/verbyte/bios/board.idx" 200
  flip "$s/sitebyte/Path.idx" 10
  rm "$s/nosig/bios/board.idx.sig"
  sign "$s/otherkey/Path.idx" other
  sha_1003 "$s/nosha/bios/board.idx" - && sign "$s/nosha/bios/board.idx"
  sha_1003 "$s/badsha/bios/board.idx" "$(printf '%063d' 7)" && sign "$s/badsha/bios/board.idx"
  sha_1003 "$s/wrongsha/bios/board.idx" "$(sha256sum "$good/bios/a1/a1v1001.awd" | cut -c1-64)"
  sign "$s/wrongsha/bios/board.idx"
  bash "$root/scripts/vsftpd.sh" start "$state/mirror2" 127.0.0.12 21 "$state/site" port_enable=NO
  bash "$root/scripts/vsftpd.sh" start "$state/mirror3" 127.0.0.13 21 "$state/site" pasv_enable=NO
  ;;
stop)
  for m in 2 3; do bash "$root/scripts/vsftpd.sh" stop "$state/mirror$m"; done
  ;;
esac
