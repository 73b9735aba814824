#!/bin/sh
# The render path under ThreadSanitizer: builds the script engine, the media
# graph, the renderer and quillon-render with -DQUILLON_TSAN=ON, runs their
# tests, then renders the samples with quillon-render as a user would. Any
# report of a data race ends the script with a failure.
#
#   bench/render/tsan.sh [BUILD_DIR]     (default: build-tsan)
#   BENCH_WORK=/tmp/quillon-bench        where run.sh keeps the benchmark photos
#
# FFmpeg's libraries are not instrumented, so the reference counts of its
# picture buffers are invisible to the sanitizer; tests/media/tsan-suppressions.txt
# names the two copy routines where that shows. Nothing of ours is suppressed.
set -eu
cd "$(dirname "$0")/../.."
root=$(pwd)
dir=${1:-build-tsan}

cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQUILLON_TSAN=ON > /dev/null
cmake --build "$dir" -j2 --target avs_tests media_tests renderer_tests tools_tests quillon-render

export TSAN_OPTIONS="suppressions=$root/tests/media/tsan-suppressions.txt halt_on_error=1 \
second_deadlock_stack=1 history_size=4"
export QT_QPA_PLATFORM=offscreen QUILLON_SOURCE_DIR="$root"
for t in avs_tests media_tests renderer_tests tools_tests; do
    echo "== $t"
    "$dir/bin/$t" --gtest_brief=1
done

echo "== quillon-render of the samples"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
TMPDIR="$work" "$dir/bin/quillon-render" --interval 1 --sound samples/tune.wav \
    --output-folder "$work/out" samples 2> "$work/stderr.txt" || {
    cat "$work/stderr.txt" >&2
    exit 1
}
tail -n 1 "$work/stderr.txt"
# The benchmark job's photos too, when they are there (bench/render/run.sh makes
# them): large pictures keep every thread busy for longer.
photos=${BENCH_WORK:-/tmp/quillon-bench}/photos24
if [ -s "$photos/p0023.jpg" ]; then
    echo "== quillon-render of the benchmark job"
    TMPDIR="$work" "$dir/bin/quillon-render" --interval 3 --output-folder "$work/job" \
        "$photos"/p*.jpg 2> "$work/stderr.txt" || {
        cat "$work/stderr.txt" >&2
        exit 1
    }
    tail -n 1 "$work/stderr.txt"
fi
echo "no data race reported"
