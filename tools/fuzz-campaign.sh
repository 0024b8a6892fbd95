#!/usr/bin/env bash
# A longer fuzzing session whose results are kept: runs each libFuzzer target for the given
# minutes (in turn, or FUZZ_PARALLEL at a time), starting from its kept corpus, the seeds and
# the regression inputs; then minimises the kept corpus together with what the session found
# (-merge=1) into fuzz/corpus/<target>/ and prints, per target, the executions, the kept
# corpus (files, bytes), its coverage (edges and features) and the findings.
# Usage: tools/fuzz-campaign.sh [minutes-per-target] [target...]
# FUZZ_RUNS caps the executions of each target; FUZZ_PARALLEL runs that many targets at once.
set -euo pipefail
cd "$(dirname "$0")/.."

minutes=${1:-10}
shift || true
build=${FUZZ_BUILD:-build-fuzz}
work=${FUZZ_WORK:-fuzz-out}/campaign
parallel=${FUZZ_PARALLEL:-1}
runs=${FUZZ_RUNS:--1}

source tools/fuzz-build.sh
fuzz_build "$@"

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1

# One target's session: fuzz into the work folder (the kept corpus is read, never written),
# then rebuild the kept corpus as the minimal set covering both.
campaign() {
    local target=$1 dir="$work/$1" dict=() inputs=()
    rm -rf "$dir"
    mkdir -p "$dir/found" "$dir/artifacts" "$dir/merged" "fuzz/corpus/$target"
    [ -f "fuzz/dict/${target%Fuzz}.dict" ] && dict=("-dict=fuzz/dict/${target%Fuzz}.dict")
    for d in "fuzz/corpus/$target" "fuzz/seeds/$target" "fuzz/regressions/$target"; do
        [ -d "$d" ] && inputs+=("$d")
    done
    "$build/fuzz/$target" -max_total_time=$((minutes * 60)) -runs="$runs" -rss_limit_mb=2048 \
        -timeout=10 -print_final_stats=1 -artifact_prefix="$dir/artifacts/" "${dict[@]}" \
        "$dir/found" "${inputs[@]}" >"$dir/log.txt" 2>&1 || true
    # Seeds and regression inputs are always given to the fuzzer; the kept corpus holds what
    # they do not cover.
    "$build/fuzz/$target" -merge=1 -rss_limit_mb=2048 -timeout=10 "$dir/merged" \
        "fuzz/corpus/$target" "$dir/found" >"$dir/merge.txt" 2>&1
    rm -rf "fuzz/corpus/$target"
    mv "$dir/merged" "fuzz/corpus/$target"
    # The coverage of everything a run starts from.
    "$build/fuzz/$target" -runs=0 -rss_limit_mb=2048 -timeout=10 "${inputs[@]}" \
        >"$dir/coverage.txt" 2>&1 || true
}

running=0
for target in "${targets[@]}"; do
    echo "== $target: ${minutes} min"
    campaign "$target" &
    running=$((running + 1))
    if [ "$running" -ge "$parallel" ]; then
        wait -n || true
        running=$((running - 1))
    fi
done
wait

status=0
printf '%-16s %12s %8s %10s %8s %8s  %s\n' target executions files bytes edges features findings
for target in "${targets[@]}"; do
    dir="$work/$target"
    executed=$(sed -n 's/^stat::number_of_executed_units: *//p' "$dir/log.txt" | tail -n 1)
    # A run ended by a finding prints no final statistics: its last status line then.
    [ -n "$executed" ] || executed=$(sed -n 's/^#\([0-9]*\).*/\1/p' "$dir/log.txt" | tail -n 1)
    coverage=$(grep -E 'INITED|DONE' "$dir/coverage.txt" | tail -n 1)
    edges=$(sed -n 's/.* cov: \([0-9]*\).*/\1/p' <<<"$coverage")
    features=$(sed -n 's/.* ft: \([0-9]*\).*/\1/p' <<<"$coverage")
    files=$(find "fuzz/corpus/$target" -type f | wc -l)
    bytes=$(find "fuzz/corpus/$target" -type f -printf '%s\n' | awk '{s += $1} END {print s + 0}')
    findings=$(find "$dir/artifacts" -type f | wc -l)
    [ "$findings" -eq 0 ] || status=1
    printf '%-16s %12s %8s %10s %8s %8s  %s\n' "$target" "${executed:-?}" "$files" "$bytes" \
        "${edges:-?}" "${features:-?}" "$findings"
    if [ "$findings" -ne 0 ]; then
        find "$dir/artifacts" -type f | sed 's/^/    /'
    fi
done
exit $status
