#!/usr/bin/env bash
# tools/ensure-deps.sh on a PATH without Debian's package tools (a folder of links to every
# other command): with the build and test tools present it passes; without cmake it fails,
# naming what is missing with Debian's and Fedora's package names, and installs nothing.
set -uo pipefail
script="$(cd "$(dirname "$0")/../.." && pwd)/tools/ensure-deps.sh"
farm=$(mktemp -d)
trap 'rm -rf "$farm"' EXIT

# A folder of links to every command on PATH except Debian's package tools.
without=$farm/without-dpkg
mkdir -p "$without"
IFS=: read -r -a dirs <<<"$PATH"
for dir in "${dirs[@]}"; do
    [ -d "$dir" ] || continue
    for command in "$dir"/*; do
        name=${command##*/}
        case "$name" in dpkg | dpkg-query | apt | apt-get | apt-cache) continue ;; esac
        [ -x "$command" ] && [ ! -e "$without/$name" ] && ln -s "$command" "$without/$name"
    done
done
# The same without cmake.
nocmake=$farm/without-cmake
cp -a "$without" "$nocmake"
rm -f "$nocmake/cmake"

status=0
fail() { echo "FAILED: $*"; status=1; }

out=$(PATH=$without QMJPEG_DEPS_PROBE_ONLY=0 "$script" build test 2>&1) ||
    fail "build and test tools present, no dpkg: exit $? ($out)"

out=$(PATH=$nocmake "$script" build 2>&1) && fail "cmake missing: the check passed"
[[ $out == *"cmake 3.25 or later"*"Debian: cmake"*"Fedora: cmake"* ]] ||
    fail "cmake missing: the message does not name it ($out)"
[[ $out == *Installing* ]] && fail "cmake missing: it tried to install without apt-get"

if [ $status -eq 0 ]; then
    echo "ensure-deps without dpkg: 2 passed, 0 failed"
fi
exit $status
