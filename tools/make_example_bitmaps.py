#!/usr/bin/env python3
"""Generates the example bitmap pair in examples/: a textured surface (source.bmp, 24-bit)
and the same surface under uneven light with a soft shadow (final.bmp, 32-bit bit fields).
The shading-ratio image of the pair shows the light alone."""
import math
import struct
import sys

W, H = 320, 240


def albedo(x, y):
    # Tiles with a wood-like grain, so the ratio image has to cancel real texture.
    tile = ((x // 40) + (y // 40)) % 2
    grain = 0.5 + 0.5 * math.sin(x * 0.31 + 3.0 * math.sin(y * 0.05))
    base = (150, 110, 70) if tile else (90, 130, 170)
    return tuple(max(8, min(255, int(c * (0.75 + 0.25 * grain)))) for c in base)


def light(x, y):
    dx, dy = (x - 90) / W, (y - 60) / H
    spot = 1.35 * math.exp(-(dx * dx + dy * dy) * 6.0) + 0.35
    sx, sy = (x - 220) / 50.0, (y - 160) / 35.0
    shadow = 1.0 - 0.6 * math.exp(-(sx * sx + sy * sy))
    return spot * shadow


def rows(pixel):
    return [[pixel(x, y) for x in range(W)] for y in range(H)]


def write_bmp24(path, image):
    row_bytes = (W * 3 + 3) & ~3
    data = bytearray()
    for row in reversed(image):  # bottom-up
        line = bytearray()
        for r, g, b in row:
            line += bytes((b, g, r))
        line += b"\0" * (row_bytes - len(line))
        data += line
    header = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 24, 0, len(data), 2835, 2835, 0, 0)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + len(header) + len(data), 0, 0, 54))
        f.write(header + data)


def write_bmp32_bitfields(path, image):
    data = bytearray()
    for row in reversed(image):
        for r, g, b in row:
            data += struct.pack("<I", (r << 16) | (g << 8) | b)
    masks = struct.pack("<III", 0x00FF0000, 0x0000FF00, 0x000000FF)
    header = struct.pack("<IiiHHIIiiII", 40, W, H, 1, 32, 3, len(data), 2835, 2835, 0, 0)
    offset = 14 + len(header) + len(masks)
    with open(path, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", offset + len(data), 0, 0, offset))
        f.write(header + masks + data)


def main(folder):
    source = rows(albedo)
    final = rows(lambda x, y: tuple(min(255, int(c * light(x, y))) for c in albedo(x, y)))
    write_bmp24(f"{folder}/source.bmp", source)
    write_bmp32_bitfields(f"{folder}/final.bmp", final)


if __name__ == "__main__":
    main(sys.argv[1] if len(sys.argv) > 1 else "examples")
