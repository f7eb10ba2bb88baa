#!/usr/bin/env bash
# A three-hop route for the trace tests, made of network namespaces joined by
# veth pairs, all inside the test namespace:
#
#   here 198.18.1.1 --- 198.18.1.2 R1 198.18.2.1 --- 198.18.2.2 R2 198.18.3.1 --- 198.18.3.2 D
#                                   R1 198.18.4.1 --- 198.18.4.2 U
#
# R1, R2 and U forward and answer every expired probe. 198.18.9.0/24 is a
# link of U's where nobody answers address resolution, so echoes to
# 198.18.9.1 come back from U (198.18.4.2) as "host unreachable" after
# 100 ms. (An unreachable route would answer at once, but the kernel lets a
# router send those at one a second only, not adjustable in a namespace;
# the answers of a failed resolution obey the ICMP rate limit, which is off.)
# Each namespace is kept alive by one sleeping process; the namespaces (and
# the veth pairs with them) vanish when those processes are stopped.
#
#   route.sh start STATE   build the route, remember the process ids in STATE
#   route.sh stop STATE    stop those processes (by id) and remove STATE
set -eu
cmd=$1
state=$2

stop() {
  if [ -f "$state/pids" ]; then
    while read -r p; do kill "$p" 2>/dev/null || true; done <"$state/pids"
    rm -f "$state/pids"
  fi
  ip link del norv-r1 2>/dev/null || true
}

if [ "$cmd" = stop ]; then
  stop
  exit 0
fi
[ "$cmd" = start ] || { echo "usage: route.sh start|stop STATE" >&2; exit 2; }
[ -n "${NORV_IN_NS:-}" ] || { echo "route.sh: run inside the test namespace (scripts/run-tests.sh)" >&2; exit 2; }

mkdir -p "$state"
stop

newns() {
  # The sleep runs in a fresh network namespace; an hour is far longer than
  # the suite, and bounds the namespace's life should the stop step never run.
  unshare --net sleep 3600 </dev/null >/dev/null 2>&1 &
  echo $! >>"$state/pids"
  eval "$1=$!"
  # wait until the process has entered its namespace
  for _ in $(seq 1 100); do
    [ "$(readlink /proc/$!/ns/net)" != "$(readlink /proc/self/ns/net)" ] && break
    sleep 0.01
  done
}
inns() { local p=$1; shift; nsenter -t "$p" -n "$@"; }

newns r1
newns r2
newns d
newns u

ip link add norv-r1 type veth peer name up0 netns "$r1"
ip link add r1-r2 netns "$r1" type veth peer name up0 netns "$r2"
ip link add r2-d netns "$r2" type veth peer name up0 netns "$d"
ip link add r1-u netns "$r1" type veth peer name up0 netns "$u"

ip addr add 198.18.1.1/24 dev norv-r1
ip link set norv-r1 up
for net in 198.18.2.0/24 198.18.3.0/24 198.18.4.0/24 198.18.9.0/24; do ip route add $net via 198.18.1.2; done

inns "$r1" ip link set lo up
inns "$r1" ip addr add 198.18.1.2/24 dev up0
inns "$r1" ip addr add 198.18.2.1/24 dev r1-r2
inns "$r1" ip link set up0 up
inns "$r1" ip addr add 198.18.4.1/24 dev r1-u
inns "$r1" ip link set r1-r2 up
inns "$r1" ip link set r1-u up
inns "$r1" ip route add 198.18.3.0/24 via 198.18.2.2
inns "$r1" ip route add 198.18.9.0/24 via 198.18.4.2

inns "$r2" ip link set lo up
inns "$r2" ip addr add 198.18.2.2/24 dev up0
inns "$r2" ip addr add 198.18.3.1/24 dev r2-d
inns "$r2" ip link set up0 up
inns "$r2" ip link set r2-d up
inns "$r2" ip route add 198.18.1.0/24 via 198.18.2.1

inns "$d" ip link set lo up
inns "$d" ip addr add 198.18.3.2/24 dev up0
inns "$d" ip link set up0 up
inns "$d" ip route add default via 198.18.3.1

inns "$u" ip link set lo up
inns "$u" ip addr add 198.18.4.2/24 dev up0
inns "$u" ip link set up0 up
inns "$u" ip route add 198.18.1.0/24 via 198.18.4.1
# 198.18.9.0/24 lies on a link where nobody answers address resolution.
inns "$u" ip link add void0 type veth peer name void1
inns "$u" ip addr add 198.18.9.254/24 dev void0
inns "$u" ip link set void1 up
inns "$u" ip link set void0 up
for v in mcast_solicit=1 ucast_solicit=0 app_solicit=0 retrans_time_ms=100; do
  inns "$u" sysctl -qw net.ipv4.neigh.void0.$v
done

for p in "$r1" "$r2" "$u"; do
  inns "$p" sysctl -qw net.ipv4.ip_forward=1
done
# Every probe gets its answer: no rate limit on ICMP errors.
for p in "$r1" "$r2" "$u"; do inns "$p" sysctl -qw net.ipv4.icmp_ratelimit=0; done
