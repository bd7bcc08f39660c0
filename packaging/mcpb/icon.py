#!/usr/bin/env python3
"""Draws the bundle's icon: a 512x512 RGBA PNG, a ring with a tail on a rounded square.

  icon.py OUT.png

The same bytes on every run (no time, no randomness), so the bundle stays reproducible.
"""

import struct
import sys
import zlib

SIZE = 512
BACKGROUND = (0x2B, 0x4C, 0x7E, 0xFF)
MARK = (0xF4, 0xF1, 0xE8, 0xFF)
CLEAR = (0, 0, 0, 0)


def pixel(x, y):
    # Rounded square of the whole canvas, corner radius 96.
    r = 96
    cx = min(max(x, r), SIZE - 1 - r)
    cy = min(max(y, r), SIZE - 1 - r)
    if (x - cx) ** 2 + (y - cy) ** 2 > r * r:
        return CLEAR
    # A ring centred on the canvas, and a short bar from its lower right: the letter's mark.
    dx, dy = x - 255.5, y - 245.5
    d2 = dx * dx + dy * dy
    if 110 * 110 <= d2 <= 160 * 160:
        return MARK
    if 0 <= x - y - 40 <= 56 and 300 <= x <= 420:
        return MARK
    return BACKGROUND


def chunk(kind, body):
    return (struct.pack(">I", len(body)) + kind + body +
            struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))


def png():
    rows = bytearray()
    for y in range(SIZE):
        rows.append(0)  # filter: none
        for x in range(SIZE):
            rows.extend(pixel(x, y))
    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)  # 8-bit RGBA
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
            chunk(b"IDAT", zlib.compress(bytes(rows), 9)) + chunk(b"IEND", b""))


if __name__ == "__main__":
    with open(sys.argv[1], "wb") as f:
        f.write(png())
