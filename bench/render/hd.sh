#!/bin/sh
# The HD benchmark, side by side in one run: quillon-render making the benchmark
# photos (24 of 4000 × 3000, interval 3) into a 1920 × 1080 H.264 movie in MP4,
# letterboxed (2375 frames), against the equivalent single ffmpeg command line
# (ffmpeg-line.sh with -lowres 1, scale into the frame and pad, libx264 with
# the compressor's own settings: CRF 20, preset fast, tune stillimage, no
# B-frames, one frame of look-ahead, a key frame every 250 frames,
# +faststart). RUNS rounds in turns,
# medians. Then memory: MANY photos of 1024 × 768 at interval 1 against 24 of
# them, which must stay flat in the number of photos.
#
#   bench/render/hd.sh [BUILD_DIR]     (default: build; needs quillon-render)
#   RUNS=5 BENCH_WORK=/tmp/quillon-bench MANY=200 (0: no memory check)
#
# Give it its own scheduling group on a shared machine, as run.sh explains.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
work=${BENCH_WORK:-/tmp/quillon-bench}
runs=${RUNS:-5}
many=${MANY:-200}
qr="$build/bin/quillon-render"
[ -x "$qr" ] || {
    echo "build $qr first: cmake --build $build --target quillon-render" >&2
    exit 1
}

. "$here/lib.sh"
own_folder "$work"

"$here/make-photos.sh" "$work/photos24" 24 4000 3000
mkdir -p "$work/hd-config/quillon" "$work/tmp"
export XDG_CONFIG_HOME="$work/hd-config" TMPDIR="$work/tmp"
# Quality 61 is rate factor 20 (and the entry's default).
printf '[libx264]\r\nQuality=61\r\nKeyFrameInterval=250\r\n' \
    > "$work/hd-config/quillon/compressors.ini"

# played MOVIE: "frames/coded": the frames a player counts at 25 a second and
# the pictures coded (a held picture is one that lasts).
played() {
    seconds=$(ffprobe -v error -select_streams v:0 -show_entries stream=duration \
        -of csv=p=0 "$1")
    coded=$(ffprobe -v error -select_streams v:0 -count_packets \
        -show_entries stream=nb_read_packets -of csv=p=0 "$1")
    echo "$(echo "$seconds * 25 / 1" | bc)/$coded"
}

job="--interval 3 --container mp4 --compressor H.264 --size 1920x1080 --fit letterbox"
frame="scale=1920:1080:force_original_aspect_ratio=decrease:flags=bicubic"
frame="$frame,pad=1920:1080:(ow-iw)/2:(oh-ih)/2"
codec="-c:v libx264 -crf 20 -preset fast -tune stillimage -bf 0 -rc-lookahead 1"
codec="$codec -x264-params sync-lookahead=0 -pix_fmt yuv420p"
codec="$codec -movflags +faststart"
ffline=$(SCALE=$frame LOWRES=1 CODEC=$codec \
    "$here/ffmpeg-line.sh" "$work/photos24" 24 3 0 "$work/hd-ffmpeg.mp4")

echo "HD job: 24 photos 4000x3000, interval 3, 1920x1080 letterbox, H.264 CRF 20 in MP4," \
    "medians of $runs, $(nproc) cores; load before: $(cut -d' ' -f1-3 /proc/loadavg)"
rm -f "$work"/hd-*.times
i=0
while [ $i -lt "$runs" ]; do
    # shellcheck disable=SC2086
    timed hd-quillon "$qr" $job --output-folder "$work/hd-quillon" "$work/photos24"
    timed hd-ffmpeg sh -c "$ffline"
    i=$((i + 1))
done
read -r q_s q_kb q_cpu <<EOF2
$(median hd-quillon)
EOF2
read -r f_s f_kb f_cpu <<EOF2
$(median hd-ffmpeg)
EOF2
printf '  %-16s %8s %8s %8s %14s %10s\n' "" "seconds" "cpu s" "peak MB" "frames/coded" "bytes"
printf '  %-16s %8s %8s %8s %14s %10s\n' quillon-render "$q_s" "$q_cpu" "$((q_kb / 1024))" \
    "$(played "$work/hd-quillon/photo_video.mp4")" \
    "$(stat -c %s "$work/hd-quillon/photo_video.mp4")"
printf '  %-16s %8s %8s %8s %14s %10s\n' ffmpeg "$f_s" "$f_cpu" "$((f_kb / 1024))" \
    "$(played "$work/hd-ffmpeg.mp4")" "$(stat -c %s "$work/hd-ffmpeg.mp4")"
echo "  quillon-render is $(ratio "$f_s" "$q_s")x as fast as ffmpeg (target >= 3)," \
    "peak $((q_kb / 1024)) MB (target <= 200)"

[ "$many" -gt 0 ] || exit 0
"$here/make-photos.sh" "$work/photos$many" "$many" 1024 768
mkdir -p "$work/hd-few"
for f in "$work/photos$many"/p00[01]?.jpg "$work/photos$many"/p002[0-3].jpg; do
    cp "$f" "$work/hd-few/"
done
rm -f "$work/hd-many.times" "$work/hd-few.times"
hd="--interval 1 --container mp4 --compressor H.264 --size 1920x1080 --fit letterbox"
# shellcheck disable=SC2086
timed hd-few "$qr" $hd --output-folder "$work/hd-out-few" "$work/hd-few"
# shellcheck disable=SC2086
timed hd-many "$qr" $hd --output-folder "$work/hd-out-many" "$work/photos$many"
read -r few_s few_kb few_cpu < "$work/hd-few.times"
read -r many_s many_kb many_cpu < "$work/hd-many.times"
echo "memory at interval 1, photos of 1024x768 into 1920x1080: 24 photos peak" \
    "$((few_kb / 1024)) MB; $many photos ($(played "$work/hd-out-many/photo_video.mp4")" \
    "frames, $many_s s) peak $((many_kb / 1024)) MB:" \
    "$(ratio "$many_kb" "$few_kb")x (target <= 1.2)"
echo "load after: $(cut -d' ' -f1-3 /proc/loadavg)"
