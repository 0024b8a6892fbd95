#!/usr/bin/env python3
"""Wraps a JPEG file into a QM model file with a small made-up model (four coefficient
vectors and a few records), for the examples and for manual tests.
Usage: make_example_model.py image.jpg model.qm"""
import math
import struct
import sys


def fixed(values):
    return b"".join(struct.pack("<h", max(-32768, min(32767, round(v * 1000)))) for v in values)


def main(jpeg_path, model_path):
    with open(jpeg_path, "rb") as f:
        jpeg = f.read()
    lengths = (8, 4, 6, 2)
    vectors = [[math.sin(0.7 * k + i) * (k + 1) for i in range(n)] for k, n in enumerate(lengths)]
    records = []
    for r in range(5):
        parts = [[math.cos(0.3 * r + 0.2 * i) * (r + 1) for i in range(n)] for n in lengths]
        records.append((parts, 1000 + r))
    out = bytearray(b"VXQM0001")
    out += struct.pack("<8I", 0x20261208, 1, *lengths, len(records), 1)
    for v in vectors:
        out += fixed(v)
    for parts, value in records:
        for p in parts:
            out += fixed(p)
        out += struct.pack("<I", value)
    out += struct.pack("<I", len(jpeg)) + jpeg
    with open(model_path, "wb") as f:
        f.write(out)


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
