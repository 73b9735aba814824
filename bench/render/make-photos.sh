#!/bin/sh
# make-photos.sh DIR COUNT WIDTH HEIGHT: photo-like JPEGs p0000.jpg, p0001.jpg, …
# (fractal plasma with grain, about 5 MB at 12 megapixels, like a camera's).
# Photos already there are kept, so a second run costs nothing.
set -eu
dir=$1 count=$2 width=$3 height=$4
mkdir -p "$dir"
i=0
while [ "$i" -lt "$count" ]; do
    f=$(printf '%s/p%04d.jpg' "$dir" "$i")
    if [ ! -s "$f" ]; then
        convert -size "${width}x${height}" -seed "$((i + 1))" plasma:fractal -blur 0x1 \
            -attenuate 0.4 +noise Gaussian -quality 90 "$f"
    fi
    i=$((i + 1))
done
