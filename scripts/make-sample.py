#!/usr/bin/env python3
"""Writes the bundled sample pictures into samples/ beside this script's folder.

  gradient.bmp   150 x 100, 24-bit: a colour gradient with a disc, a frame,
                 a triangle and a diagonal line
  palette8.bmp    90 x 60, 8-bit palette (216-colour cube plus 40 greys):
                 a palette ramp with a disc and a checkered band

Both are uncompressed BMP files with a 40-byte information header, bottom-up
rows padded to 4 bytes; the widths are chosen so that every row has padding.
The output depends on nothing but this file: running it again gives the same
bytes.
"""
import os
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SAMPLES = os.path.join(os.path.dirname(HERE), "samples")


def bmp_bytes(width, height, bits, rows, palette=()):
    """rows: top row first, each a bytes object of width*bits/8 bytes.
    palette: (r, g, b) tuples, written blue, green, red, 0."""
    stride = (width * bits + 31) // 32 * 4
    palette_bytes = b"".join(bytes((b, g, r, 0)) for r, g, b in palette)
    pixels = b"".join(row.ljust(stride, b"\0") for row in reversed(rows))
    offset = 14 + 40 + len(palette_bytes)
    file_header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    info_header = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, 0,
                              len(pixels), 2835, 2835, 0, 0)  # 72 dpi
    return file_header + info_header + palette_bytes + pixels


def inside_triangle(x, y, a, b, c):
    def side(p, q):
        return (q[0] - p[0]) * (y - p[1]) - (q[1] - p[1]) * (x - p[0])
    s1, s2, s3 = side(a, b), side(b, c), side(c, a)
    return (s1 >= 0 and s2 >= 0 and s3 >= 0) or (s1 <= 0 and s2 <= 0 and s3 <= 0)


def gradient():
    w, h = 150, 100
    rows = []
    for y in range(h):
        row = bytearray()
        for x in range(w):
            r = x * 255 // (w - 1)
            g = y * 255 // (h - 1)
            b = 255 - (x + y) * 255 // (w + h - 2)
            if (x - 40) ** 2 + (y - 35) ** 2 <= 20 * 21:
                r, g, b = 255, 255, 255                      # white disc
            elif 85 <= x < 135 and 15 <= y < 55 and not (89 <= x < 131 and 19 <= y < 51):
                r, g, b = 0, 0, 0                            # black frame, 4 px
            elif inside_triangle(x, y, (20, 90), (70, 90), (45, 62)):
                r, g, b = 255, 200, 0                        # amber triangle
            elif abs((y - 60) - (x - 80) * 35 // 65) <= 1 and 80 <= x < 145:
                r, g, b = 200, 0, 200                        # magenta line
            row += bytes((b, g, r))
        rows.append(bytes(row))
    return bmp_bytes(w, h, 24, rows)


def palette8():
    w, h = 90, 60
    palette = [(r * 51, g * 51, b * 51) for r in range(6) for g in range(6) for b in range(6)]
    palette += [(v * 255 // 41,) * 3 for v in range(1, 41)]  # greys between black and white
    assert len(palette) == 256
    rows = []
    for y in range(h):
        row = bytearray()
        for x in range(w):
            index = (x * 216 // w + y // 10 * 36) % 216      # walk through the cube
            if (x - 60) ** 2 + (y - 30) ** 2 <= 15 * 16:
                index = 216 + (x - 45) * 39 // 30            # grey ramp disc
            elif 44 <= y < 52:
                index = 215 if (x // 4 + y // 4) % 2 else 0  # white / black checks
            row.append(index)
        rows.append(bytes(row))
    return bmp_bytes(w, h, 8, rows, palette)


def main():
    os.makedirs(SAMPLES, exist_ok=True)
    for name, data in (("gradient.bmp", gradient()), ("palette8.bmp", palette8())):
        path = os.path.join(SAMPLES, name)
        with open(path, "wb") as f:
            f.write(data)
        print(f"{os.path.relpath(path)}: {len(data)} bytes")
    return 0


if __name__ == "__main__":
    sys.exit(main())
