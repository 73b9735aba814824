#!/bin/sh
# Speed of the script engine against baselines measured in the same run (see
# avs_speed.cpp): showing a photo against a full-size decode and resize, and a
# cross-fade frame and an average slide-show frame against MPEG-4 encoding.
#   BUILD_DIR  build folder holding bin/avs_speed (default: build)
set -eu
cd "$(dirname "$0")/../.."
BUILD_DIR=${BUILD_DIR:-build}
BIN="$BUILD_DIR/bin/avs_speed"
[ -x "$BIN" ] || { echo "build $BIN first: cmake --build $BUILD_DIR --target avs_speed" >&2; exit 1; }
"$BIN"
