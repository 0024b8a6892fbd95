#!/usr/bin/env bash
# Runs the tool on the bundled examples, writing out/, and prints one line per output saying
# what it holds.
# Usage: tools/run-examples.sh [build-folder]
set -euo pipefail
cd "$(dirname "$0")/.."

tool=${1:-build}/qmjpeg
mkdir -p out

# The signed little-endian 32-bit field of a file at a byte offset.
field32() { od -An -t d4 -j "$2" -N 4 --endian=little "$1" | tr -d ' '; }
bytes() { wc -c <"$1" | tr -d ' '; }

"$tool" -f examples/model.qm out/model.jpg
echo "out/model.jpg: JPEG embedded in examples/model.qm, $(bytes out/model.jpg) bytes"

"$tool" -i examples/source.bmp examples/final.bmp out/shading.jpg
width=$(field32 examples/source.bmp 18)
height=$(field32 examples/source.bmp 22)
echo "out/shading.jpg: shading ratio of examples/source.bmp and examples/final.bmp," \
    "${width}x${height#-}, $(bytes out/shading.jpg) bytes"
