#!/usr/bin/env python3
"""Draws quillmor.ico (icon 128): an optical disc with a download arrow, 16x16 and
32x32, 32-bit colour with alpha. Run by hand when the picture changes; the build
uses the committed .ico."""
import math
import struct
import sys


def pixel(size, x, y):
    c = (size - 1) / 2.0
    d = math.hypot(x - c, y - c)
    r = size / 2.0 - 0.5
    # Arrow: a shaft and a head, centred, in the lower half.
    s = size / 32.0
    ax = abs(x - c)
    if (ax <= 2.2 * s and 6 * s <= y <= 18 * s) or (18 * s <= y <= 26 * s and ax <= (26 * s - y)):
        return (0x20, 0x60, 0xD0, 0xFF)  # blue arrow (BGRA)
    if d > r:
        return (0, 0, 0, 0)
    if d < 2.5 * s:
        return (0, 0, 0, 0)  # centre hole
    if d < 5 * s:
        return (0x90, 0x90, 0x90, 0xFF)
    shade = int(0xC0 + 0x30 * (x + y) / (2 * size))
    return (shade, shade, min(0xFF, shade + 0x10), 0xFF)


def image(size):
    rows = []
    for y in range(size - 1, -1, -1):  # bottom-up
        rows.append(b"".join(bytes(pixel(size, x, y)) for x in range(size)))
    xor = b"".join(rows)
    mask_row = ((size + 31) // 32) * 4
    mask = bytearray()
    for y in range(size - 1, -1, -1):
        bits = bytearray(mask_row)
        for x in range(size):
            if pixel(size, x, y)[3] == 0:
                bits[x // 8] |= 0x80 >> (x % 8)
        mask += bits
    header = struct.pack("<IiiHHIIiiII", 40, size, size * 2, 1, 32, 0, len(xor) + len(mask), 0, 0, 0, 0)
    return header + xor + bytes(mask)


def main(path):
    sizes = [16, 32]
    images = [image(s) for s in sizes]
    out = struct.pack("<HHH", 0, 1, len(sizes))
    offset = 6 + 16 * len(sizes)
    for s, data in zip(sizes, images):
        out += struct.pack("<BBBBHHII", s, s, 0, 0, 1, 32, len(data), offset)
        offset += len(data)
    out += b"".join(images)
    with open(path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "quillmor.ico")
