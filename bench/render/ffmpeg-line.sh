#!/bin/sh
# ffmpeg-line.sh PHOTO_DIR COUNT INTERVAL QUANTISER OUTPUT
# Prints the fastest single ffmpeg command line we know for the same slide show:
# the photos decoded once as one image sequence at a quarter size (-lowres 2),
# each picked with select, held with loop, cross-faded with xfade only over the
# 25 fade frames, all joined with concat, encoded as MPEG-4 with FourCC DX50.
set -eu
dir=$1 n=$2 interval=$3 q=$4 out=$5
hold=$((interval * 25))
g="[0:v]scale=720:480:flags=bicubic,split=$n"
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
g="$g${parts}concat=n=$((2 * n - 1)):v=1:a=0[v]"
printf '%s\n' "ffmpeg -v error -y -lowres 2 -framerate 25 -i $dir/p%04d.jpg -filter_complex '$g' -map '[v]' -r 25 -c:v mpeg4 -vtag DX50 -q:v $q -threads 2 $out"
