#!/bin/sh
# Encoder settings at equal quality: the coded frames of the benchmark job (a
# lossless FFV1 render by quillon-render, held frames left out as the
# compressor leaves them out) encoded as DX50 by ffmpeg's MPEG-4 encoder on one
# thread, at quantisers 3, 4 and 5, with the compressor's settings and with each
# candidate; for each: processor seconds, bytes, PSNR against the lossless
# frames. A candidate wins only if it is faster and no larger at equal PSNR.
#
#   bench/render/encoder-settings.sh [BUILD_DIR]     (default: build)
#   BENCH_WORK=/tmp/quillon-bench CANDIDATES="-motion_est zero|-me_range 4|-mbd rd"
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
work=${BENCH_WORK:-/tmp/quillon-bench}
candidates=${CANDIDATES:--motion_est zero|-me_range 4|-mbd rd}

. "$here/lib.sh"
own_folder "$work"

"$here/make-photos.sh" "$work/photos24" 24 4000 3000
mkdir -p "$work/config/quillon" "$work/tmp" "$work/settings"
export XDG_CONFIG_HOME="$work/config" TMPDIR="$work/tmp"
ffv1=$("$build/bin/quillon-render" --list-compressors | awk -F'\t' '/FFV1/ {print $1}')
"$build/bin/quillon-render" --interval 3 --compressor "$ffv1" \
    --output-folder "$work/settings" "$work/photos24" > /dev/null 2>&1
src="$work/settings/coded.y4m"
ffmpeg -v error -y -i "$work/settings/photo_video.avi" -fps_mode passthrough \
    -f yuv4mpegpipe "$src"

echo "DX50 on one thread, the $(ffprobe -v error -count_frames -show_entries \
    stream=nb_read_frames -of csv=p=0 "$src") coded frames of the benchmark job"
printf '%-22s %3s %8s %10s %8s\n' settings q "cpu s" bytes "PSNR dB"
echo "(default)|$candidates" | tr '|' '\n' | while read -r opts; do
    for q in 3 4 5; do
        extra=$opts
        [ "$opts" = "(default)" ] && extra=""
        # shellcheck disable=SC2086
        /usr/bin/time -f "%U" -o "$work/settings/t.txt" ffmpeg -v error -y -i "$src" \
            -fps_mode passthrough -c:v mpeg4 -vtag DX50 -q:v "$q" -g 250 -bf 0 $extra \
            -threads 1 "$work/settings/o.avi"
        psnr=$(ffmpeg -i "$work/settings/o.avi" -i "$src" -lavfi "[0:v][1:v]psnr" -f null - 2>&1 \
            | grep -o 'average:[0-9.]*' | cut -d: -f2)
        printf '%-22s %3s %8s %10s %8s\n' "$opts" "$q" "$(cat "$work/settings/t.txt")" \
            "$(stat -c %s "$work/settings/o.avi")" "$psnr"
    done
done
rm -f "$src"
