#!/usr/bin/env bash
# Cross checks: the Windows executables under Wine, the whole test suite for aarch64 under
# qemu, and the golden comparison for s390x (big-endian) and i686 Linux under qemu, every
# output compared byte for byte with the native build (BUILD). Prints the time of each step.
# Usage: tools/cross-check.sh   (environment: BUILD, JOBS, CROSS_STEPS="windows aarch64 s390x i686")
set -euo pipefail
cd "$(dirname "$0")/.."
build=${BUILD:-build}
jobs=${JOBS:-2}
steps=${CROSS_STEPS:-windows aarch64 s390x i686}
timings=()
failed=()

# Steps chain their commands with && : errexit does not apply inside the || of timed.
timed() { # timed NAME COMMAND...: runs the command (in a subshell) and keeps its wall time
    local name=$1 start=$SECONDS result=passed
    shift
    echo "== $name"
    ("$@") || { result=FAILED; failed+=("$name"); }
    timings+=("$(printf '%-34s %4d s  %s' "$name" $((SECONDS - start)) "$result")")
}

# configure DIR TOOLCHAIN TESTS: a Release cross build whose goldenCompare uses the native tool.
configure() {
    cmake -S . -B "$1" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="cmake/$2.cmake" \
        -DQMJPEG_TESTS="$3" -DQMJPEG_GOLDEN_REFERENCE="$(realpath -m "$build/qmjpeg")" >/dev/null
}

reference() {
    [ -f "$build/build.ninja" ] ||
        cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DQMJPEG_TESTS=OFF >/dev/null
    cmake --build "$build" -j "$jobs" --target qmjpeg
}

windows() {
    make --no-print-directory windows JOBS="$jobs" || return 1
    if ! command -v wine >/dev/null 2>&1; then
        echo "windows: no Wine here (its packages could not be installed): built, not run"
        return 0
    fi
    # One Wine prefix for both executables; its first start is the slow part.
    WINEPREFIX=$(mktemp -d)
    export WINEPREFIX WINEDEBUG=-all
    trap 'wineserver -k >/dev/null 2>&1 || true; rm -rf "$WINEPREFIX"' EXIT
    wineboot -i >/dev/null 2>&1 || true
    local status=0
    for target in win32:mingw-i686 win64:mingw-x86_64; do
        configure "build-${target%%:*}" "${target#*:}" OFF &&
            ctest --test-dir "build-${target%%:*}" --output-on-failure || status=1
    done
    return "$status"
}

aarch64() {
    configure build-aarch64 linux-aarch64 ON &&
        cmake --build build-aarch64 -j "$jobs" &&
        ctest --test-dir build-aarch64 -j "$jobs" --output-on-failure
}

golden_only() { # golden_only NAME TOOLCHAIN CLASSES
    configure "build-$1" "$2" OFF &&
        cmake -S . -B "build-$1" -DQMJPEG_GOLDEN_CLASSES="$3" >/dev/null &&
        cmake --build "build-$1" -j "$jobs" --target qmjpeg &&
        ctest --test-dir "build-$1" --output-on-failure
}

reference
for step in $steps; do
    case "$step" in
        windows) timed "windows (build, Wine golden)" windows ;;
        aarch64) timed "aarch64 (build, whole suite)" aarch64 ;;
        s390x) timed "s390x (build, golden)" golden_only s390x linux-s390x "0 3" ;;
        i686) timed "i686 Linux (build, golden)" golden_only i686 linux-i686 "0 3" ;;
        *) echo "cross-check: unknown step '$step'" >&2; exit 2 ;;
    esac
done
echo "== cross-check timings"
printf '%s\n' "${timings[@]}"
[ ${#failed[@]} -eq 0 ]
