#!/usr/bin/env bash
# Whole-program timing of `qmjpeg -i` on blurred-plasma bitmap pairs, side by side with
# libjpeg-turbo's cjpeg encoding the same ratio image from a PPM file
# (cjpeg -quality 95 -sample 1x1), and optionally with an earlier build of this tree.
# Medians over RUNS rounds, the jobs alternating within each round; wall time, CPU time and
# peak memory of each run from bench/timeRun.py. Prints one Markdown table per size.
#
#   bench/wholeRun.sh                          # sizes 1024 and 4096, 7 rounds
#   SIZES="8 1024 4096" RUNS=9 bench/wholeRun.sh
#   JOBS="lanes one cjpeg" SIZES=16384 RUNS=3 bench/wholeRun.sh
#   FRESH=1 SIZES=8 bench/wholeRun.sh          # every job writes a new file (no replacement)
#
# Jobs (JOBS, default "lanes one lanes-avx2 one-avx2 lanes-sse2 one-sse2 cjpeg"):
#   lanes[-SET]   qmjpeg with its own lane count (QMJPEG_THREADS unset), kernel set SET
#   one[-SET]     the same with QMJPEG_THREADS=1
#   tN[-SET]      the same with QMJPEG_THREADS=N
#   base, base1   the build of BASELINE_REF (lanes, one lane), when BASELINE_REF is given
#   cjpeg         cjpeg on the ratio image as PPM
# SET is a QMJPEG_KERNELS value (avx512, avx2, sse2, plain); without it, the processor's widest.
# Every job's output must be byte-identical to the others' (cjpeg aside).
#
# Variables: SIZES, RUNS, JOBS, FRESH, BUILD (this tree's build folder, default
# build-wholerun), BASELINE_REF (a commit to compare with; none by default), WORK (scratch
# folder, kept when given).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
SIZES=${SIZES:-"1024 4096"}
RUNS=${RUNS:-7}
JOBS=${JOBS:-"lanes one lanes-avx2 one-avx2 lanes-sse2 one-sse2 cjpeg"}
FRESH=${FRESH:-0}
BUILD=${BUILD:-$ROOT/build-wholerun}
BASELINE_REF=${BASELINE_REF:-}
if [[ -z "${WORK:-}" ]]; then
    WORK=$(mktemp -d /tmp/qmjpeg-wholerun.XXXXXX)
    trap 'rm -rf "$WORK"' EXIT
fi
mkdir -p "$WORK"

[[ -x /usr/bin/time ]] || { echo "/usr/bin/time missing: apt-get install time" >&2; exit 1; }
command -v cjpeg >/dev/null || { echo "cjpeg missing: apt-get install libjpeg-turbo-progs" >&2; exit 1; }

echo "building this tree into $BUILD" >&2
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMJPEG_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j 2 --target qmjpeg qm_tool >/dev/null
NEW="$BUILD/qmjpeg"
OLD=
if [[ -n "$BASELINE_REF" ]]; then
    echo "building $BASELINE_REF" >&2
    rm -rf "$WORK/baseline-src"
    mkdir -p "$WORK/baseline-src"
    git -C "$ROOT" archive "$BASELINE_REF" | tar -x -C "$WORK/baseline-src"
    cmake -S "$WORK/baseline-src" -B "$WORK/baseline-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
        -DQMJPEG_TESTS=OFF >/dev/null
    cmake --build "$WORK/baseline-build" -j 2 --target qmjpeg >/dev/null
    OLD="$WORK/baseline-build/qmjpeg"
fi

# The picture generator and the ratio-image writer (the product's own whole-image oracle).
c++ -O2 -std=c++20 "$ROOT/tools/plasmaBmp.cpp" -o "$WORK/plasmaBmp"
c++ -O2 -std=c++20 -I"$ROOT/src" "$ROOT/tools/ratioPpm.cpp" "$BUILD"/libqm_tool.a \
    "$BUILD"/libqm_vx2image.a "$BUILD"/libqm_image.a "$BUILD"/libqm_model.a \
    "$BUILD"/libqm_jpeg.a "$BUILD"/libqm_util.a -lpthread -o "$WORK/ratioPpm"

# The command of a job, into the array `cmd`.
job_command() {
    local job=$1 output=$2 set= threads=
    case $job in
    cjpeg) cmd=(cjpeg -quality 95 -sample 1x1 -outfile "$output" "$dir/r.ppm"); return ;;
    base) cmd=(-u QMJPEG_THREADS "$OLD" -i "$dir/s.bmp" "$dir/f.bmp" "$output"); return ;;
    base1) cmd=(QMJPEG_THREADS=1 "$OLD" -i "$dir/s.bmp" "$dir/f.bmp" "$output"); return ;;
    esac
    [[ $job == *-* ]] && set=${job#*-}
    case ${job%%-*} in
    lanes) threads= ;;
    one) threads=1 ;;
    t[0-9]*) threads=${job%%-*}; threads=${threads#t} ;;
    *) echo "unknown job $job" >&2; exit 1 ;;
    esac
    # Environment settings as bench/timeRun.py takes them (no env process of their own).
    cmd=(-u QMJPEG_THREADS -u QMJPEG_KERNELS ${threads:+QMJPEG_THREADS=$threads}
         ${set:+QMJPEG_KERNELS=$set} "$NEW" -i "$dir/s.bmp" "$dir/f.bmp" "$output")
}

read -r -a jobs <<<"$JOBS"
# The programs' files, read with the inputs before each run.
programs=("$NEW" ${OLD:+"$OLD"} "$(command -v cjpeg)")
programs+=($(ldd "$(command -v cjpeg)" | awk '$3 ~ /^\// {print $3}'))
for size in $SIZES; do
    dir="$WORK/$size"
    mkdir -p "$dir"
    [[ -f "$dir/s.bmp" ]] || "$WORK/plasmaBmp" "$size" "$size" 1 "$dir/s.bmp"
    [[ -f "$dir/f.bmp" ]] || "$WORK/plasmaBmp" "$size" "$size" 2 "$dir/f.bmp"
    [[ -f "$dir/r.ppm" ]] || "$WORK/ratioPpm" "$dir/s.bmp" "$dir/f.bmp" "$dir/r.ppm"

    : >"$dir/times"
    for ((run = 1; run <= RUNS; ++run)); do
        for job in "${jobs[@]}"; do
            job_command "$job" "$dir/$job.jpg"
            [[ $FRESH == 1 ]] && rm -f "$dir/$job.jpg"
            # Inputs in the page cache for every job alike: the machine may evict idle file pages
            # between runs, and a run that reads them back from disk measures the disk.
            cat "$dir/s.bmp" "$dir/f.bmp" "$dir/r.ppm" "${programs[@]}" >/dev/null
            echo "$job $(python3 "$ROOT/bench/timeRun.py" "${cmd[@]}")" >>"$dir/times"
        done
    done
    first=
    for job in "${jobs[@]}"; do
        [[ $job == cjpeg ]] && continue
        if [[ -z $first ]]; then
            first=$job
        else
            cmp -s "$dir/$first.jpg" "$dir/$job.jpg" || { echo "$job differs from $first at $size" >&2; exit 1; }
        fi
    done
    python3 - "$dir/times" "$size" "$dir/${first:-cjpeg}.jpg" "$FRESH" "${jobs[@]}" <<'PY'
import os, statistics, sys
times, size, jpeg, fresh, jobs = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5:]
rows = {}
for line in open(times):
    job, wall, user, system, rss = line.split()
    rows.setdefault(job, []).append((float(wall), float(user) + float(system), int(rss)))

def name(job):
    if job == "cjpeg":
        return "`cjpeg -quality 95 -sample 1x1`, ratio image from PPM"
    if job.startswith("base"):
        return "earlier build" + (", `QMJPEG_THREADS=1`" if job == "base1" else "")
    lanes, _, kernels = job.partition("-")
    text = "`qmjpeg -i`" + (", own lane count" if lanes == "lanes" else
                            f", `QMJPEG_THREADS={1 if lanes == 'one' else lanes[1:]}`")
    return text + (f", `QMJPEG_KERNELS={kernels}`" if kernels else "")

reference = statistics.median(w for w, _, _ in rows["cjpeg"]) if "cjpeg" in rows else None
runs = len(next(iter(rows.values())))
print(f"\n{size} x {size} pair ({runs} rounds; JPEG {os.path.getsize(jpeg) / 1e6:.2f} MB"
      + ("; every output a new file" if fresh == "1" else "") + ")\n")
print("| job | time (median) | CPU time (median) | time / cjpeg | peak memory |")
print("|---|---|---|---|---|")
for job in jobs:
    wall = statistics.median(w for w, _, _ in rows[job])
    cpu = statistics.median(c for _, c, _ in rows[job])
    rss = max(r for _, _, r in rows[job]) / 1024
    ratio = f"{wall / reference:.2f}" if reference else "-"
    print(f"| {name(job)} | {wall * 1000:.1f} ms | {cpu * 1000:.0f} ms | {ratio} | {rss:.1f} MiB |")
PY
done
