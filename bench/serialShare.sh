#!/usr/bin/env bash
# The serial share of an `-i` run and the speed-up it allows on more processors (Amdahl).
# From 8 lanes on, the main thread only opens and checks the inputs, writes the headers, joins
# the coded parts, writes the file and commits it; the lanes do everything else. So the main
# thread's share of the run's CPU samples, with QMJPEG_THREADS=8, is the share of the work that
# does not spread over processors. The joining overlaps the coding, so counting it as serial
# makes the projection a lower bound.
#
#   bench/serialShare.sh SOURCE.bmp FINAL.bmp [RUNS]
#
# Needs perf (Debian: linux-perf). Prints the share (median over RUNS runs, default 5) and the
# projected speed-up at 2, 4, 8 and 16 processors: 1 / (s + (1 - s) / p).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
SOURCE=$1
FINAL=$2
RUNS=${3:-5}
QMJPEG=${QMJPEG:-$ROOT/build/qmjpeg}
command -v perf >/dev/null || { echo "perf missing: apt-get install linux-perf" >&2; exit 1; }
WORK=$(mktemp -d /tmp/qmjpeg-serial.XXXXXX)
trap 'rm -rf "$WORK"' EXIT

shares=()
for ((run = 1; run <= RUNS; ++run)); do
    QMJPEG_THREADS=8 perf record -q -F 20000 -o "$WORK/perf.data" \
        "$QMJPEG" -i "$SOURCE" "$FINAL" "$WORK/out.jpg" 2>/dev/null
    # Samples per thread; the main thread's id is the process id, the lowest of them.
    shares+=("$(perf report -q -i "$WORK/perf.data" --no-children --sort pid --stdio -g none \
        2>/dev/null | awk '{ split($2, id, ":"); share[id[1]] = $1 + 0; }
            END { main = ""; for (t in share) if (main == "" || t + 0 < main + 0) main = t;
                  printf "%.2f\n", share[main] }')")
done
python3 - "${shares[@]}" <<'PY'
import statistics, sys
shares = sorted(float(s) for s in sys.argv[1:])
s = statistics.median(shares) / 100
print(f"main-thread share of CPU samples with 8 lanes: median {s * 100:.2f} % "
      f"(runs: {', '.join(f'{v:.2f}' for v in shares)})")
for p in (2, 4, 8, 16):
    print(f"projected speed-up on {p:2d} processors: {1 / (s + (1 - s) / p):.2f} x")
PY
