#!/usr/bin/env bash
# The Internet update behind NAT, end to end:
#   nat-e2e.sh BUILD_DIR WIZARD_TEST_EXE QVFTP_EXE
# Inside the test namespace, three more:
#
#   client 198.18.21.2 ── 198.18.21.1 router 198.18.22.1 ── 198.18.22.2 server (vsftpd)
#
# The router masquerades what the client opens (nftables) and lets nothing
# else through to the client, as a home router does; the server may connect
# anywhere (port_promiscuous=YES), so an active-mode transfer fails at the
# router, not at a check of the server's. The whole Wine side runs in the
# client namespace (Wine opens sockets in its wineserver): its own prefix
# (created once per build folder), wineserver and Xvfb.
# Shown: the wizard updates from the mirror (passive mode); qvftp gets a file
# in passive mode; qvftp -A fails within its bounded wait, with a clear
# message and no file. Exit 77 (skipped) outside the test namespace or
# without nftables.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
build=$1; test_exe=$2; qvftp=$3
if [ -z "${NORV_IN_NS:-}" ] || [ "$(id -u)" -ne 0 ]; then
  echo "nat-e2e: needs the test namespace as root (scripts/run-tests.sh); skipped"; exit 77
fi
command -v nft >/dev/null || { echo "nat-e2e: nft (Debian nftables) missing; skipped"; exit 77; }

state=$build/fixtures/nat_e2e
cli=norv-nat-cli rtr=norv-nat-rtr srv=norv-nat-srv
xpid=""
cleanup() {
  ip netns exec "$cli" env WINEPREFIX="$state/wineprefix" /usr/lib/wine/wineserver -k 2>/dev/null
  [ -n "$xpid" ] && kill "$xpid" 2>/dev/null
  ip netns exec "$srv" bash "$root/scripts/vsftpd.sh" stop "$state/vsftpd" 2>/dev/null
  for n in "$cli" "$rtr" "$srv"; do ip netns del "$n" 2>/dev/null; done
}
trap cleanup EXIT
cleanup
mkdir -p "$state/out"

# --- network -------------------------------------------------------------------
set -e
for n in "$cli" "$rtr" "$srv"; do ip netns add "$n"; ip -n "$n" link set lo up; done
ip link add nat-c0 netns "$cli" type veth peer name nat-r0 netns "$rtr"
ip link add nat-r1 netns "$rtr" type veth peer name nat-s0 netns "$srv"
ip -n "$cli" addr add 198.18.21.2/24 dev nat-c0
ip -n "$rtr" addr add 198.18.21.1/24 dev nat-r0
ip -n "$rtr" addr add 198.18.22.1/24 dev nat-r1
ip -n "$srv" addr add 198.18.22.2/24 dev nat-s0
for l in "$cli nat-c0" "$rtr nat-r0" "$rtr nat-r1" "$srv nat-s0"; do set -- $l; ip -n "$1" link set "$2" up; done
ip -n "$cli" route add default via 198.18.21.1
ip -n "$srv" route add default via 198.18.22.1
ip netns exec "$rtr" sysctl -qw net.ipv4.ip_forward=1
ip netns exec "$rtr" nft -f - <<'NFT'
table ip norv_nat {
  chain forward {
    type filter hook forward priority 0; policy drop;
    ct state established,related accept
    iifname "nat-r0" oifname "nat-r1" accept
  }
  chain postrouting {
    type nat hook postrouting priority 100;
    oifname "nat-r1" masquerade
  }
}
NFT

# --- the mirror ----------------------------------------------------------------
bash "$root/demo/make-site.sh" "$state/site" >/dev/null
ip netns exec "$srv" bash "$root/scripts/vsftpd.sh" start "$state/vsftpd" 198.18.22.2 21 "$state/site" port_promiscuous=YES

# --- Wine in the client namespace -------------------------------------------------
disp=120
while [ -e "/tmp/.X$disp-lock" ] || [ -e "/tmp/.X11-unix/X$disp" ]; do disp=$((disp + 1)); done
ip netns exec "$cli" Xvfb ":$disp" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xpid=$!
export DISPLAY=":$disp" WINEPREFIX="$state/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
for _ in $(seq 1 100); do ip netns exec "$cli" xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
set +e
ip netns exec "$cli" bash "$root/scripts/wineprefix.sh" nat-e2e || exit 1

win() { local p; p=$(cd "$(dirname "$1")" && pwd)/$(basename "$1"); echo "Z:${p//\//\\}"; }
rc=0
fail() { echo "nat-e2e: FAILED: $*"; rc=1; }

# 1. The wizard, from the update-method page to the flashed image.
ip netns exec "$cli" env NORV_NAT_SITE="$(win "$state/site")" \
  bash "$root/scripts/wine.sh" "$test_exe" --gtest_filter='BehindNat.*' --gtest_color=no > "$state/wizard.log" 2>&1
grep -q '^\[       OK \] BehindNat.TheUpdateFromTheInternetWorks' "$state/wizard.log" ||
  { cat "$state/wizard.log"; fail "the wizard did not update behind the router"; }
# All three downloads in passive mode: no PORT reached the server.
[ "$(grep -c '"PORT' "$state/vsftpd/vsftpd.log")" -eq 0 ] || fail "the wizard sent PORT"
[ "$(grep -c '"EPSV"' "$state/vsftpd/vsftpd.log")" -eq 3 ] || fail "the wizard did not use EPSV for its three downloads"

# 2. qvftp in passive mode (its default) gets the file.
out=$state/out/Path.idx
rm -f "$out"
ip netns exec "$cli" bash "$root/scripts/wine.sh" "$qvftp" get -t 5000 198.18.22.2 /pub/norv/Path.idx "$(win "$out")" \
  > "$state/passive.log" 2>&1 || fail "qvftp (passive) failed: $(tr -d '\r' < "$state/passive.log")"
cmp -s "$out" "$state/site/pub/norv/Path.idx" || fail "qvftp (passive) delivered a different file"

# 3. qvftp -A: the server's connection back is dropped at the router.
rm -f "$out"
t0=$(date +%s)
ip netns exec "$cli" bash "$root/scripts/wine.sh" "$qvftp" get -A -t 5000 198.18.22.2 /pub/norv/Path.idx "$(win "$out")" \
  > "$state/active.log" 2>&1
arc=$?
took=$(( $(date +%s) - t0 ))
msg=$(tr -d '\r' < "$state/active.log" | grep '^qvftp: ' | tail -1)
[ "$arc" -eq 1 ] || fail "qvftp -A exit code $arc, expected 1"
[ -n "$msg" ] || fail "qvftp -A gave no message"
[ ! -e "$out" ] || fail "qvftp -A left a file"
[ "$took" -lt 30 ] || fail "qvftp -A took $took s with a 5 s bound"
echo "nat-e2e: wizard updated behind the router; qvftp passive ok; qvftp -A: \"$msg\" after $took s"
exit $rc
