#!/usr/bin/env bash
# Publisher keys and signature vectors for the demo and the tests, never for a
# release: made once per build folder with openssl.
#   make-test-keys.sh DIR
# DIR/publisher.pem (RSA-3072) signs the demo and test sites; other.pem
# (RSA-2048) is a stranger's key; short.pem (RSA-1024) is too short to trust.
# Each KEY.pem has KEY.der beside it, the public half as DER
# SubjectPublicKeyInfo, which is what a site library carries. vector.bin is
# signed by publisher and by other (vector.bin.sig, vector.bin.other.sig) and
# its SHA-256 is in vector.sha256.
set -euo pipefail
dir=$1
[ -f "$dir/done" ] && exit 0
mkdir -p "$dir"
for k in publisher:3072 other:2048 short:1024; do
  name=${k%%:*}; bits=${k#*:}
  openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:$bits -out "$dir/$name.pem" 2>/dev/null
  openssl pkey -in "$dir/$name.pem" -pubout -outform DER -out "$dir/$name.der"
  openssl pkey -in "$dir/$name.pem" -pubout -out "$dir/$name.pub.pem"
done
# Bytes of every value, a little over one hashing block of the readers.
python3 -c 'import sys; sys.stdout.buffer.write(bytes(range(256)) * 300 + b"end\n")' > "$dir/vector.bin"
openssl dgst -sha256 -sign "$dir/publisher.pem" -out "$dir/vector.bin.sig" "$dir/vector.bin"
openssl dgst -sha256 -sign "$dir/other.pem" -out "$dir/vector.bin.other.sig" "$dir/vector.bin"
openssl dgst -sha256 -sign "$dir/short.pem" -out "$dir/vector.bin.short.sig" "$dir/vector.bin"
openssl dgst -sha256 -r "$dir/vector.bin" | cut -c1-64 > "$dir/vector.sha256"
touch "$dir/done"
