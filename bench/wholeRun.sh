#!/usr/bin/env bash
# Whole-program timing of `qmjpeg -i` on blurred-plasma bitmap pairs, side by side with
#   - the same run forced to one thread (QMJPEG_THREADS=1),
#   - the previous whole-image qmjpeg (built from BASELINE_REF into the work folder),
#   - libjpeg-turbo's cjpeg encoding the same ratio image from a PPM file
#     (cjpeg -quality 95 -sample 1x1).
# Medians over RUNS runs, the jobs alternating within each run; wall time from the shell's
# clock, CPU time (%U + %S, 10 ms steps) and peak memory (%M) from /usr/bin/time. Prints one
# Markdown table per size.
#
#   bench/wholeRun.sh                 # sizes 4096 and 8192, 5 runs
#   SIZES="4096 8192 16384" RUNS=3 bench/wholeRun.sh
#
# Variables: SIZES, RUNS, BUILD (this tree's build folder, default build-wholerun),
# BASELINE_REF (default: the last commit before the streamed pipeline), WORK (scratch folder,
# kept when given), BASELINE_MAX (largest size the whole-image build is run at: it needs
# about 12 bytes per pixel).
set -euo pipefail

ROOT=$(cd "$(dirname "$0")/.." && pwd)
SIZES=${SIZES:-"4096 8192"}
RUNS=${RUNS:-5}
BUILD=${BUILD:-$ROOT/build-wholerun}
BASELINE_REF=${BASELINE_REF:-c0e172a}
BASELINE_MAX=${BASELINE_MAX:-8192}
if [[ -z "${WORK:-}" ]]; then
    WORK=$(mktemp -d /tmp/qmjpeg-wholerun.XXXXXX)
    trap 'rm -rf "$WORK"' EXIT
fi
mkdir -p "$WORK"

command -v cjpeg >/dev/null || { echo "cjpeg missing: apt-get install libjpeg-turbo-progs" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "/usr/bin/time missing: apt-get install time" >&2; exit 1; }

echo "building this tree into $BUILD" >&2
cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMJPEG_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j 2 --target qmjpeg >/dev/null
echo "building the whole-image baseline $BASELINE_REF" >&2
rm -rf "$WORK/baseline-src"
mkdir -p "$WORK/baseline-src"
git -C "$ROOT" archive "$BASELINE_REF" | tar -x -C "$WORK/baseline-src"
cmake -S "$WORK/baseline-src" -B "$WORK/baseline-build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DQMJPEG_TESTS=OFF >/dev/null
cmake --build "$WORK/baseline-build" -j 2 --target qmjpeg >/dev/null

# The picture generator and the ratio-image writer (the product's own whole-image oracle).
c++ -O2 -std=c++20 "$ROOT/tools/plasmaBmp.cpp" -o "$WORK/plasmaBmp"
cmake --build "$BUILD" -j 2 --target qm_tool >/dev/null
c++ -O2 -std=c++20 -I"$ROOT/src" "$ROOT/tools/ratioPpm.cpp" "$BUILD"/libqm_tool.a \
    "$BUILD"/libqm_vx2image.a "$BUILD"/libqm_image.a "$BUILD"/libqm_model.a \
    "$BUILD"/libqm_jpeg.a "$BUILD"/libqm_util.a -lpthread -o "$WORK/ratioPpm"

NEW="$BUILD/qmjpeg"
OLD="$WORK/baseline-build/qmjpeg"

for size in $SIZES; do
    dir="$WORK/$size"
    mkdir -p "$dir"
    [[ -f "$dir/s.bmp" ]] || "$WORK/plasmaBmp" "$size" "$size" 1 "$dir/s.bmp"
    [[ -f "$dir/f.bmp" ]] || "$WORK/plasmaBmp" "$size" "$size" 2 "$dir/f.bmp"
    [[ -f "$dir/r.ppm" ]] || "$WORK/ratioPpm" "$dir/s.bmp" "$dir/f.bmp" "$dir/r.ppm"

    jobs=(new new1 cjpeg)
    ((size <= BASELINE_MAX)) && jobs+=(old)
    : >"$dir/times"
    for ((run = 1; run <= RUNS; ++run)); do
        for job in "${jobs[@]}"; do
            case $job in
            new) cmd=(env -u QMJPEG_THREADS "$NEW" -i "$dir/s.bmp" "$dir/f.bmp" "$dir/new.jpg") ;;
            new1) cmd=(env QMJPEG_THREADS=1 "$NEW" -i "$dir/s.bmp" "$dir/f.bmp" "$dir/new1.jpg") ;;
            old) cmd=("$OLD" -i "$dir/s.bmp" "$dir/f.bmp" "$dir/old.jpg") ;;
            cjpeg) cmd=(cjpeg -quality 95 -sample 1x1 -outfile "$dir/cjpeg.jpg" "$dir/r.ppm") ;;
            esac
            # Wall time from the shell's microsecond clock (time's %e has 10 ms steps).
            start=$EPOCHREALTIME
            /usr/bin/time -f "%U %S %M" -o "$dir/one" "${cmd[@]}"
            end=$EPOCHREALTIME
            echo "$job $(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.6f", b - a }') \
$(cat "$dir/one")" >>"$dir/times"
        done
    done
    cmp -s "$dir/new.jpg" "$dir/new1.jpg" || { echo "thread counts differ at $size" >&2; exit 1; }
    if [[ -f "$dir/old.jpg" ]]; then
        cmp -s "$dir/new.jpg" "$dir/old.jpg" || { echo "output differs from $BASELINE_REF at $size" >&2; exit 1; }
    fi
    python3 - "$dir/times" "$size" "$dir/new.jpg" <<'PY'
import os, statistics, sys
rows = {}
for line in open(sys.argv[1]):
    job, wall, user, system, rss = line.split()
    rows.setdefault(job, []).append((float(wall), float(user) + float(system), int(rss)))
names = {
    "new": "`qmjpeg -i`, streamed (2 threads)",
    "new1": "`qmjpeg -i`, streamed, `QMJPEG_THREADS=1`",
    "old": "`qmjpeg -i`, previous whole-image build",
    "cjpeg": "`cjpeg -quality 95 -sample 1x1`, ratio image from PPM",
}
cjpeg = statistics.median(w for w, _, _ in rows["cjpeg"])
size = sys.argv[2]
print(f"\n{size} x {size} pair ({len(rows['new'])} runs; JPEG {os.path.getsize(sys.argv[3]) / 1e6:.2f} MB)\n")
print("| job | time (median) | CPU time (median) | time / cjpeg | peak memory |")
print("|---|---|---|---|---|")
for job in ("new", "new1", "old", "cjpeg"):
    if job not in rows:
        continue
    wall = statistics.median(w for w, _, _ in rows[job])
    cpu = statistics.median(c for _, c, _ in rows[job])
    rss = max(r for _, _, r in rows[job]) / 1024
    print(f"| {names[job]} | {wall * 1000:.0f} ms | {cpu * 1000:.0f} ms | {wall / cjpeg:.2f} | "
          f"{rss:.1f} MiB |")
PY
done
