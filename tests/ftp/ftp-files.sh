#!/usr/bin/env bash
# The files the FTP client's tests download from vsftpd: ftp-files.sh ROOT
set -eu
root=$1
mkdir -p "$root/sub"
printf 'NORV Update test file\r\nsecond line\r\n' > "$root/small.txt"
printf 'inside sub\n' > "$root/sub/inner.txt"
: > "$root/empty.bin"
big=$root/big64.bin
if [ ! -f "$big" ] || [ "$(stat -c %s "$big")" -ne 67108864 ]; then
  head -c 67108864 /dev/urandom > "$big.tmp" && mv "$big.tmp" "$big"
fi
chmod -R a+rX "$root"
