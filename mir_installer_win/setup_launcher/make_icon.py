#!/usr/bin/env python3
"""Draws the launcher's icon, a white "M" on a teal rounded square, at the
twelve sizes of icon group 1, and writes them as one .ico file (PNG images).
The output depends only on this script, so it is reproducible."""
import struct
import sys
import zlib

SIZES = [16, 20, 24, 30, 32, 36, 40, 48, 64, 72, 128, 256]


def pixel(x, y, n):
    u, v = (x + 0.5) / n, (y + 0.5) / n
    r = 0.18  # corner radius of the rounded square
    cx, cy = min(max(u, r), 1 - r), min(max(v, r), 1 - r)
    if (u - cx) ** 2 + (v - cy) ** 2 > r * r:
        return (0, 0, 0, 0)
    stroke = 0.11
    in_m = 0.22 <= v <= 0.78 and (
        abs(u - 0.27) < stroke / 2 or abs(u - 0.73) < stroke / 2 or
        (0.27 <= u <= 0.73 and abs(v - (0.22 + 1.4 * (0.23 - abs(u - 0.5)))) < stroke / 2))
    if in_m:
        return (255, 255, 255, 255)
    shade = int(40 * v)
    return (0, 128 - shade, 128 - shade // 2, 255)


def png(n):
    rows = b"".join(b"\0" + bytes(c for x in range(n) for c in pixel(x, y, n)) for y in range(n))
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", n, n, 8, 6, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def main(path):
    images = [png(n) for n in SIZES]
    header = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    entries = b""
    for n, image in zip(SIZES, images):
        entries += struct.pack("<BBBBHHII", n % 256, n % 256, 0, 0, 1, 32, len(image), offset)
        offset += len(image)
    with open(path, "wb") as out:
        out.write(header + entries + b"".join(images))


main(sys.argv[1] if len(sys.argv) > 1 else "mirelo.ico")
