#!/usr/bin/env bash
# qvping and qvtrace inside the test namespace: loopback and the mirror names
# answer, the silent address does not, and the three-hop route of route.sh
# (fixture icmp_route) is traced.   tools-test.sh QVPING QVTRACE
set -u
qvping=$1
qvtrace=$2
wine="$(dirname "$0")/../../scripts/wine.sh"
silent=${NORV_SILENT_ADDR:?run inside scripts/run-tests.sh}
fails=0

# run NAME EXPECTED-EXIT COMMAND... : output in $out. With NORV_TOOLS_CASES
# (an extended regex of names) only the cases it names run; the others are
# skipped together with their checks.
run() {
  local name=$1 want=$2
  shift 2
  if [ -n "${NORV_TOOLS_CASES:-}" ] && ! grep -Eqx -- "$NORV_TOOLS_CASES" <<<"$name"; then return 1; fi
  local t0=$(date +%s%N)
  out=$("$wine" "$@" 2>&1)
  local rc=$?
  out=${out//$'\r'/}
  echo "$name: $(( ($(date +%s%N) - t0) / 1000000 )) ms"
  if [ "$rc" != "$want" ]; then
    echo "FAIL $name: exit $rc, expected $want"; echo "$out" | sed 's/^/    /'; fails=$((fails + 1)); return 1
  fi
  return 0
}
# has NAME EXTENDED-REGEX : the last output has a line matching
has() {
  if ! grep -Eq -- "$2" <<<"$out"; then
    echo "FAIL $1: no line matching /$2/"; echo "$out" | sed 's/^/    /'; fails=$((fails + 1))
  fi
}
lines() {  # NAME REGEX COUNT
  local n
  n=$(grep -Ec -- "$2" <<<"$out")
  if [ "$n" != "$3" ]; then
    echo "FAIL $1: $n lines matching /$2/, expected $3"; echo "$out" | sed 's/^/    /'; fails=$((fails + 1))
  fi
}

if run ping-loopback 0 "$qvping" 127.0.0.1 -n 3; then
  has ping-loopback '^Pinging 127\.0\.0\.1 with 32 bytes of data:$'
  lines ping-loopback '^Reply from 127\.0\.0\.1: bytes=32 time(<1|=[0-9]+)ms$' 3
  has ping-loopback '^    Packets: Sent = 3, Received = 3, Lost = 0 \(0% loss\),$'
  has ping-loopback '^    Minimum = [0-9]+ms, Maximum = [0-9]+ms, Average = [0-9]+ms$'
fi
if run ping-name 0 "$qvping" -l 100 -n 1 mirror1.norv.test; then
  has ping-name '^Pinging mirror1\.norv\.test \[127\.0\.0\.11\] with 100 bytes of data:$'
  has ping-name '^Reply from 127\.0\.0\.11: bytes=100 '
fi
start=$(date +%s%N)
if run ping-silent 1 "$qvping" -w 300 "$silent" -n 2; then
  lines ping-silent '^Request timed out\.$' 2
  has ping-silent 'Sent = 2, Received = 0, Lost = 2 \(100% loss\)'
  ms=$(( ($(date +%s%N) - start) / 1000000 ))
  # The process's own start counts too: NORV_TIME_SCALE widens the limit where
  # 32-bit code is emulated.
  limit=$((4000 * ${NORV_TIME_SCALE:-1}))
  [ "$ms" -lt "$limit" ] || { echo "FAIL ping-silent: took $ms ms for two 300 ms time-outs"; fails=$((fails + 1)); }
fi
if run ping-unknown 1 "$qvping" nosuch.norv.test; then
  has ping-unknown 'could not find host nosuch\.norv\.test'
fi
if run ping-unreachable 1 "$qvping" -n 2 198.18.9.1; then
  lines ping-unreachable '^Reply from 198\.18\.4\.2: Destination host unreachable\.$' 2
fi
run ping-bad-option 1 "$qvping" -x 1 127.0.0.1 && has ping-bad-option '^Usage: qvping HOST'
run ping-bad-size 1 "$qvping" 127.0.0.1 -l 65536 && has ping-bad-size 'valid range is from 0 to 65535'
run ping-no-value 1 "$qvping" 127.0.0.1 -n && has ping-no-value 'Value must be supplied for option -n'
run ping-no-host 1 "$qvping" -n 2 && has ping-no-host '^Usage:'

if run trace-route 0 "$qvtrace" 198.18.3.2 -w 1000; then
  has trace-route '^Tracing route to 198\.18\.3\.2 over a maximum of 30 hops$'
  has trace-route '^  1 .* ms .* ms .* ms  198\.18\.1\.2$'
  has trace-route '^  2 .* ms .* ms .* ms  198\.18\.2\.2$'
  has trace-route '^  3 .* ms .* ms .* ms  198\.18\.3\.2$'
  lines trace-route '^ +[0-9]+ ' 3
  has trace-route '^Trace complete\.$'
fi
# -h counts the hops probed
if run trace-max-hops 0 "$qvtrace" -h 2 198.18.3.2; then
  has trace-max-hops 'over a maximum of 2 hops'
  lines trace-max-hops '^ +[0-9]+ ' 2
fi
if run trace-unreachable 0 "$qvtrace" -w 1000 198.18.9.1; then
  has trace-unreachable '^  3  198\.18\.4\.2  reports: Destination host unreachable\.$'
  lines trace-unreachable '^ +[0-9]+ ' 3
fi
if run trace-silent 1 "$qvtrace" -h 2 -w 200 "$silent"; then
  lines trace-silent '^ +[0-9]+ +\* +\* +\* +Request timed out\.$' 2
fi
run trace-unknown 1 "$qvtrace" nosuch.norv.test && has trace-unknown 'Unable to resolve target system name nosuch\.norv\.test'
run trace-bad-hops 1 "$qvtrace" -h 0 127.0.0.1 && has trace-bad-hops 'valid range is from 1 to 255'

[ "$fails" -eq 0 ] && echo "tools-test: all checks passed"
exit $((fails > 0))
