#!/bin/sh
# make-photos.sh DIR COUNT WIDTH HEIGHT: photo-like JPEGs p0000.jpg, p0001.jpg, …
# (fractal plasma with grain, about 5 MB at 12 megapixels, like a camera's).
# Photos already there are kept, so a second run costs nothing.
#
# Up to 100 photos each get a plasma of their own. More would take ImageMagick
# about a second a photo, so then one plasma of twice the size is made (of four) and each
# photo is a different part of it in a different tint, all written by one ffmpeg
# run: still different pictures that decode like photos.
set -eu
dir=$1 count=$2 width=$3 height=$4
mkdir -p "$dir"
if [ "$count" -gt 100 ]; then
    last=$(printf '%s/p%04d.jpg' "$dir" "$((count - 1))")
    [ -s "$last" ] && exit 0
    big="$dir/plasma.png"
    # Four plasmas of the photo size side by side: ImageMagick's resource
    # policy on Debian refuses one plasma of four times 12 megapixels.
    for k in 0 1 2 3; do
        convert -size "${width}x${height}" -seed "$((k + 1))" plasma:fractal -blur 0x1 \
            -attenuate 0.4 +noise Gaussian "$dir/tile$k.png"
    done
    ffmpeg -v error -y -i "$dir/tile0.png" -i "$dir/tile1.png" -i "$dir/tile2.png" \
        -i "$dir/tile3.png" -filter_complex "[0][1]hstack[a];[2][3]hstack[b];[a][b]vstack" "$big"
    rm -f "$dir"/tile?.png
    ffmpeg -v error -y -loop 1 -i "$big" \
        -vf "crop=$width:$height:x='mod(n*389\\,$width)':y='mod(n*211\\,$height)',hue=h='mod(n*37\\,360)'" \
        -frames:v "$count" -q:v 3 -start_number 0 "$dir/p%04d.jpg"
    rm -f "$big"
    exit 0
fi
i=0
while [ "$i" -lt "$count" ]; do
    f=$(printf '%s/p%04d.jpg' "$dir" "$i")
    if [ ! -s "$f" ]; then
        convert -size "${width}x${height}" -seed "$((i + 1))" plasma:fractal -blur 0x1 \
            -attenuate 0.4 +noise Gaussian -quality 90 "$f"
    fi
    i=$((i + 1))
done
