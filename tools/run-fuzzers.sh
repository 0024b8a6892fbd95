#!/usr/bin/env bash
# Builds the libFuzzer targets with Clang and runs each for a bounded time, starting from its
# kept corpus (fuzz/corpus/<target>/, read only), the seeds and the regression inputs.
# Fails on any finding (crash, sanitizer report, leak, timeout or memory limit).
# Usage: tools/run-fuzzers.sh [seconds-per-target] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
shift || true
build=${FUZZ_BUILD:-build-fuzz}
work=${FUZZ_WORK:-fuzz-out}

source tools/fuzz-build.sh
fuzz_build "$@"

status=0
summary=()
for target in "${targets[@]}"; do
    corpus="$work/$target/corpus"
    artifacts="$work/$target/artifacts/"
    rm -rf "$artifacts" # findings of earlier runs are not this run's
    mkdir -p "$corpus" "$artifacts"
    seeds=()
    [ -d "fuzz/corpus/$target" ] && seeds+=("fuzz/corpus/$target")
    [ -d "fuzz/seeds/$target" ] && seeds+=("fuzz/seeds/$target")
    [ -d "fuzz/regressions/$target" ] && seeds+=("fuzz/regressions/$target")
    dict=()
    name=${target%Fuzz}
    [ -f "fuzz/dict/$name.dict" ] && dict=("-dict=fuzz/dict/$name.dict")
    echo "== $target: ${seconds}s"
    if ! ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1 \
        UBSAN_OPTIONS=halt_on_error=1:print_stacktrace=1 \
        "$build/fuzz/$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$artifacts" "${dict[@]}" \
        "$corpus" "${seeds[@]}" >"$work/$target/log.txt" 2>&1; then
        echo "!! $target found a problem; see $work/$target/log.txt and $artifacts"
        tail -n 40 "$work/$target/log.txt"
        status=1
    fi
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/$target/log.txt" | tail -n 1)
    rss=$(sed -n 's/^stat::peak_rss_mb: *//p' "$work/$target/log.txt" | tail -n 1)
    findings=$(find "$artifacts" -type f | wc -l)
    summary+=("$(printf '%-16s %12s executions %6s MB peak  %s artifact(s) in %s' \
        "$target" "${runs:-?}" "${rss:-?}" "$findings" "$artifacts")")
done
echo "== summary"
printf '%s\n' "${summary[@]}"
exit $status
