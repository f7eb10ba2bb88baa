#!/usr/bin/env python3
"""Turns a plain list of sites into the resource script of a site library.

Each line of the list: a host name (or dotted address), blanks, the site's
directory on its FTP server. Empty lines and lines starting with "#" are
skipped. The library holds "Integer" #1 (the count, 32-bit little-endian),
"SiteName" #k and "SitePath" #k (texts ending in a zero byte), k = 1..N.

  make-site-rc.py SITES.txt OUT.rc [--no-count] [--count N] [--key KEY]
--no-count leaves out "Integer" #1 (a broken library, for tests);
--count N writes N instead of the number of sites;
--key KEY adds "PublicKey" #1, the publisher's public key as DER
SubjectPublicKeyInfo (KEY is that DER file or its PEM form, as
`openssl pkey -pubout` writes them). With a key the wizard accepts only index
files signed by it and packages that match their checksum.
"""
import base64
import sys


def key_der(path):
    data = open(path, "rb").read()
    if b"-----BEGIN PUBLIC KEY-----" in data:
        body = data.split(b"-----BEGIN PUBLIC KEY-----", 1)[1].split(b"-----END PUBLIC KEY-----", 1)[0]
        data = base64.b64decode(b"".join(body.split()))
    if not data or data[0] != 0x30:
        sys.exit("make-site-rc.py: %s is not a public key (PEM or DER SubjectPublicKeyInfo)" % path)
    return data


def rc_bytes(data):
    # Raw bytes: octal escapes throughout, no terminating zero.
    return ",\n  ".join('"' + "".join("\\%03o" % b for b in data[i:i + 32]) + '"'
                       for i in range(0, len(data), 32))


def rc_string(text):
    out = []
    for ch in text.encode("latin-1"):
        if ch in (0x22, 0x5C) or ch < 0x20 or ch > 0x7E:
            out.append("\\%03o" % ch)
        else:
            out.append(chr(ch))
    return '"' + "".join(out) + '\\0"'


def main():
    args = sys.argv[1:]
    no_count = "--no-count" in args
    count = None
    if "--count" in args:
        count = int(args[args.index("--count") + 1])
    key = None
    if "--key" in args:
        i = args.index("--key")
        key = key_der(args[i + 1])
        del args[i:i + 2]
    src, out = [a for a in args if not a.startswith("--") and not a.lstrip("-").isdigit()][:2]
    sites = []
    for line in open(src, encoding="latin-1"):
        line = line.strip()
        if not line or line.startswith("#"):
            continue
        parts = line.split(None, 1)
        sites.append((parts[0], parts[1].strip() if len(parts) > 1 else ""))
    n = len(sites) if count is None else count
    with open(out, "w", encoding="latin-1") as f:
        f.write("// Made by make-site-rc.py from %s\n" % src)
        if not no_count:
            f.write("1 Integer { %dL }\n" % n)
        for k, (name, path) in enumerate(sites, 1):
            f.write("%d SiteName { %s }\n" % (k, rc_string(name)))
            f.write("%d SitePath { %s }\n" % (k, rc_string(path)))
        if key is not None:
            f.write("1 PublicKey {\n  %s\n}\n" % rc_bytes(key))


main()
