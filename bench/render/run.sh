#!/bin/sh
# The render benchmark, side by side in one run, for each quantiser asked for:
#   - quillon-render making the benchmark job (24 photos of 4000 × 3000,
#     interval 3, NTSC High, the DX50 compressor: 2375 frames);
#   - the fastest equivalent ffmpeg command line (ffmpeg-line.sh);
#   - encode-only: the same 2375 frames, made and converted beforehand, through
#     the same encoder with the same settings and threads (media_bench
#     --encode-only), the floor that the render can approach.
# The three are run in turns, RUNS rounds, and the best wall time of each is
# kept. Then the memory check: the slide show of 1,000 photos of 1024 × 768 at
# interval 1 (made once, kept in BENCH_WORK) against the peak of the benchmark
# job, which must stay flat in the number of photos.
#
#   bench/render/run.sh [BUILD_DIR]     (default: build; needs quillon-render and media_bench)
#   RUNS=3 QUANTISERS="3 4" BENCH_WORK=/tmp/quillon-bench MANY=1000 (0: no memory check)
#
# On a machine shared with other work, each login session's processes share the
# cores as one group (the kernel's autogroups), so `nice` does not help. As root,
# the benchmark can be given its own group ahead of the others:
#   setsid sh -c 'echo -20 > /proc/$$/autogroup; exec bench/render/run.sh build'
# The "cores busy" figures show how much of the machine each command had.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
work=${BENCH_WORK:-/tmp/quillon-bench}
runs=${RUNS:-3}
quantisers=${QUANTISERS:-3 4}
many=${MANY:-1000}

for tool in quillon-render media_bench; do
    [ -x "$build/bin/$tool" ] || {
        echo "build $build/bin/$tool first: cmake --build $build --target $tool" >&2
        exit 1
    }
done

"$here/make-photos.sh" "$work/photos24" 24 4000 3000
mkdir -p "$work/config/quillon" "$work/tmp"
export XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp"

# timed NAME COMMAND...: runs it once; appends "seconds peak_kb cpu_seconds" to
# $work/NAME.times.
timed() {
    name=$1
    shift
    /usr/bin/time -f "%e %M %U %S" -o "$work/time.txt" "$@" > /dev/null 2> "$work/stderr.txt" || {
        cat "$work/stderr.txt" >&2
        exit 1
    }
    read -r t m u k < "$work/time.txt"
    echo "$t $m $(echo "$u + $k" | bc)" >> "$work/$name.times"
}

# best NAME: "seconds peak_kb cpu_seconds": the best time of the runs of NAME, the
# highest peak, the processor time of the best run.
best() {
    line=$(sort -n "$work/$1.times" | head -1)
    echo "${line%% *} $(sort -k2 -n "$work/$1.times" | tail -1 | cut -d' ' -f2) ${line##* }"
}

frames() {
    ffprobe -v error -select_streams v:0 -count_packets -show_entries stream=nb_read_packets \
        -of csv=p=0 "$1"
}

ratio() {
    echo "scale=2; $1 / $2" | bc
}

set -- "$work"/photos24/p*.jpg
# What no render of these photos can avoid: decoding them (at a quarter of their
# size, as the script engine does), one after the other, with libjpeg-turbo's own
# djpeg.
rm -f "$work/decode.times"
timed decode sh -c 'for f; do djpeg -scale 1/4 -outfile /dev/null "$f"; done' sh "$@"
read -r decode_s decode_kb decode_cpu < "$work/decode.times"
echo "benchmark job: 24 photos 4000x3000, interval 3, NTSC High, DX50, best of $runs," \
    "$(nproc) cores"
for q in $quantisers; do
    # The compressor's quality setting that gives quantiser $q.
    quality=100
    while [ $quality -ge 0 ]; do
        [ $((1 + ((100 - quality) * 30 + 50) / 100)) -eq "$q" ] && break
        quality=$((quality - 1))
    done
    printf '[mpeg4]\r\nQuality=%s\r\n' "$quality" > "$work/config/quillon/compressors.ini"
    ffline=$("$here/ffmpeg-line.sh" "$work/photos24" 24 3 "$q" "$work/out-ffmpeg.avi")
    rm -f "$work"/*.times
    i=0
    while [ $i -lt "$runs" ]; do
        timed quillon "$build/bin/quillon-render" --interval 3 --standard ntsc \
            --resolution high --compressor 0 --output-folder "$work/out-quillon" "$@"
        timed ffmpeg sh -c "$ffline"
        "$build/bin/media_bench" --encode-only "$work/photos24" 3 1 >> "$work/encode.times"
        i=$((i + 1))
    done
    read -r quillon_s quillon_kb quillon_cpu <<EOF2
$(best quillon)
EOF2
    read -r ffmpeg_s ffmpeg_kb ffmpeg_cpu <<EOF2
$(best ffmpeg)
EOF2
    read -r encode_s encode_cpu <<EOF2
$(sort -n "$work/encode.times" | head -1)
EOF2
    echo
    echo "quantiser $q"
    printf '  %-16s %8s %8s %10s %8s\n' "" "seconds" "cpu s" "peak MB" "frames"
    printf '  %-16s %8s %8s %10s %8s\n' quillon-render "$quillon_s" "$quillon_cpu" \
        "$((quillon_kb / 1024))" "$(frames "$work/out-quillon/photo_video.avi")"
    printf '  %-16s %8s %8s %10s %8s\n' ffmpeg "$ffmpeg_s" "$ffmpeg_cpu" "$((ffmpeg_kb / 1024))" \
        "$(frames "$work/out-ffmpeg.avi")"
    printf '  %-16s %8s %8s\n' encode-only "$encode_s" "$encode_cpu"
    echo "  quillon-render is $(ratio "$ffmpeg_s" "$quillon_s")x as fast as ffmpeg (target >= 2)"
    echo "  quillon-render takes $(ratio "$quillon_s" "$encode_s")x the encode-only time" \
        "(target <= 1.3)"
    echo "  quillon-render kept $(ratio "$quillon_cpu" "$quillon_s") cores busy;" \
        "encode-only $(ratio "$encode_cpu" "$encode_s")"
    # With every core busy all the time, the render cannot take less than the
    # encoder's and the decoder's processor time spread over the cores.
    floor=$(echo "scale=3; f = ($encode_cpu + $decode_cpu) / $(nproc); if (f < $encode_s) f = $encode_s; f" | bc)
    echo "  the photos alone take $decode_cpu s to decode; encoder + decoder on $(nproc) cores:" \
        "at least $(ratio "$floor" 1) s, $(ratio "$floor" "$encode_s")x encode-only"
    [ -n "${job_kb:-}" ] || job_kb=$quillon_kb
done

[ "$many" -gt 0 ] || exit 0
"$here/make-photos.sh" "$work/photos$many" "$many" 1024 768
rm -f "$work/many.times"
timed many "$build/bin/quillon-render" --interval 1 --standard ntsc --resolution high \
    --compressor 0 --output-folder "$work/out-many" "$work/photos$many"
read -r many_s many_kb many_cpu < "$work/many.times"
echo
echo "memory: $many photos 1024x768 at interval 1 ($(frames "$work/out-many/photo_video.avi")" \
    "frames, $many_s s): peak $((many_kb / 1024)) MB; the benchmark job: $((job_kb / 1024)) MB"
echo "  $(ratio "$many_kb" "$job_kb")x the benchmark job's peak (target <= 1.2; the job <= 150 MB)"
