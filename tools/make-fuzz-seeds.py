#!/usr/bin/env python3
"""Writes the generated seed inputs of the fuzz targets: small bitmaps of every pixel format
the loader takes (fuzz/seeds/bmpLoadFuzz/gen-*.bmp), encoder plans
(fuzz/seeds/jpegEncodeFuzz/gen-*) and pairs of bitmaps of one size in every header form, pixel
format and compression for the whole -i run (fuzz/seeds/imageRunFuzz/gen-*). Run from the
repository root; the output is deterministic."""
import os
import random
import struct

BI_RGB, BI_RLE8, BI_RLE4, BI_BITFIELDS = 0, 1, 2, 3


def bmp(width, height, bits, pixels, compression=BI_RGB, palette=(), masks=(), clr_used=0):
    table = b"".join(struct.pack("<I", m) for m in masks)
    table += b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, bits, compression, len(pixels),
                       2835, 2835, clr_used, 0)
    offset = 14 + len(info) + len(table)
    header = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    return header + info + table + pixels


def rows(width, height, bits, value):
    """Pixel rows padded to 4 bytes; value(x, y) gives the pixel's bits."""
    out = bytearray()
    for y in range(abs(height)):
        acc, nbits, row = 0, 0, bytearray()
        for x in range(width):
            acc = (acc << bits) | value(x, y)
            nbits += bits
            while nbits >= 8:
                nbits -= 8
                row.append((acc >> nbits) & 0xFF)
        if nbits:
            row.append((acc << (8 - nbits)) & 0xFF)
        if bits > 8:  # multi-byte pixels are little-endian
            size = bits // 8
            row = bytearray(b"".join(
                int.from_bytes(row[i:i + size], "big").to_bytes(size, "little")
                for i in range(0, len(row), size)))
        while len(row) % 4:
            row.append(0)
        out += row
    return bytes(out)


def grey_palette(n):
    return [(i * 255 // max(n - 1, 1),) * 3 for i in range(n)]


def bitmaps():
    pal4 = [(255, 0, 0), (0, 255, 0), (0, 0, 255), (255, 255, 0)] + grey_palette(12)
    yield "pal1", bmp(13, 5, 1, rows(13, 5, 1, lambda x, y: (x ^ y) & 1),
                      palette=[(0, 0, 0), (255, 255, 255)])
    yield "pal4", bmp(7, 4, 4, rows(7, 4, 4, lambda x, y: (x + 3 * y) % 16), palette=pal4)
    yield "pal8-used5", bmp(9, 3, 8, rows(9, 3, 8, lambda x, y: (x + y) % 5),
                            palette=grey_palette(5), clr_used=5)
    yield "pal8-topdown", bmp(6, -4, 8, rows(6, 4, 8, lambda x, y: x * 4 + y),
                              palette=grey_palette(256))
    rle8 = bytes([3, 1, 2, 2, 0, 4, 5, 6, 7, 8, 0, 0,      # run, run, absolute 4, end of line
                  0, 2, 1, 1, 2, 9, 0, 0,                  # delta (1, 1), run, end of line
                  0, 3, 1, 2, 3, 0, 1, 4, 0, 0, 1])       # absolute 3 (padded), run, end
    yield "rle8", bmp(8, 6, 8, rle8, BI_RLE8, palette=grey_palette(16), clr_used=16)
    rle4 = bytes([5, 0x12, 0, 4, 0x34, 0x56, 0, 0,         # run, absolute 4, end of line
                  0, 2, 2, 1, 3, 0x78, 0, 0, 0, 1])       # delta, run, end of line, end
    yield "rle4", bmp(8, 5, 4, rle4, BI_RLE4, palette=pal4)
    yield "rle8-big-empty", bmp(1000, 1000, 8, bytes([0, 1]), BI_RLE8,
                                palette=grey_palette(2), clr_used=2)
    yield "rgb16-555", bmp(5, 3, 16, rows(5, 3, 16, lambda x, y: (x * 6) << 10 | (y * 9) << 5 | 17))
    yield "rgb16-565", bmp(5, 3, 16, rows(5, 3, 16, lambda x, y: (x * 6) << 11 | (y * 20) << 5 | 9),
                           BI_BITFIELDS, masks=(0xF800, 0x07E0, 0x001F))
    yield "rgb24", bmp(5, 3, 24, rows(5, 3, 24, lambda x, y: (x * 50) << 16 | (y * 80) << 8 | 40))
    yield "rgb24-topdown", bmp(3, -2, 24, rows(3, 2, 24, lambda x, y: 0x102030 * (x + 1)))
    yield "rgb32-noalpha", bmp(4, 4, 32, rows(4, 4, 32, lambda x, y: (x * 60) << 16 | y * 60))
    yield "rgba32", bmp(4, 2, 32, rows(4, 2, 32, lambda x, y: (x * 60) << 24 | 0x00804020))
    yield "rgb32-bitfields", bmp(3, 3, 32, rows(3, 3, 32, lambda x, y: (x * 80) << 22 | y * 300),
                                 BI_BITFIELDS, masks=(0x3FF00000, 0x000FFC00, 0x000003FF))
    yield "zero-width", bmp(0, 3, 24, b"")
    yield "huge-sides", bmp(70000, -70000, 8, bytes([0, 1]), BI_RLE8, palette=grey_palette(2),
                            clr_used=2)


def any_header_bmp(header_size, width, height, bits, pixels, compression=BI_RGB, palette=(),
                   masks=()):
    """A bitmap with an info header of any size: the 12-byte core header (3-byte palette
    entries), or the 40-byte fields followed, from 52 bytes on, by the masks and zeros."""
    if header_size == 12:
        info = struct.pack("<IHHHH", 12, width, height, 1, bits)
        table = b"".join(bytes((b, g, r)) for (r, g, b) in palette)
    else:
        info = struct.pack("<IiiHHIIiiII", header_size, width, height, 1, bits, compression,
                           len(pixels), 2835, 2835, len(palette), 0)
        table = b""
        in_header = header_size >= 52
        mask_bytes = b"".join(struct.pack("<I", m) for m in masks)
        if in_header:
            info += mask_bytes
        info += bytes(header_size - len(info))
        if not in_header:
            table += mask_bytes
        table += b"".join(bytes((b, g, r, 0)) for (r, g, b) in palette)
    offset = 14 + len(info) + len(table)
    header = b"BM" + struct.pack("<IHHI", offset + len(pixels), 0, 0, offset)
    return header + info + table + pixels


def rle(width, height, bits, value):
    """Run-length rows: each row as runs of two pixels of one index, then end of line."""
    out = bytearray()
    for y in range(height):
        for x in range(0, width, 2):
            count = min(2, width - x)
            index = value(x, y)
            out += bytes((count, index if bits == 8 else (index << 4) | index))
        out += bytes((0, 0))
    return bytes(out + bytes((0, 1)))


def same_size_bitmaps(width=21, height=19):
    """One size (three bands, the last short) in every form the -i run reads."""
    pal16 = [(i * 17, 255 - i * 13, (i * 71) % 256) for i in range(16)]
    pal256 = [(i, (i * 7) % 256, 255 - i) for i in range(256)]
    tone = lambda x, y: (x * 11 + y * 5) % 256
    for header in (12, 40, 52, 56, 64, 108, 124):
        yield f"pal8-h{header}", any_header_bmp(
            header, width, height, 8, rows(width, height, 8, tone), palette=pal256)
        yield f"rgb24-h{header}", any_header_bmp(
            header, width, height, 24,
            rows(width, height, 24, lambda x, y: tone(x, y) << 16 | (x * 9) << 8 | y * 13))
    yield "pal1", any_header_bmp(40, width, height, 1, rows(width, height, 1, lambda x, y: (x ^ y) & 1),
                                 palette=[(10, 20, 30), (250, 240, 230)])
    yield "pal4", any_header_bmp(40, width, height, 4, rows(width, height, 4, lambda x, y: (x + y) % 16),
                                 palette=pal16)
    yield "pal8-topdown", any_header_bmp(40, width, -height, 8, rows(width, height, 8, tone),
                                         palette=pal256)
    yield "rle8", any_header_bmp(40, width, height, 8, rle(width, height, 8, tone), BI_RLE8,
                                 palette=pal256)
    yield "rle4", any_header_bmp(40, width, height, 4, rle(width, height, 4, lambda x, y: (x + y) % 16),
                                 BI_RLE4, palette=pal16)
    yield "rgb16-555", any_header_bmp(
        40, width, height, 16, rows(width, height, 16, lambda x, y: (x % 32) << 10 | (y % 32) << 5 | 7))
    yield "rgb16-565", any_header_bmp(
        40, width, height, 16, rows(width, height, 16, lambda x, y: (x % 32) << 11 | (y * 3) << 5 | 9),
        BI_BITFIELDS, masks=(0xF800, 0x07E0, 0x001F))
    yield "rgba16-4444-h56", any_header_bmp(
        56, width, height, 16, rows(width, height, 16, lambda x, y: 0xF000 | (x % 16) << 8 | y % 16),
        BI_BITFIELDS, masks=(0x0F00, 0x00F0, 0x000F, 0xF000))
    yield "rgb32", any_header_bmp(
        40, width, height, 32, rows(width, height, 32, lambda x, y: tone(x, y) << 8 | x * 3))
    yield "rgba32-h108", any_header_bmp(
        108, width, height, 32, rows(width, height, 32, lambda x, y: 0x80000000 | tone(x, y) << 16 | y),
        BI_BITFIELDS, masks=(0x00FF0000, 0x0000FF00, 0x000000FF, 0xFF000000))
    yield "rgb32-bitfields", any_header_bmp(
        40, width, height, 32, rows(width, height, 32, lambda x, y: (x * 40) << 22 | y * 50),
        BI_BITFIELDS, masks=(0x3FF00000, 0x000FFC00, 0x000003FF))


def image_run_input(source, final, lanes, part_byte):
    """The -i run's input: lane byte, part-size byte, the source's length, both bitmaps."""
    return bytes((lanes, part_byte)) + struct.pack("<I", len(source)) + source + final


def image_run_pairs():
    forms = list(same_size_bitmaps())
    for i, (name, data) in enumerate(forms):
        other_name, other = forms[(i * 7 + 3) % len(forms)]
        yield f"{name}+{other_name}", image_run_input(data, other, i % 3, i % 5)
    # Pictures of the bitmap suite (127 x 64), small files only.
    suite = "tests/data/bmpsuite"
    pairs = [("g/pal4rle.bmp", "g/pal1bg.bmp"), ("g/pal4.bmp", "q/pal2color.bmp"),
             ("q/pal4rlecut.bmp", "q/pal1huffmsb.bmp")]
    for a, b in pairs:
        with open(os.path.join(suite, a), "rb") as f:
            source = f.read()
        with open(os.path.join(suite, b), "rb") as f:
            final = f.read()
        name = f"suite-{os.path.basename(a)[:-4]}+{os.path.basename(b)[:-4]}"
        yield name, image_run_input(source, final, len(name) % 3, 1)


def encoder_plans():
    rng = random.Random(1234)
    for i in range(16):
        mode = 0x10 | (i & 0x0F) if i < 12 else i  # most seeds take the tool's layout
        body = bytes(rng.randrange(256) for _ in range(24 + 8 * i))
        yield f"plan{i:02d}", bytes([mode]) + body


def main():
    out = "fuzz/seeds/bmpLoadFuzz"
    os.makedirs(out, exist_ok=True)
    for name, data in bitmaps():
        with open(os.path.join(out, f"gen-{name}.bmp"), "wb") as f:
            f.write(data)
    out = "fuzz/seeds/jpegEncodeFuzz"
    os.makedirs(out, exist_ok=True)
    for name, data in encoder_plans():
        with open(os.path.join(out, f"gen-{name}"), "wb") as f:
            f.write(data)
    out = "fuzz/seeds/imageRunFuzz"
    os.makedirs(out, exist_ok=True)
    for name, data in image_run_pairs():
        with open(os.path.join(out, f"gen-{name}"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    main()
