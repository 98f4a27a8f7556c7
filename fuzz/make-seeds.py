#!/usr/bin/env python3
"""Writes the seed inputs of the fuzz targets: small bitmaps of every depth
and header kind, and small TIFF files in both byte orders (read_fuzzer);
bitmaps with the arguments of the processing calls (process_fuzzer)."""
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


def tiff(big, width, height, bits, samples, compression, photometric, data, pages=1, rows_per_strip=None):
    e = '>' if big else '<'
    out = bytearray(b'MM' if big else b'II')
    out += struct.pack(e + 'HI', 42, 8)
    rows_per_strip = rows_per_strip or height
    strips = (height + rows_per_strip - 1) // rows_per_strip
    row = (width * bits * samples + 7) // 8
    for page in range(pages):
        at = len(out)
        entries = [(256, 4, 1, width), (257, 4, 1, height), (258, 3, 1, bits), (259, 3, 1, compression),
                   (262, 3, 1, photometric), (273, 4, strips, 0), (277, 3, 1, samples), (278, 4, 1, rows_per_strip),
                   (279, 4, strips, 0)]
        directory_size = 2 + 12 * len(entries) + 4
        arrays = at + directory_size
        data_at = arrays + (8 * strips if strips > 1 else 0)
        counts = [min(rows_per_strip, height - i * rows_per_strip) * row for i in range(strips)]
        if compression != 1:
            counts = [len(data) // strips] * strips
        offsets = [data_at + sum(counts[:i]) for i in range(strips)]
        block = struct.pack(e + 'H', len(entries))
        for tag, kind, count, value in entries:
            if tag == 273:
                value = offsets[0] if strips == 1 else arrays
            if tag == 279:
                value = counts[0] if strips == 1 else arrays + 4 * strips
            if kind == 3 and count == 1:
                field = struct.pack(e + 'HH', value, 0)
            else:
                field = struct.pack(e + 'I', value)
            block += struct.pack(e + 'HHI', tag, kind, count) + field
        last = page == pages - 1
        block += struct.pack(e + 'I', 0 if last else data_at + len(data))
        out += block
        if strips > 1:
            out += b''.join(struct.pack(e + 'I', o) for o in offsets)
            out += b''.join(struct.pack(e + 'I', c) for c in counts)
        out += data
    return bytes(out)


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
    'grey8-ii.tif': tiff(False, 5, 4, 8, 1, 1, 1, bytes(range(20)), rows_per_strip=3),
    'rgb8-mm.tif': tiff(True, 3, 2, 8, 3, 1, 2, bytes(range(18))),
    'bits-ii-pages.tif': tiff(False, 9, 2, 1, 1, 1, 0, bytes([0xA5, 0x80, 0x5A, 0x00]), pages=2),
    'packbits-mm.tif': tiff(True, 4, 2, 8, 1, 32773, 1, bytes([0xFD, 7, 0x03, 1, 2, 3, 4])),
}



def process_input(depth, width, height, to_width, to_height, flags=0, palette=2, grey=0, interpolation=1,
                  choices=0, angle=12, region=(0, 0, 0, 0), level=128):
    """An input of process_fuzzer: 16 control bytes (see process_fuzzer.cpp) and
    the bytes that fill the palette and the rows."""
    control = bytes([{1: 0, 4: 1, 8: 2, 24: 3}[depth] | flags, width - 1, height - 1, palette, 0, grey,
                     to_width - 1, to_height - 1, interpolation, choices, angle & 255,
                     region[0] + 8, region[1] + 8, region[2], region[3], level])
    return control + bytes((i * 29 + (i >> 5) * 7) & 255 for i in range(1024))


PROCESS_SEEDS = {
    'bits-bilinear': process_input(1, 13, 5, 26, 10),
    'bits-region': process_input(1, 17, 9, 5, 4, choices=0x45, region=(2, 1, 9, 5)),
    'nibbles': process_input(4, 7, 6, 14, 3, interpolation=0, choices=0x18),
    'palette-cubic': process_input(8, 9, 7, 4, 11, interpolation=3, choices=0x24, angle=-30),
    'grey-region': process_input(8, 20, 20, 10, 10, grey=1, choices=0x84 | 0x08, region=(3, 4, 8, 8)),
    'rgb-bspline': process_input(24, 16, 12, 33, 25, interpolation=2, choices=0x10, angle=60),
    'rgb-top-down-short': process_input(24, 11, 8, 5, 5, flags=0x0C, choices=0x04, region=(0, 0, 4, 4)),
    'rgb-files': process_input(24, 6, 5, 12, 10, flags=0x30, choices=0x08),
}

if __name__ == '__main__':
    for target, seeds in (('read_fuzzer', SEEDS), ('process_fuzzer', PROCESS_SEEDS)):
        folder = os.path.join(HERE, 'seeds', target)
        os.makedirs(folder, exist_ok=True)
        for name, data in seeds.items():
            with open(os.path.join(folder, name), 'wb') as f:
                f.write(data)
