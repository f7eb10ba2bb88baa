#!/usr/bin/env bash
# make dist: the release folder (32-bit build), a .zip of it, and the symbols
# archive beside it.
#  - Each release file is stripped of its debug information, which goes into
#    FILE.debug in NorvUpdate-symbols.zip; the file names it by .gnu_debuglink,
#    so unpacking both archives into one folder lets gdb or addr2line read a
#    crash address of the release.
#  - Each release file is then signed (Authenticode, SHA-256) with osslsigncode:
#    with the publisher's certificate and key given by NORV_SIGN_CERT and
#    NORV_SIGN_KEY (PEM; NORV_SIGN_PASS_FILE holds the key's password if it
#    has one), else with a throwaway self-signed test certificate made once per
#    build folder (build/signing/), so every build's release is signed and the
#    release check can verify it. No time-stamp: the build is offline.
#  - The certificate that verifies the signatures is recorded beside the
#    archives (NorvUpdate-signer.pem; NORV_SIGN_CA when the publisher's chain
#    ends in another root).
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${BUILD:-$root/build}
bin="$build/win32/bin"
dist="$build/dist"
out="$dist/NorvUpdate"
symbols="$dist/symbols/NorvUpdate"
files=(NorvUpdate.exe Romscope.dll NorvSite.dll Romwrite.exe unzip32.dll)
objcopy=i686-w64-mingw32-objcopy

rm -rf "$out" "$dist/symbols" "$dist/NorvUpdate.zip" "$dist/NorvUpdate-symbols.zip" "$dist/NorvUpdate-signer.pem"
mkdir -p "$out" "$symbols"

if [ -n "${NORV_SIGN_CERT:-}" ] || [ -n "${NORV_SIGN_KEY:-}" ]; then
  : "${NORV_SIGN_CERT:?NORV_SIGN_KEY is set: NORV_SIGN_CERT must name the certificate too}"
  : "${NORV_SIGN_KEY:?NORV_SIGN_CERT is set: NORV_SIGN_KEY must name the key too}"
  cert=$NORV_SIGN_CERT key=$NORV_SIGN_KEY ca=${NORV_SIGN_CA:-$NORV_SIGN_CERT}
  echo "signing with $cert"
else
  signing="$build/signing"
  cert="$signing/test-cert.pem" key="$signing/test-key.pem" ca="$signing/test-cert.pem"
  if [ ! -f "$cert" ] || [ ! -f "$key" ]; then
    mkdir -p "$signing"
    openssl req -x509 -newkey rsa:3072 -nodes -days 3650 -sha256 -keyout "$key" -out "$cert" \
      -subj "/O=NORV/CN=NORV Update test signing (not for release)" \
      -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" 2>/dev/null
  fi
  echo "signing with the build's test certificate $cert (not for a release)"
fi
pass=()
[ -n "${NORV_SIGN_PASS_FILE:-}" ] && pass=(-readpass "$NORV_SIGN_PASS_FILE")

printf '%-16s %10s %10s\n' file built released
for f in "${files[@]}"; do
  cp "$bin/$f" "$out/"
  before=$(stat -c %s "$out/$f")
  "$objcopy" --only-keep-debug "$out/$f" "$symbols/$f.debug"
  "$objcopy" --strip-all --add-gnu-debuglink="$symbols/$f.debug" "$out/$f"
  osslsigncode sign -certs "$cert" -key "$key" "${pass[@]}" -h sha256 -n "NORV Update" \
    -in "$out/$f" -out "$out/$f.signed" >/dev/null
  mv "$out/$f.signed" "$out/$f"
  chmod 755 "$out/$f"
  osslsigncode verify -CAfile "$ca" -in "$out/$f" >/dev/null \
    || { echo "dist: the signature of $f does not verify" >&2; exit 1; }
  printf '%-16s %10d %10d\n' "$f" "$before" "$(stat -c %s "$out/$f")"
done
cp "$ca" "$dist/NorvUpdate-signer.pem"
(cd "$dist" && zip -q -r NorvUpdate.zip NorvUpdate)
(cd "$dist/symbols" && zip -q -r ../NorvUpdate-symbols.zip NorvUpdate)
echo "release folder: $out"
echo "release archive: $dist/NorvUpdate.zip"
echo "symbols archive: $dist/NorvUpdate-symbols.zip"
