#!/bin/sh
# Builds every fuzz target (libFuzzer, with AddressSanitizer and
# UndefinedBehaviorSanitizer, clang) in a build folder of its own, then runs
# each for a bounded time from its seed corpus in tests/fuzz/corpus/<target>/.
# Inputs the fuzzer finds go to the build folder, never into the seeds.
#   FUZZ_SECONDS  seconds per target (default: 60)
#   BUILD_DIR     build folder (default: build-fuzz)
set -eu
cd "$(dirname "$0")/.."
BUILD_DIR=${BUILD_DIR:-build-fuzz}
FUZZ_SECONDS=${FUZZ_SECONDS:-60}

CC=clang CXX=clang++ cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DQUILLON_FUZZ=ON -DQUILLON_SANITIZE=ON \
    -DCMAKE_C_FLAGS=-fsanitize=fuzzer-no-link -DCMAKE_CXX_FLAGS=-fsanitize=fuzzer-no-link
cmake --build "$BUILD_DIR" --target quillon_fuzzers

while read -r target; do
    [ -n "$target" ] || continue
    seeds="tests/fuzz/corpus/$target"
    found="$BUILD_DIR/fuzz-corpus/$target"
    mkdir -p "$seeds" "$found"
    echo "== $target: $FUZZ_SECONDS s"
    "$BUILD_DIR/bin/$target" -max_total_time="$FUZZ_SECONDS" -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 "$found" "$seeds"
done < "$BUILD_DIR/fuzzers.txt"
