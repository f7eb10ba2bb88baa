#!/usr/bin/env python3
"""Writes a zip archive with Python's zipfile, for the unpacker tests.

make_zip.py OUT stored|deflated|zip64 NAME=FILE... (NAME ending in / is a directory)
"""
import sys
import zipfile

out, mode, *members = sys.argv[1:]
method = zipfile.ZIP_STORED if mode == "stored" else zipfile.ZIP_DEFLATED
with zipfile.ZipFile(out, "w", compression=method) as z:
    for member in members:
        name, _, path = member.partition("=")
        if name.endswith("/"):
            z.writestr(zipfile.ZipInfo(name), b"")
            continue
        with open(path, "rb") as f:
            data = f.read()
        if mode == "zip64":
            with z.open(name, "w", force_zip64=True) as w:
                w.write(data)
        else:
            z.writestr(name, data)
