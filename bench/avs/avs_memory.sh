#!/bin/sh
# Peak resident memory of the script engine reading a whole slide show at
# 720 × 480 frame by frame, for 24 photos and for 1,000 photos (1024 × 768
# JPEGs, 3-second slides), each in a fresh process, and their ratio. Memory must
# not grow with the number of photos: the frame cache has a fixed budget.
#   BUILD_DIR  build folder holding bin/avs_memory (default: build)
set -eu
cd "$(dirname "$0")/../.."
BUILD_DIR=${BUILD_DIR:-build}
BIN="$BUILD_DIR/bin/avs_memory"
[ -x "$BIN" ] || { echo "build $BIN first: cmake --build $BUILD_DIR --target avs_memory" >&2; exit 1; }

small=$("$BIN" 24)
large=$("$BIN" 1000)
echo "$small"
echo "$large"
peak() { echo "$1" | sed 's/.*peak_rss_mib \([0-9.]*\).*/\1/'; }
awk -v s="$(peak "$small")" -v l="$(peak "$large")" 'BEGIN {
    printf "peak resident memory: 24 photos %.1f MiB, 1000 photos %.1f MiB, ratio %.2f\n", s, l, l / s
}'
