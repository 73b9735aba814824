#!/bin/sh
# ffmpeg-line.sh PHOTO_DIR COUNT INTERVAL QUANTISER OUTPUT [mpdecimate]
# Prints the fastest single ffmpeg command line we know for the same slide show:
# the photos decoded once as one image sequence at a quarter size (-lowres 2),
# scaled and brought to 4:2:0 once each, picked with select, held with loop,
# cross-faded with xfade only over the 25 fade frames, all joined with concat,
# encoded as MPEG-4 with FourCC DX50 at the quantiser, a key frame every 250
# frames, as quillon-render's movie. With "mpdecimate", repeated frames are
# dropped before the encoder (-fps_mode vfr), as ffmpeg users do to save their
# encoding; that movie loses its last held second.
# Another frame or encoder (the HD benchmark): SCALE, the filters that bring a
# photo to the frame (default scale=720:480:flags=bicubic); LOWRES (default 2);
# CODEC, the encoder's options (default MPEG-4 DX50 at the quantiser).
set -eu
dir=$1 n=$2 interval=$3 q=$4 out=$5 decimate=${6:-}
hold=$((interval * 25))
scale=${SCALE:-scale=720:480:flags=bicubic}
codec=${CODEC:--c:v mpeg4 -vtag DX50 -q:v $q}
g="[0:v]$scale,format=yuv420p,split=$n"
i=0; while [ $i -lt "$n" ]; do g="$g[s$i]"; i=$((i + 1)); done
g="$g;"
i=0
while [ $i -lt "$n" ]; do
    g="$g[s$i]select=eq(n\\,$i),setpts=PTS-STARTPTS,split=3[h$i][a$i][b$i];"
    g="$g[h$i]loop=loop=$((hold - 1)):size=1,setpts=N/25/TB[H$i];"
    g="$g[a$i]loop=loop=24:size=1,setpts=N/25/TB[A$i];"
    g="$g[b$i]loop=loop=24:size=1,setpts=N/25/TB[B$i];"
    i=$((i + 1))
done
i=0
while [ $i -lt $((n - 1)) ]; do
    g="$g[A$i][B$((i + 1))]xfade=transition=fade:duration=1:offset=0[F$i];"
    i=$((i + 1))
done
# Inputs the first and last clips need no fade material for.
g="$g[B0]nullsink;[A$((n - 1))]nullsink;"
i=0; parts=""
while [ $i -lt "$n" ]; do
    parts="$parts[H$i]"
    [ $i -lt $((n - 1)) ] && parts="$parts[F$i]"
    i=$((i + 1))
done
g="$g${parts}concat=n=$((2 * n - 1)):v=1:a=0"
rate="-r 25"
if [ "$decimate" = mpdecimate ]; then
    g="$g,mpdecimate"
    rate="-fps_mode vfr"
fi
printf '%s\n' "ffmpeg -v error -y -lowres ${LOWRES:-2} -framerate 25 -i $dir/p%04d.jpg -filter_complex '$g[v]' -map '[v]' $rate $codec -g 250 -threads $(nproc) $out"
