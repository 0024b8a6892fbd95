#!/usr/bin/env python3
"""Runs two builds of qmjpeg on the same inputs and reports every difference in what they do.

Usage: tools/compare-outputs.py BEFORE AFTER [--jobs N]

Inputs: every ordered pair of bitmaps of one size among tests/data and examples/ (a bitmap
with itself included), each at processor classes 0 and 6 and with 1 and 2 threads, and `-f`
on the example model. For each run the exit status, standard output, standard error and the
output file's bytes must be the same. Meant for changes that must not change behaviour."""

import argparse
import concurrent.futures
import itertools
import os
import pathlib
import struct
import subprocess
import sys
import tempfile

ROOT = pathlib.Path(__file__).resolve().parent.parent
SETTINGS = [(cls, threads) for cls in ("0", "6") for threads in ("1", "2")]


def bitmap_size(path):
    """The (width, |height|) of a bitmap's info header, or None when it has none."""
    data = path.read_bytes()[:26]
    if len(data) < 26 or data[:2] != b"BM":
        return None
    info = struct.unpack_from("<I", data, 14)[0]
    if info == 12:
        return struct.unpack_from("<HH", data, 18)
    width, height = struct.unpack_from("<ii", data, 18)
    return width, abs(height)


def run(binary, args, env, out):
    if out.exists():
        out.unlink()
    done = subprocess.run([binary, *args], env=env, capture_output=True, timeout=60)
    body = out.read_bytes() if out.exists() else None
    return done.returncode, done.stdout, done.stderr, body


def compare(before, after, args, env, work):
    out = work / "out.jpg"
    full = [*args, str(out)]
    first = run(before, full, env, out)
    second = run(after, full, env, out)
    return None if first == second else f"{env['QMJPEG_USECPU']}/{env['QMJPEG_THREADS']} {args}"


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("--jobs", type=int, default=2)
    options = parser.parse_args()

    bitmaps = sorted(p for d in ("tests/data", "examples") for p in (ROOT / d).rglob("*.bmp"))
    by_size = {}
    for path in bitmaps:
        by_size.setdefault(bitmap_size(path), []).append(path)
    cases = [["-f", str(ROOT / "examples/model.qm")]]
    for size, group in by_size.items():
        if size is not None:
            cases += [["-i", str(a), str(b)] for a, b in itertools.product(group, repeat=2)]

    jobs = [(args, setting) for args in cases for setting in SETTINGS]
    differences = []
    with tempfile.TemporaryDirectory() as top:

        def one(index_job):
            index, (args, (cls, threads)) = index_job
            work = pathlib.Path(top) / str(index % (4 * options.jobs))
            work.mkdir(exist_ok=True)
            env = dict(os.environ, QMJPEG_USECPU=cls, QMJPEG_THREADS=threads)
            return compare(options.before, options.after, args, env, work)

        # Runs that share a work folder never overlap: each worker takes every n-th job.
        with concurrent.futures.ThreadPoolExecutor(options.jobs) as pool:
            chunks = [list(enumerate(jobs))[k :: options.jobs] for k in range(options.jobs)]
            for found in pool.map(lambda chunk: [one(j) for j in chunk], chunks):
                differences += [d for d in found if d]
    print(f"{len(jobs)} runs compared, {len(differences)} differ")
    for line in differences[:50]:
        print("  " + line)
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
