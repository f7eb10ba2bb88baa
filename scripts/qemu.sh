#!/usr/bin/env bash
# Puts a current qemu user-mode emulator for i386 into the build tree:
#   BUILD/qemu/qemu-i386   (statically linked, from Debian's qemu-user)
#
# Where the kernel does not run 32-bit code, 32-bit Wine runs through this
# emulator (scripts/run32.sh registers it). The machine's own qemu-user
# (Debian 12: 7.2) takes about 50 s to start each 32-bit Wine process and now
# and then dies on an illegal instruction; 10.0 starts one in under a second.
#
# The package comes from Debian's bookworm-backports through apt, with a
# private sources list and lists folder under BUILD/qemu/apt: the machine's apt
# sources, lists and installed packages stay as they were. The version is
# pinned and the package's SHA-256 is checked before anything is unpacked.
#
# Exit status 0 when BUILD/qemu/qemu-i386 is there (fetched now or before),
# 1 with a message on stderr when it cannot be had; callers decide whether
# that matters (it does not where the kernel runs 32-bit code).
set -u
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$root/build}
case "$build" in /*) ;; *) build=$root/$build ;; esac

# Tested with the whole 32-bit suite and the product stage; a new version is
# a new pin: change all three lines together after running both.
QEMU_SUITE=bookworm-backports
QEMU_VERSION='1:10.0.2+ds-2+deb13u1~bpo12+1'
QEMU_SHA256=10a2dec99f2b2d0b1097ff0375aea35b89322d6631fc96700511b02e05bf6fef

dir=$build/qemu
out=$dir/qemu-i386
stamp=$dir/version

if [ -x "$out" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$QEMU_VERSION $QEMU_SHA256" ]; then
  exit 0
fi

fail() {
  echo "qemu: $*" >&2
  echo "qemu: qemu-user $QEMU_VERSION from $QEMU_SUITE cannot be had; where the kernel lacks 32-bit" \
       "support, 32-bit code then runs through the machine's own qemu-user, which is slow and unreliable" >&2
  exit 1
}

apt=$dir/apt
rm -rf "$dir"
mkdir -p "$apt/lists/partial" "$apt/archives/partial" "$apt/get"
keyring=/usr/share/keyrings/debian-archive-keyring.gpg
[ -f "$keyring" ] || fail "no Debian archive keyring at $keyring"
mirror=$(sed -n 's/^URIs: *\(http[^ ]*debian\)$/\1/p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -1)
[ -n "$mirror" ] || mirror=http://deb.debian.org/debian
echo "deb [signed-by=$keyring] $mirror $QEMU_SUITE main" >"$apt/sources.list"
arch=$(dpkg --print-architecture)
[ "$arch" = amd64 ] || fail "no pinned package for $arch"
opts=(-q -o "Dir::Etc::sourcelist=$apt/sources.list" -o Dir::Etc::sourceparts=-
      -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache"
      -o APT::Architecture=amd64 -o APT::Architectures=amd64
      -o APT::Sandbox::User=root)
mkdir -p "$apt/cache"
ok=
for i in 1 2 3; do
  if apt-get "${opts[@]}" update >"$apt/update.log" 2>&1; then ok=1; break; fi
  sleep 3
done
[ -n "$ok" ] || fail "apt-get update of $QEMU_SUITE failed: $(tail -1 "$apt/update.log")"
(cd "$apt/get" && apt-get "${opts[@]}" download "qemu-user=$QEMU_VERSION") >"$apt/download.log" 2>&1 ||
  fail "apt-get download failed: $(tail -1 "$apt/download.log")"
deb=$(ls "$apt/get"/*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || fail "apt-get download left no package"
sum=$(sha256sum "$deb" | cut -d' ' -f1)
[ "$sum" = "$QEMU_SHA256" ] || fail "$(basename "$deb") has SHA-256 $sum, expected $QEMU_SHA256"
dpkg-deb --fsys-tarfile "$deb" | tar -x -C "$apt" ./usr/bin/qemu-i386 ||
  fail "the package holds no usr/bin/qemu-i386"
mv "$apt/usr/bin/qemu-i386" "$out"
chmod 755 "$out"
rm -rf "$apt"
# It must run on its own: the binfmt handler is opened once and then used in
# every namespace, with no library path of the machine's.
"$out" --version >/dev/null 2>&1 || { rm -f "$out"; fail "the unpacked qemu-i386 does not run"; }
echo "$QEMU_VERSION $QEMU_SHA256" >"$stamp"
echo "qemu: $("$out" --version | head -1) in $out" >&2
