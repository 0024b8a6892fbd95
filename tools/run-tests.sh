#!/usr/bin/env bash
# Runs the tests of a build folder with ctest and prints a progress line for every tenth of
# them, plus everything ctest says about failures (their output and the closing list). Passing
# tests are not listed one by one; <build>/Testing/Temporary/LastTest.log keeps the full record.
# Usage: tools/run-tests.sh <build-folder> [jobs]
set -euo pipefail

build=${1:?usage: tools/run-tests.sh <build-folder> [jobs]}
jobs=${2:-2}

ctest --test-dir "$build" -j "$jobs" --output-on-failure 2>&1 | awk '
    / Start +[0-9]+: / || /^Internal ctest/ { next }
    /^ *[0-9]+\/[0-9]+ Test +#[0-9]+: .* Passed / {
        split($1, count, "/")
        tenth = int(count[1] * 10 / count[2])
        if (tenth > shown) {
            shown = tenth
            printf "%4d%%  %d of %d tests run\n", tenth * 10, count[1], count[2]
            fflush()
        }
        next
    }
    { print; fflush() }'
