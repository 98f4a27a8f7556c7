#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets: small bitmaps of every depth
and header kind."""
import os
import struct

HERE = os.path.dirname(os.path.abspath(__file__))


def bmp(width, height, depth, compression=0, palette_entries=None, header=40, pixels=None):
    if palette_entries is None:
        palette_entries = (1 << depth) if depth <= 8 else 0
    entry = 3 if header == 12 else 4
    palette = bytes((i * 37) & 255 for i in range(palette_entries * entry))
    row = ((width * depth + 31) // 32) * 4
    if pixels is None:
        pixels = bytes((x * 7 + y * 3) & 255 for y in range(height) for x in range(row))
    if header == 12:
        info = struct.pack('<IHHHH', 12, width, height, 1, depth)
    else:
        info = struct.pack('<IiiHHIIiiII', 40, width, height, 1, depth, compression,
                           len(pixels) if compression else 0, 2835, 2835,
                           palette_entries if depth <= 8 else 0, 0)
        info += bytes(header - 40)
        info = struct.pack('<I', header) + info[4:]
    offset = 14 + len(info) + len(palette)
    head = b'BM' + struct.pack('<IHHI', offset + len(pixels), 0, 0, offset)
    return head + info + palette + pixels


SEEDS = {
    'pal1.bmp': bmp(13, 5, 1),
    'pal4.bmp': bmp(7, 3, 4),
    'pal8.bmp': bmp(5, 4, 8),
    'rgb16.bmp': bmp(3, 3, 16),
    'rgb24.bmp': bmp(4, 2, 24),
    'rgb32.bmp': bmp(2, 2, 32),
    'core8.bmp': bmp(5, 2, 8, header=12),
    'v5rgb24.bmp': bmp(3, 2, 24, header=124),
    'rle8.bmp': bmp(4, 2, 8, compression=1, pixels=bytes([2, 1, 0, 3, 4, 0, 0, 0, 0, 1])),
    'rle4.bmp': bmp(4, 2, 4, compression=2, pixels=bytes([4, 0x12, 0, 0, 4, 0x34, 0, 1])),
}

if __name__ == '__main__':
    folder = os.path.join(HERE, 'seeds', 'bmp_read_fuzzer')
    os.makedirs(folder, exist_ok=True)
    for name, data in SEEDS.items():
        with open(os.path.join(folder, name), 'wb') as f:
            f.write(data)
