#!/usr/bin/env python3
"""Writes an 8-bit (256-entry palette) Windows bitmap from a binary PPM file
whose image holds at most 256 colours. Usage: bmp8.py IN.ppm OUT.bmp"""
import struct
import sys


def read_ppm(path):
    data = open(path, "rb").read()
    fields, pos = [], 0
    while len(fields) < 4:
        while data[pos:pos + 1].isspace():
            pos += 1
        if data[pos:pos + 1] == b"#":
            pos = data.index(b"\n", pos)
            continue
        end = pos
        while not data[end:end + 1].isspace():
            end += 1
        fields.append(data[pos:end])
        pos = end
    if fields[0] != b"P6" or fields[3] != b"255":
        raise SystemExit("expected an 8-bit binary PPM")
    w, h = int(fields[1]), int(fields[2])
    pix = data[pos + 1:pos + 1 + w * h * 3]
    return w, h, [pix[i:i + 3] for i in range(0, len(pix), 3)]


def main():
    w, h, px = read_ppm(sys.argv[1])
    palette = sorted(set(px))
    if len(palette) > 256:
        raise SystemExit("more than 256 colours")
    index = {c: i for i, c in enumerate(palette)}
    stride = (w + 3) & ~3
    rows = b""
    for y in range(h - 1, -1, -1):  # bottom-up
        row = bytes(index[px[y * w + x]] for x in range(w))
        rows += row + b"\0" * (stride - w)
    pal = b"".join(bytes((c[2], c[1], c[0], 0)) for c in palette)
    pal += b"\0" * (1024 - len(pal))
    offset = 14 + 40 + 1024
    header = struct.pack("<2sIHHI", b"BM", offset + len(rows), 0, 0, offset)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 8, 0, len(rows), 2835, 2835, 256, 0)
    open(sys.argv[2], "wb").write(header + info + pal + rows)


main()
