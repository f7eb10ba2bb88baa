#!/usr/bin/env bash
# The update servers of the wizard's end-to-end tests:
#   e2e-sites.sh start STATE   builds the sites and starts two mirrors
#   e2e-sites.sh stop STATE
# Both mirrors (127.0.0.12 and 127.0.0.13, port 21) serve STATE/site: the demo's
# sample site under /pub/norv and broken sites under /broken/*. Mirror 2 has
# passive mode only (as a server behind a firewall would), mirror 3 active
# mode only (so the wizard has to fall back).
set -eu
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
cmd=$1; state=$2
case "$cmd" in
start)
  mkdir -p "$state"
  bash "$root/demo/make-site.sh" "$state/site" >/dev/null
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
  bash "$root/scripts/vsftpd.sh" start "$state/mirror2" 127.0.0.12 21 "$state/site" port_enable=NO
  bash "$root/scripts/vsftpd.sh" start "$state/mirror3" 127.0.0.13 21 "$state/site" pasv_enable=NO
  ;;
stop)
  for m in 2 3; do bash "$root/scripts/vsftpd.sh" stop "$state/mirror$m"; done
  ;;
esac
