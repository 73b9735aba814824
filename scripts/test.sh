#!/bin/sh
# Installs what is needed, builds everything and runs every test.
#   BUILD_DIR   build folder (default: build)
#   CMAKE_ARGS  extra arguments for the configure step
set -eu
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build}

./scripts/install-deps.sh
# shellcheck disable=SC2086
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo ${CMAKE_ARGS:-}
cmake --build "$BUILD_DIR"
ctest --test-dir "$BUILD_DIR" --output-on-failure --timeout 600 -j"$(nproc)"
