#!/usr/bin/env python3
"""Writes the textured bitmap pairs of the cross-platform comparison into a folder.

Every pair is a source and a final bitmap of one size, full of fine texture and noise, so that
the plain and the vector routine sets give different bytes and any platform difference shows.
The pixels come from a fixed linear congruential generator: the files are the same on every
machine and Python version. Sizes are odd on purpose (partial blocks at the right and bottom
edges), and the pairs cover the bitmap kinds the loader handles differently: 24-bit, 32-bit
bit fields, 16-bit 5-5-5, 8-bit palette, run-length 8-bit and 4-bit palette.
Usage: make-textured-pairs.py FOLDER"""
import math
import struct
import sys


class Lcg:
    def __init__(self, seed):
        self.state = seed & 0xFFFFFFFF

    def next(self):
        self.state = (self.state * 1664525 + 1013904223) & 0xFFFFFFFF
        return self.state >> 24  # 0..255


def surface(width, height, seed, light):
    """Rows (top first) of (r, g, b): texture times light, plus noise."""
    rng = Lcg(seed)
    rows = []
    for y in range(height):
        row = []
        for x in range(width):
            grain = 0.5 + 0.5 * math.sin(x * 0.7 + 2.0 * math.sin(y * 0.3))
            pixel = []
            for channel in range(3):
                base = 40 + 150 * grain * (0.6 + 0.2 * channel) + (rng.next() - 128) * 0.45
                pixel.append(max(0, min(255, int(base * light(x, y, channel)))))
            row.append(tuple(pixel))
        rows.append(row)
    return rows


def file_bytes(info, extra, data):
    offset = 14 + len(info) + len(extra)
    return b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset) + info + extra + data


def info_header(width, height, bits, compression, size, colours=0):
    return struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, size, 2835, 2835,
                       colours, 0)


def padded(line):
    return bytes(line) + b"\0" * (-len(line) % 4)


def bmp24(rows):
    data = b"".join(padded([c for r, g, b in row for c in (b, g, r)]) for row in reversed(rows))
    return file_bytes(info_header(len(rows[0]), len(rows), 24, 0, len(data)), b"", data)


def bmp32_fields(rows):
    data = b"".join(struct.pack("<I", (r << 16) | (g << 8) | b)
                    for row in reversed(rows) for r, g, b in row)
    masks = struct.pack("<III", 0x00FF0000, 0x0000FF00, 0x000000FF)
    return file_bytes(info_header(len(rows[0]), len(rows), 32, 3, len(data)), masks, data)


def bmp16(rows):
    data = b"".join(
        padded(b"".join(struct.pack("<H", ((r >> 3) << 10) | ((g >> 3) << 5) | (b >> 3))
                        for r, g, b in row)) for row in reversed(rows))
    return file_bytes(info_header(len(rows[0]), len(rows), 16, 0, len(data)), b"", data)


def palette_of(rows, count):
    """A palette of `count` grey-tinted levels and the index image."""
    palette = [(min(255, i * 256 // count + 7), i * 256 // count, max(0, i * 256 // count - 5))
               for i in range(count)]
    index = [[(r * 3 + g * 5 + b * 2) * count // 2560 for r, g, b in row] for row in rows]
    table = b"".join(struct.pack("<BBBB", b, g, r, 0) for r, g, b in palette)
    return table, index


def bmp8(rows):
    table, index = palette_of(rows, 256)
    data = b"".join(padded(row) for row in reversed(index))
    return file_bytes(info_header(len(rows[0]), len(rows), 8, 0, len(data), 256), table, data)


def rle_rows(index, bits):
    """Encoded runs of equal indices per row, end of line, end of bitmap (RLE8 or RLE4)."""
    data = bytearray()
    for row in reversed(index):
        x = 0
        while x < len(row):
            run = 1
            while x + run < len(row) and run < 255 and row[x + run] == row[x]:
                run += 1
            value = row[x] if bits == 8 else (row[x] << 4) | row[x]
            data += bytes((run, value))
            x += run
        data += b"\0\0"
    data += b"\0\1"
    return bytes(data)


def bmp_rle(rows, bits):
    count = 1 << bits
    table, index = palette_of(rows, count)
    data = rle_rows(index, bits)
    compression = 1 if bits == 8 else 2
    return file_bytes(info_header(len(rows[0]), len(rows), bits, compression, len(data), count),
                      table, data)


def spot(cx, cy, strength):
    def light(x, y, channel):
        dx, dy = x - cx, y - cy
        return 0.45 + strength * math.exp(-(dx * dx + dy * dy) / 900.0) + 0.05 * channel
    return light


# name, width, height, seed, writer of the source, writer of the final
PAIRS = [
    ("noise24", 61, 47, 1, bmp24, bmp24),
    ("fields32", 96, 72, 2, bmp32_fields, bmp32_fields),
    ("mixed16and24", 53, 41, 3, bmp16, bmp24),
    ("palette8", 45, 37, 4, bmp8, bmp24),
    ("runLength8", 70, 19, 5, lambda rows: bmp_rle(rows, 8), bmp24),
    ("runLength4", 33, 65, 6, lambda rows: bmp_rle(rows, 4), bmp32_fields),
]


def main(folder):
    for name, width, height, seed, write_source, write_final in PAIRS:
        source = surface(width, height, seed, lambda x, y, c: 1.0)
        final = surface(width, height, seed * 7919, spot(width * 0.3, height * 0.4, 1.2))
        with open(f"{folder}/{name}-source.bmp", "wb") as f:
            f.write(write_source(source))
        with open(f"{folder}/{name}-final.bmp", "wb") as f:
            f.write(write_final(final))


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
