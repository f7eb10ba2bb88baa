#!/usr/bin/env bash
# Makes sure 32-bit Linux programs run, so that 32-bit Wine (and with it the
# 32-bit product) can. Prints one line that says how they run:
#   natively           the kernel runs i386 code itself: nothing is changed;
#   through HANDLER    a binfmt_misc handler that the machine already had;
#   through qemu V     this script registered qemu user-mode emulation for
#                      i386 ELF programs: the emulator that make deps put in
#                      BUILD/qemu (scripts/qemu.sh, "current"), or the
#                      machine's own qemu-user where that one is missing ("old").
# Exit status 0 when 32-bit programs run in the end, 1 when they do not.
# The probe is the 32-bit Wine loader itself: what the stage needs to run.
# Needs root only when it has to register a handler. To take a handler that
# this registered away again: echo -1 > /proc/sys/fs/binfmt_misc/norv-i386
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$root/build}
case "$build" in /*) ;; *) build=$root/$build ;; esac
probe=/usr/lib/wine/wine
name=norv-i386
misc=/proc/sys/fs/binfmt_misc

runs32() { timeout 120 "$probe" --version >/dev/null 2>&1; }

# The i386 handler that binfmt_misc has, if any: the first enabled entry whose
# magic is the i386 ELF header.
i386_handler() {
  [ -d "$misc" ] || return 1
  local f
  for f in "$misc"/*; do
    case "$(basename "$f")" in register|status) continue ;; esac
    grep -q '^enabled' "$f" 2>/dev/null || continue
    grep -q '^magic 7f454c4601010100000000000000000002000300' "$f" 2>/dev/null || continue
    sed -n 's/^interpreter //p' "$f"
    return 0
  done
  return 1
}

if [ ! -x "$probe" ]; then
  echo "32-bit code: no 32-bit Wine loader at $probe (make deps installs wine32:i386)" >&2
  exit 1
fi

# NORV_FORCE_QEMU=1 registers the emulation even where the kernel runs i386
# code itself: to see on such a machine what a machine without it does.
# Without it, our own handler from an earlier run is set aside for the probe,
# so that a kernel that runs i386 code is found as such; the handler is taken
# away there, and enabled again where it is still needed.
if [ -z "${NORV_FORCE_QEMU:-}" ] && [ -e "$misc/$name" ]; then
  echo 0 >"$misc/$name" 2>/dev/null
  if runs32; then
    echo -1 >"$misc/$name" 2>/dev/null
  else
    echo 1 >"$misc/$name" 2>/dev/null
  fi
fi
if [ -z "${NORV_FORCE_QEMU:-}" ] && ! [ -e "$misc/$name" ] && runs32; then
  if h=$(i386_handler); then echo "32-bit code runs through the handler the machine has ($h)"
  else echo "32-bit code runs natively (the kernel runs i386 code)"; fi
  exit 0
fi

# The kernel does not run i386 code. Emulate it, unless a handler is there
# already that is not ours (then it is the machine's own: use it if it works).
if h=$(i386_handler) && ! [ -e "$misc/$name" ]; then
  if runs32; then echo "32-bit code runs through the handler the machine has ($h)"; exit 0; fi
  echo "32-bit code: the machine's i386 handler ($h) does not run $probe" >&2
  exit 1
fi
# The emulator that make deps put into the build tree (scripts/qemu.sh); the
# machine's own qemu-user only when that one could not be had.
qemu=$build/qemu/qemu-i386
kind=current
if [ ! -x "$qemu" ]; then
  qemu=/usr/bin/qemu-i386
  kind=old
  if [ ! -x "$qemu" ]; then
    echo "32-bit code does not run: no emulator in $build/qemu (make deps fetches it) and no $qemu" >&2
    exit 1
  fi
  echo "32-bit code: $build/qemu/qemu-i386 is missing (make deps fetches it); falling back to" \
       "$qemu ($("$qemu" --version | sed -n '1s/.*version \([^ ]*\).*/\1/p')), which takes about 50 s" \
       "to start each 32-bit process and is not reliable" >&2
fi
if [ ! -e "$misc/register" ]; then
  mount -t binfmt_misc binfmt_misc "$misc" 2>/dev/null || {
    echo "32-bit code does not run, and binfmt_misc cannot be mounted (root needed)" >&2
    exit 1
  }
fi
# Our own entry, from an earlier run, may name another emulator: replace it.
if [ -e "$misc/$name" ] && [ "$(sed -n 's/^interpreter //p' "$misc/$name")" != "$qemu" ]; then
  echo -1 >"$misc/$name" 2>/dev/null || {
    echo "32-bit code: the handler $name names another emulator and cannot be removed (root needed)" >&2
    exit 1
  }
fi
# i386 ELF executables and shared objects (e_type 2 or 3), any ABI byte; F opens
# the interpreter now, so it works in every mount namespace (and after the
# build tree that holds it is gone).
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
if [ ! -e "$misc/$name" ]; then
  printf ':%s:M::%s:%s:%s:F\n' "$name" "$magic" "$mask" "$qemu" >"$misc/register" 2>/dev/null || {
    echo "32-bit code does not run, and the qemu handler could not be registered (root needed)" >&2
    exit 1
  }
fi
ver=$("$qemu" --version | sed -n '1s/.*version \([^ ]*\).*/\1/p')
if runs32; then
  why="the kernel does not run i386 code"
  [ -n "${NORV_FORCE_QEMU:-}" ] && why="NORV_FORCE_QEMU is set"
  echo "32-bit code runs through qemu $ver user-mode emulation ($kind; $why): registered $name ($qemu) with binfmt_misc"
  exit 0
fi
echo "32-bit code does not run even through $qemu" >&2
exit 1
