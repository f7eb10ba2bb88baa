#!/usr/bin/env bash
# Runs a command as a machine whose kernel does not run 32-bit code sees it,
# without changing this machine's binfmt_misc:
#   scripts/emulated32.sh make test
#   scripts/emulated32.sh bash scripts/run-tests.sh --run 'cd build/win32 && ctest -L product'
# The command runs with NORV_FORCE_QEMU=1 in a user namespace of its own whose
# user and group ids are the machine's (0 to 65535, so vsftpd can still drop
# to its ftp user), with a mount namespace and a binfmt_misc instance of its
# own (Linux 6.7 and later): the qemu handler that run32.sh registers there is
# seen by this command and its children only. Needs root.
set -u
if [ "$(id -u)" -ne 0 ]; then echo "emulated32: needs root" >&2; exit 2; fi
[ $# -gt 0 ] || { echo "usage: emulated32.sh COMMAND [ARG...]" >&2; exit 2; }
unshare --user --mount bash -c '
  while [ "$(id -u)" != 0 ]; do sleep 0.02; done
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || {
    echo "emulated32: this kernel has no binfmt_misc of its own for a user namespace (Linux 6.7 and later)" >&2
    exit 2
  }
  export NORV_FORCE_QEMU=1
  exec "$@"' emulated32 "$@" &
pid=$!
# The ids map one to one; the new namespace waits above until they do.
mine=$(readlink /proc/self/ns/user)
for _ in $(seq 1 500); do
  ns=$(readlink "/proc/$pid/ns/user" 2>/dev/null) || break
  [ "$ns" != "$mine" ] && break
  sleep 0.01
done
echo "0 0 65536" >"/proc/$pid/uid_map"
echo allow >"/proc/$pid/setgroups"
echo "0 0 65536" >"/proc/$pid/gid_map"
wait "$pid"
