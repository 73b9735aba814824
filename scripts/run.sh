#!/bin/sh
# Installs what is needed, builds Quillon and runs it: the program itself when a
# display is available, otherwise a demo movie made from the bundled samples.
set -eu
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}

./scripts/install-deps.sh
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR"

if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x "$BUILD_DIR/bin/quillon" ]; then
    exec "$BUILD_DIR/bin/quillon"
fi

OUT=${QUILLON_DEMO_FOLDER:-$HOME/My Movie}
echo "No display: rendering a demo movie from samples/ into \"$OUT\"."
"$BUILD_DIR/bin/quillon-render" --interval 2 --output-folder "$OUT" samples
echo
echo "The movie is \"$OUT/photo_video.avi\". Play it with: ffplay \"$OUT/photo_video.avi\""
