#!/usr/bin/env bash
# The hermetic test runner. Runs every suite inside a fresh network namespace
# (and a mount namespace with a private /etc/hosts), so fixed ports, mirror
# addresses, host names and the silent host are the tests' own and no packet
# leaves the machine.
#
#   run-tests.sh            native suites, the Win32 suites under 64-bit Wine,
#                           the product stage (the 32-bit release), and the
#                           32-bit suites (natively, or through qemu where the
#                           kernel does not run 32-bit code)
#   run-tests.sh --bench    the benchmarks under bench/ instead
#   run-tests.sh --shell    an interactive shell inside the environment
#   run-tests.sh --run CMD  one command inside the environment (for example
#                           "cd build/win64 && ctest -R socket --output-on-failure")
# NORV_HOSTS names another hosts file (the demo's); NORV_USE_DISPLAY=1 uses the
# caller's DISPLAY instead of starting Xvfb.
#
# Inside: loopback up; a veth pair with a static neighbour entry for the silent
# address NORV_SILENT_ADDR (packets to it vanish); Xvfb; a persistent
# wineserver with the project's WINEPREFIX under build/. Everything started
# here is stopped at the end by its process id.
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$root/build}
case "$build" in /*) ;; *) build=$root/$build ;; esac

if [ -z "${NORV_IN_NS:-}" ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo -E"
  # The product is 32-bit: 32-bit Wine must run (natively, or through qemu
  # user-mode emulation that this registers when the kernel lacks it).
  how=$($sudo env BUILD="$build" NORV_FORCE_QEMU="${NORV_FORCE_QEMU:-}" bash "$root/scripts/run32.sh") || exit 1
  echo "run-tests: $how" >&2
  case "$how" in *natively*) run32=native ;; *"(old"*) run32=emulated-old ;; *) run32=emulated ;; esac
  exec $sudo unshare --net --mount --fork env NORV_IN_NS=1 BUILD="$build" NORV_HOSTS="${NORV_HOSTS:-}" NORV_RUN32="$run32" \
    NORV_USE_DISPLAY="${NORV_USE_DISPLAY:-}" DISPLAY="${DISPLAY:-}" XAUTHORITY="${XAUTHORITY:-}" bash "$0" "$@"
fi

mode=test
[ "${1:-}" = "--bench" ] && mode=bench
[ "${1:-}" = "--shell" ] && mode=shell
[ "${1:-}" = "--run" ] && mode=run

pids=()
cleanup() {
  if [ -n "${WINEPREFIX:-}" ]; then /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true; fi
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  # vsftpd instances that fixtures or benchmarks left running
  for f in "$build"/*/fixtures/*/pid "$build"/bench/*/pid; do
    [ -f "$f" ] && kill "$(cat "$f")" 2>/dev/null && rm -f "$f"
  done
  wait 2>/dev/null
}
trap cleanup EXIT

# --- network -----------------------------------------------------------------
ip link set lo up
mount --bind "${NORV_HOSTS:-$root/tests/hosts}" /etc/hosts
# Named namespaces of the tests (ip netns add) are this run's own: a second run
# on the same machine, with the same names, neither sees nor removes them.
mkdir -p /run/netns
mount -t tmpfs -o mode=755 norv-netns /run/netns
ip link add norv-s0 type veth peer name norv-s1
ip addr add 198.18.0.1/24 dev norv-s0
ip link set norv-s0 up
ip link set norv-s1 up
ip neigh replace 198.18.0.2 lladdr 02:00:5e:00:00:02 dev norv-s0 nud permanent
export NORV_SILENT_ADDR=198.18.0.2
# Echo for everyone in the namespace (Wine's ICMP uses ping sockets when not root).
sysctl -qw net.ipv4.ping_group_range="0 2147483647" 2>/dev/null || true

# --- display -----------------------------------------------------------------
if [ -z "${NORV_USE_DISPLAY:-}" ]; then
  disp=90
  while [ -e "/tmp/.X$disp-lock" ] || [ -e "/tmp/.X11-unix/X$disp" ]; do disp=$((disp + 1)); done
  Xvfb ":$disp" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  pids+=($!)
  export DISPLAY=":$disp"
  for _ in $(seq 1 100); do xdpyinfo >/dev/null 2>&1 && break; sleep 0.05; done
fi

# --- wine --------------------------------------------------------------------
export WINEPREFIX="$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export NORV_SCREENSHOTS="$(cd "$build" && pwd)/screenshots"
mkdir -p "$NORV_SCREENSHOTS"
export NORV_SCREENSHOTS="Z:${NORV_SCREENSHOTS//\//\\}"
bash "$root/scripts/wineprefix.sh" run-tests || exit 1

rc=0
case "$mode" in
shell)
  bash -i
  ;;
run)
  shift
  (cd "$root" && bash -c "$*") || rc=$?
  ;;
bench)
  for b in "$root"/bench/*.sh; do
    [ -f "$b" ] || continue
    echo "=== $(basename "$b")"
    BUILD="$build" bash "$b" || rc=1
  done
  ;;
test)
  echo "=== native suites"
  (cd "$build/native" && ctest --output-on-failure) || rc=1
  echo "=== Win32 suites under 64-bit Wine (build/win64)"
  (cd "$build/win64" && ctest --output-on-failure) || rc=1
  echo "=== the product stage: the 32-bit release under 32-bit Wine ($NORV_RUN32)"
  # Natively or through the current emulator every 32-bit suite runs. Only the
  # machine's old qemu-user (the fallback when the current one could not be
  # fetched) needs more: about 50 s of CPU to start each 32-bit process, so the
  # drivers' deadlines grow to match, the cases that it does not run reliably
  # are left out (label product-native, see tests/product), and the 32-bit
  # suites beyond the product stage are skipped.
  if [ "$NORV_RUN32" != emulated-old ]; then
    (cd "$build/win32" && ctest --output-on-failure -L product) || rc=1
    echo "=== Win32 suites on the 32-bit build under 32-bit Wine (build/win32, $NORV_RUN32)"
    (cd "$build/win32" && ctest --output-on-failure -LE product) || rc=1
  else
    (cd "$build/win32" && NORV_TIME_SCALE=20 ctest --output-on-failure -L product -LE product-native) || rc=1
    echo "=== 32-bit suites beyond the product stage: skipped (the old emulator is all this machine has)"
  fi
  ;;
esac
exit $rc
