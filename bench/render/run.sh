#!/bin/sh
# The render benchmark: the benchmark job (24 photos of 4000 × 3000, interval 3,
# NTSC High, the DX50 compressor: 2375 frames) made by quillon-render and by the
# fastest equivalent ffmpeg command line, side by side in one run, at the same
# quantiser. Prints the best wall time of RUNS runs of each, their peak memory
# and the ratios.
#
#   bench/render/run.sh [BUILD_DIR]     (default: build)
#   RUNS=3 QUANTISER=3 BENCH_WORK=/tmp/quillon-bench
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
work=${BENCH_WORK:-/tmp/quillon-bench}
runs=${RUNS:-3}
q=${QUANTISER:-3}

"$here/make-photos.sh" "$work/photos24" 24 4000 3000

# The compressor's quality setting that gives quantiser $q.
quality=100
while [ $quality -ge 0 ]; do
    [ $((1 + ((100 - quality) * 30 + 50) / 100)) -eq "$q" ] && break
    quality=$((quality - 1))
done
mkdir -p "$work/config/quillon" "$work/tmp"
printf '[mpeg4]\r\nQuality=%s\r\n' "$quality" > "$work/config/quillon/compressors.ini"
export XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp"

# best_of COMMAND...: runs it $runs times; prints "best_seconds peak_kb".
best_of() {
    best="" peak=0 i=0
    while [ $i -lt "$runs" ]; do
        /usr/bin/time -f "%e %M" -o "$work/time.txt" "$@" > /dev/null 2> "$work/stderr.txt" || {
            cat "$work/stderr.txt" >&2
            exit 1
        }
        read -r t m < "$work/time.txt"
        if [ -z "$best" ] || [ "$(echo "$t < $best" | bc)" -eq 1 ]; then best=$t; fi
        [ "$m" -gt "$peak" ] && peak=$m
        i=$((i + 1))
    done
    echo "$best $peak"
}

frames() {
    ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets \
        -of csv=p=0 "$1"
}

set -- "$work"/photos24/p*.jpg
read -r quillon_s quillon_kb <<EOF2
$(best_of "$build/bin/quillon-render" --interval 3 --standard ntsc --resolution high \
    --compressor 0 --output-folder "$work/out-quillon" "$@")
EOF2

ffline=$("$here/ffmpeg-line.sh" "$work/photos24" 24 3 "$q" "$work/out-ffmpeg.avi")
read -r ffmpeg_s ffmpeg_kb <<EOF2
$(best_of sh -c "$ffline")
EOF2

echo "benchmark job: 24 photos 4000x3000, interval 3, NTSC High, DX50, quantiser $q, best of $runs"
printf '%-14s %8s %10s %8s\n' "" "seconds" "peak MB" "frames"
printf '%-14s %8s %10s %8s\n' quillon-render "$quillon_s" "$((quillon_kb / 1024))" \
    "$(frames "$work/out-quillon/photo_video.avi")"
printf '%-14s %8s %10s %8s\n' ffmpeg "$ffmpeg_s" "$((ffmpeg_kb / 1024))" \
    "$(frames "$work/out-ffmpeg.avi")"
echo "quillon-render is $(echo "scale=2; $ffmpeg_s / $quillon_s" | bc)x as fast as ffmpeg"
