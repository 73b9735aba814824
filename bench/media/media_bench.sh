#!/bin/sh
# What the media graph adds to the encoder (see media_bench.cpp), twice: from a
# clip with its pictures ready in memory (the graph alone), and from the
# benchmark job's 24 photos of 4000 × 3000 through the script engine.
#   BUILD_DIR  build folder holding bin/media_bench (default: build)
#   PHOTOS     folder for the benchmark photos, made once (default: $BUILD_DIR/bench-photos)
set -eu
cd "$(dirname "$0")/../.."
BUILD_DIR=${BUILD_DIR:-build}
PHOTOS=${PHOTOS:-$BUILD_DIR/bench-photos}
BIN="$BUILD_DIR/bin/media_bench"
[ -x "$BIN" ] || { echo "build $BIN first: cmake --build $BUILD_DIR --target media_bench" >&2; exit 1; }
sh bench/render/make-photos.sh "$PHOTOS" 24 4000 3000
"$BIN"
"$BIN" "$PHOTOS"
