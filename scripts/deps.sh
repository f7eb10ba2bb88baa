#!/usr/bin/env bash
# Installs everything the build, the tests and the demo need, from Debian packages,
# and does nothing else to the machine: the tests start their own vsftpd
# instances inside their own network namespaces, beside any system service.
# Idempotent: when every package is present it only checks and returns.
set -euo pipefail

PKGS=(
  build-essential cmake make pkg-config git
  g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev
  g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix mingw-w64-x86-64-dev
  libz-mingw-w64-dev zlib1g-dev libssl-dev openssl osslsigncode
  wine wine32:i386 wine64 fonts-wine qemu-user xvfb xauth x11-utils xdotool
  vsftpd zip unzip imagemagick curl socat
  clang libclang-rt-14-dev googletest libgtest-dev libgmock-dev
  iproute2 iputils-ping procps psmisc python3 time bc nftables
)

SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi

missing=()
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  missing=(arch)
else
  for p in "${PKGS[@]}"; do
    name="${p%%:*}"; arch="${p#*:}"; [ "$arch" = "$p" ] && arch=""
    q="$name"; [ -n "$arch" ] && q="$name:$arch"
    st=$(dpkg-query -W -f='${db:Status-Status}' "$q" 2>/dev/null || true)
    [ "$st" = "installed" ] || missing+=("$p")
  done
fi

# The current i386 emulator, into the build tree (a no-op once it is there).
# Only a machine whose kernel lacks 32-bit support needs it: scripts/run32.sh
# says so, and falls back to the machine's qemu-user, when it is missing.
fetch_qemu() { bash "$(dirname "${BASH_SOURCE[0]}")/qemu.sh" || true; }

if [ ${#missing[@]} -eq 0 ]; then
  fetch_qemu
  exit 0
fi

echo "deps: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO dpkg --add-architecture i386
# A mirror in mid-sync can fail one index; retry, then go on with what we have.
for i in 1 2 3; do
  if $SUDO apt-get update -q; then break; fi
  sleep 5
done
if ! $SUDO apt-get install -y -q --no-install-recommends "${PKGS[@]}"; then
  # When the i386 index of the security suite could not be fetched, the i386
  # halves of multi-arch libraries cannot follow amd64 security upgrades; the
  # release suite's versions then install as one consistent set.
  echo "deps: retrying with the release suite preferred" >&2
  rel=$(. /etc/os-release; echo "${VERSION_CODENAME:-bookworm}")
  $SUDO apt-get install -y -q --no-install-recommends -o APT::Default-Release="$rel" "${PKGS[@]}"
fi
fetch_qemu
