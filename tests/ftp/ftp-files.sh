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
# A folder of known content for the listings.
mkdir -p "$root/list/gamma"
printf 'alpha' > "$root/list/alpha.txt"
head -c 1024 /dev/zero > "$root/list/beta.bin"
chmod -R a+rX "$root/list"
