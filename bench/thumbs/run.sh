#!/bin/sh
# The photo list's speed: the add-folder command of the real window over 200
# photos of 12 megapixels, against libjpeg-turbo's own full-size decode of the
# same files (djpeg), in the same run. Each side runs RUNS times in turns; the
# best time of each is compared. The target is at most 1.2x djpeg's time.
#
#   bench/thumbs/run.sh [BUILD_DIR]     (default: build)
#   RUNS=3 COUNT=200 BENCH_WORK=/tmp/quillon-bench
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
work=${BENCH_WORK:-/tmp/quillon-bench}
runs=${RUNS:-3}
count=${COUNT:-200}
photos="$work/photos-thumbs-$count"

"$here/../render/make-photos.sh" "$photos" "$count" 4000 3000

djpeg_all() {
    start=$(date +%s.%N)
    for f in "$photos"/*.jpg; do djpeg -outfile /dev/null "$f"; done
    echo "$(date +%s.%N) - $start" | bc
}

best_djpeg="" best_add=""
i=0
while [ $i -lt "$runs" ]; do
    d=$(djpeg_all)
    a=$("$build/bin/thumbs_bench" "$photos" | awk '{print $4}')
    if [ -z "$best_djpeg" ] || [ "$(echo "$d < $best_djpeg" | bc)" -eq 1 ]; then best_djpeg=$d; fi
    if [ -z "$best_add" ] || [ "$(echo "$a < $best_add" | bc)" -eq 1 ]; then best_add=$a; fi
    i=$((i + 1))
done

echo "add folder of $count photos 4000x3000 (best of $runs):"
printf '  %-28s %7.3f s  %6.1f ms/photo\n' "Quillon's add-folder command" "$best_add" \
    "$(echo "$best_add * 1000 / $count" | bc -l)"
printf '  %-28s %7.3f s  %6.1f ms/photo\n' "djpeg, full-size decode" "$best_djpeg" \
    "$(echo "$best_djpeg * 1000 / $count" | bc -l)"
echo "  ratio: $(echo "scale=2; $best_add / $best_djpeg" | bc)x djpeg's time (target: at most 1.2x)"
