#!/usr/bin/env python3
"""Times two builds of qmjpeg side by side on one bitmap pair, for "no slower" checks.

Usage: bench/sideBySide.py BEFORE AFTER SOURCE.bmp FINAL.bmp [--rounds N] [--threads T]

The two builds run alternately (the order flips every round), each writing its own output;
prints the medians of wall time and CPU time (user + system of the process, from wait4) and
the after/before ratios as one Markdown table row, and whether the outputs are the same bytes.
"""

import argparse
import os
import statistics
import subprocess
import tempfile
import time


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("before")
    parser.add_argument("after")
    parser.add_argument("source")
    parser.add_argument("final")
    parser.add_argument("--rounds", type=int, default=9)
    parser.add_argument("--threads", default="2")
    options = parser.parse_args()

    builds = [options.before, options.after]
    wall = {b: [] for b in builds}
    cpu = {b: [] for b in builds}
    env = dict(os.environ, QMJPEG_THREADS=options.threads)
    with tempfile.TemporaryDirectory() as work:
        outputs = {b: os.path.join(work, f"{i}.jpg") for i, b in enumerate(builds)}
        for round_number in range(options.rounds):
            for build in builds if round_number % 2 == 0 else reversed(builds):
                args = [build, "-i", options.source, options.final, outputs[build]]
                start = time.perf_counter()
                process = subprocess.Popen(args, env=env, stdout=subprocess.DEVNULL)
                _, status, usage = os.wait4(process.pid, 0)
                wall[build].append((time.perf_counter() - start) * 1000)
                cpu[build].append((usage.ru_utime + usage.ru_stime) * 1000)
                if status != 0:
                    raise SystemExit(f"{build} failed with status {status}")
        with open(outputs[options.before], "rb") as a, open(outputs[options.after], "rb") as b:
            same = a.read() == b.read()

    w = [statistics.median(wall[b]) for b in builds]
    c = [statistics.median(cpu[b]) for b in builds]
    print("| threads | before: wall / CPU ms | after: wall / CPU ms | after/before | bytes |")
    print("|---|---|---|---|---|")
    print(f"| {options.threads} | {w[0]:.1f} / {c[0]:.1f} | {w[1]:.1f} / {c[1]:.1f} | "
          f"{w[1] / w[0]:.3f} / {c[1] / c[0]:.3f} | {'same' if same else 'DIFFERENT'} |")


if __name__ == "__main__":
    main()
