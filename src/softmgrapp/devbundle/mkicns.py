#!/usr/bin/env python3
"""Draws the program's icon (a blue tile with a white box and an orange arrow, the same
design as the built-in window icon) and writes it as an ICNS file with PNG elements.

    mkicns.py OUT.icns
"""
import struct
import sys
import zlib


def cover_round_rect(px, py, left, top, right, bottom, radius):
    if px < left or px > right or py < top or py > bottom:
        return 0.0
    cx = min(max(px, left + radius), right - radius)
    cy = min(max(py, top + radius), bottom - radius)
    d = ((px - cx) ** 2 + (py - cy) ** 2) ** 0.5
    return max(0.0, min(1.0, radius - d + 0.5))


def mix(a, b, t):
    return tuple(int(round(x * (1 - t) + y * t)) for x, y in zip(a, b))


def draw(n):
    """RGBA rows of an n x n icon; the design is laid out on a 128-unit grid."""
    s = n / 128.0
    rows = []
    for y in range(n):
        row = bytearray()
        for x in range(n):
            # Sample at the pixel centre, in 128-grid units.
            u, v = (x + 0.5) / s, (y + 0.5) / s
            tile = cover_round_rect(u, v, 4, 4, 124, 124, 22)
            if tile <= 0:
                row += b"\0\0\0\0"
                continue
            g = 0x70 + int((128 - v) * 0x40 / 128)
            c = (0x20, g, 0xD8)
            box = cover_round_rect(u, v, 30, 52, 98, 106, 6)
            if box > 0:
                c = mix(c, (0xFA, 0xF6, 0xF4), box)
            if 64 <= v <= 67 and 32 <= u <= 96:
                c = (0xBC, 0xA8, 0x9A)
            dx = abs(u - 64)
            shaft = dx <= 6 and 18 <= v <= 54
            tip = 44 <= v <= 72 and dx * 28 <= 22 * (72 - v)
            if shaft or tip:
                c = (0x1E, 0x9A, 0xFF)[::-1]
            row += bytes(c) + bytes([int(round(255 * tile))])
        rows.append(bytes(row))
    return rows


def png(n):
    raw = b"".join(b"\0" + r for r in draw(n))

    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data) & 0xFFFFFFFF)

    ihdr = struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def icns():
    elements = b""
    for kind, n in ((b"icp5", 32), (b"icp6", 64), (b"ic07", 128), (b"ic08", 256)):
        data = png(n)
        elements += kind + struct.pack(">I", len(data) + 8) + data
    return b"icns" + struct.pack(">I", len(elements) + 8) + elements


def main(argv):
    if len(argv) != 1:
        sys.stderr.write(__doc__)
        return 2
    data = icns()
    tmp = argv[0] + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    import os
    os.replace(tmp, argv[0])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
