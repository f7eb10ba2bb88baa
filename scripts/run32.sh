#!/usr/bin/env bash
# Makes sure 32-bit Linux programs run, so that 32-bit Wine (and with it the
# 32-bit product) can. Prints one line that says how they run:
#   natively           the kernel runs i386 code itself: nothing is changed;
#   through HANDLER    a binfmt_misc handler that the machine already had;
#   registered HANDLER this script registered qemu user-mode emulation
#                      (Debian qemu-user) for i386 ELF programs.
# Exit status 0 when 32-bit programs run in the end, 1 when they do not.
# The probe is the 32-bit Wine loader itself: what the stage needs to run.
# Needs root only when it has to register a handler. To take a handler that
# this registered away again: echo -1 > /proc/sys/fs/binfmt_misc/norv-i386
set -u
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
if [ -z "${NORV_FORCE_QEMU:-}" ] && runs32; then
  if h=$(i386_handler); then echo "32-bit code runs through the handler the machine has ($h)"
  else echo "32-bit code runs natively"; fi
  exit 0
fi

# The kernel does not run i386 code. Emulate it, unless a handler is there
# already (then it is the machine's own, and it does not work: say so).
if h=$(i386_handler); then
  if [ -n "${NORV_FORCE_QEMU:-}" ] && runs32; then echo "32-bit code runs through the handler the machine has ($h)"; exit 0; fi
  echo "32-bit code: the machine's i386 handler ($h) does not run $probe" >&2
  exit 1
fi
qemu=/usr/bin/qemu-i386
if [ ! -x "$qemu" ]; then
  echo "32-bit code does not run, and $qemu is missing (make deps installs qemu-user)" >&2
  exit 1
fi
if [ ! -e "$misc/register" ]; then
  mount -t binfmt_misc binfmt_misc "$misc" 2>/dev/null || {
    echo "32-bit code does not run, and binfmt_misc cannot be mounted (root needed)" >&2
    exit 1
  }
fi
# i386 ELF executables and shared objects (e_type 2 or 3), any ABI byte; F opens
# the interpreter now, so it works in every mount namespace.
magic='\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00'
mask='\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff'
if [ ! -e "$misc/$name" ]; then
  printf ':%s:M::%s:%s:%s:F\n' "$name" "$magic" "$mask" "$qemu" >"$misc/register" 2>/dev/null || {
    echo "32-bit code does not run, and the qemu handler could not be registered (root needed)" >&2
    exit 1
  }
fi
if runs32; then
  echo "32-bit code runs through qemu user-mode emulation: registered $name ($qemu) with binfmt_misc"
  exit 0
fi
echo "32-bit code does not run even through $qemu" >&2
exit 1
