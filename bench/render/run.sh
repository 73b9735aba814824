#!/bin/sh
# The render benchmark, side by side in one run, for each quantiser asked for:
#   - quillon-render making the benchmark job (24 photos of 4000 × 3000,
#     interval 3, NTSC High, the DX50 compressor: 2375 frames), on all the
#     cores and on one (taskset), and with --encode-every-frame (held frames
#     encoded again, as before they were written as repeats);
#   - the fastest equivalent ffmpeg command line (ffmpeg-line.sh: 4:2:0 straight
#     after the scale, a key frame every 250 frames, the same quantiser);
#   - the same line with mpdecimate and -fps_mode vfr, which skips encoding
#     repeated frames (and fade frames it finds too alike) and loses the last
#     held second;
#   - the floor: what no render can do without, the photos' decode (the script
#     engine's own decoder) plus the encode of each distinct frame once (the
#     compressor's own encoder and settings), in processor time spread over
#     the cores (media_bench --floor, once a round, the median round kept);
#   - quillon-render's start-up alone (--version: loading its libraries, FFmpeg's
#     with all of theirs), which any render pays and the floor leaves out.
# The commands run in turns, RUNS rounds, and the median wall time of each is
# kept. Then the memory check: the slide show of 1,000 photos of 1024 × 768 at
# interval 1 (made once, kept in BENCH_WORK) against 24 photos of the same size,
# which must stay flat in the number of photos.
#
#   bench/render/run.sh [BUILD_DIR]     (default: build; needs quillon-render and media_bench)
#   RUNS=5 QUANTISERS="3 4" BENCH_WORK=/tmp/quillon-bench MANY=1000 (0: no memory check)
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
runs=${RUNS:-5}
quantisers=${QUANTISERS:-3 4}
many=${MANY:-1000}
cores=$(nproc)

for tool in quillon-render media_bench; do
    [ -x "$build/bin/$tool" ] || {
        echo "build $build/bin/$tool first: cmake --build $build --target $tool" >&2
        exit 1
    }
done

. "$here/lib.sh"
own_folder "$work"

"$here/make-photos.sh" "$work/photos24" 24 4000 3000
mkdir -p "$work/config/quillon" "$work/tmp"
export XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp"

qr="$build/bin/quillon-render"
job="--interval 3 --standard ntsc --resolution high --compressor 0"

echo "benchmark job: 24 photos 4000x3000, interval 3, NTSC High, DX50, medians of $runs," \
    "$cores cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for q in $quantisers; do
    # The compressor's quality setting that gives quantiser $q.
    quality=100
    while [ $quality -ge 0 ]; do
        [ $((1 + ((100 - quality) * 30 + 50) / 100)) -eq "$q" ] && break
        quality=$((quality - 1))
    done
    printf '[mpeg4]\r\nQuality=%s\r\n' "$quality" > "$work/config/quillon/compressors.ini"
    ffline=$("$here/ffmpeg-line.sh" "$work/photos24" 24 3 "$q" "$work/out-ffmpeg.avi")
    ffdecimate=$("$here/ffmpeg-line.sh" "$work/photos24" 24 3 "$q" "$work/out-decimate.avi" \
        mpdecimate)
    rm -f "$work"/*.times "$work/floor.runs"
    i=0
    while [ $i -lt "$runs" ]; do
        # shellcheck disable=SC2086
        timed quillon "$qr" $job --output-folder "$work/out-quillon" "$work/photos24"
        timed ffmpeg sh -c "$ffline"
        timed one-core taskset -c 0 "$qr" $job --output-folder "$work/out-one" "$work/photos24"
        timed decimate sh -c "$ffdecimate"
        timed every "$qr" --encode-every-frame $job --output-folder "$work/out-every" \
            "$work/photos24"
        timed startup "$qr" --version
        # The floor in the same turns, so that it meets the same load as the rest.
        "$build/bin/media_bench" --floor "$work/photos24" 3 1 >> "$work/floor.runs"
        i=$((i + 1))
    done
    read -r quillon_s quillon_kb quillon_cpu <<EOF2
$(median quillon)
EOF2
    read -r ffmpeg_s ffmpeg_kb ffmpeg_cpu <<EOF2
$(median ffmpeg)
EOF2
    read -r decimate_s decimate_kb decimate_cpu <<EOF2
$(median decimate)
EOF2
    read -r one_s one_kb one_cpu <<EOF2
$(median one-core)
EOF2
    read -r every_s every_kb every_cpu <<EOF2
$(median every)
EOF2
    read -r startup_s startup_kb startup_cpu <<EOF2
$(median startup)
EOF2
    # The round whose decode and encode together are the median.
    read -r decode_cpu encode_cpu encode_s distinct <<EOF2
$(awk '{print $1 + $2, $0}' "$work/floor.runs" | sort -n \
        | sed -n "$(((runs + 1) / 2))p" | cut -d' ' -f2-)
EOF2
    floor=$(echo "scale=3; ($decode_cpu + $encode_cpu) / $cores" | bc)
    echo
    echo "quantiser $q"
    printf '  %-22s %8s %8s %8s %12s\n' "" "seconds" "cpu s" "peak MB" "frames/coded"
    printf '  %-22s %8s %8s %8s %12s\n' quillon-render "$quillon_s" "$quillon_cpu" \
        "$((quillon_kb / 1024))" "$(frames "$work/out-quillon/photo_video.avi")"
    printf '  %-22s %8s %8s %8s\n' "quillon-render 1 core" "$one_s" "$one_cpu" \
        "$((one_kb / 1024))"
    printf '  %-22s %8s %8s %8s %12s\n' "  --encode-every-frame" "$every_s" "$every_cpu" \
        "$((every_kb / 1024))" "$(frames "$work/out-every/photo_video.avi")"
    printf '  %-22s %8s %8s %8s %12s\n' ffmpeg "$ffmpeg_s" "$ffmpeg_cpu" "$((ffmpeg_kb / 1024))" \
        "$(frames "$work/out-ffmpeg.avi")"
    printf '  %-22s %8s %8s %8s %12s\n' "ffmpeg mpdecimate" "$decimate_s" "$decimate_cpu" \
        "$((decimate_kb / 1024))" "$(frames "$work/out-decimate.avi")"
    echo "  floor: the photos' decode $decode_cpu cpu s + the encode of the $distinct distinct" \
        "frames $encode_cpu cpu s, over $cores cores: $floor s"
    echo "  quillon-render is $(ratio "$ffmpeg_s" "$quillon_s")x as fast as ffmpeg (target >= 3.5)"
    echo "  quillon-render is $(ratio "$decimate_s" "$quillon_s")x as fast as ffmpeg with" \
        "mpdecimate (target >= 3)"
    echo "  quillon-render takes $(ratio "$quillon_s" "$floor")x the floor (target <= 1.15)"
    echo "  of which start-up (quillon-render --version: loading the libraries, one core)" \
        "$startup_s s; the floor leaves it out"
    # The floor ratio as the product of three factors: the render's own extra
    # work (on one core, where nothing waits for another core), what running on
    # all the cores adds to the processor time, and the cores left idle.
    echo "  that is: on 1 core its processor time is" \
        "$(ratio "$one_cpu" "($decode_cpu + $encode_cpu)")x the floor's (start-up, resizing," \
        "blending, converting, the multiplexer, the coded repeats); on $cores cores" \
        "$(ratio "$quillon_cpu" "$one_cpu")x that; and its wall time is" \
        "$(ratio "$cores * $quillon_s" "$quillon_cpu")x that processor time over $cores cores" \
        "(the cores' idle time)"
    echo "  encoding every frame takes $(ratio "$every_s" "$quillon_s")x the time and" \
        "$(ratio "$every_cpu" "$quillon_cpu")x the processor time of writing held frames as repeats"
    echo "  on $cores cores quillon-render is $(ratio "$one_s" "$quillon_s")x as fast as on 1" \
        "(target >= 1.7); it kept $(ratio "$quillon_cpu" "$quillon_s") cores busy"
    [ -n "${job_kb:-}" ] || job_kb=$quillon_kb
done
echo "  peak memory of the benchmark job: $((job_kb / 1024)) MB (target <= 100)"

[ "$many" -gt 0 ] || exit 0
"$here/make-photos.sh" "$work/photos$many" "$many" 1024 768
# The first 24 of those photos: the same size, so only their number differs.
mkdir -p "$work/few"
for f in "$work/photos$many"/p00[01]?.jpg "$work/photos$many"/p002[0-3].jpg; do
    cp "$f" "$work/few/"
done
rm -f "$work/many.times" "$work/few.times"
timed few "$qr" --interval 1 --compressor 0 --output-folder "$work/out-few" "$work/few"
timed many "$qr" --interval 1 --compressor 0 --output-folder "$work/out-many" "$work/photos$many"
read -r few_s few_kb few_cpu < "$work/few.times"
read -r many_s many_kb many_cpu < "$work/many.times"
echo
echo "memory at interval 1, photos of 1024x768: 24 photos peak $((few_kb / 1024)) MB;" \
    "$many photos ($(frames "$work/out-many/photo_video.avi") frames, $many_s s)" \
    "peak $((many_kb / 1024)) MB"
echo "  $(ratio "$many_kb" "$few_kb")x the peak of 24 photos of the same size (target <= 1.2);" \
    "$(echo "($many_kb - $few_kb) / ($many - 24)" | bc) KB a photo more"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
