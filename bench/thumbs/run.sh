#!/bin/sh
# The photo list's speed: the add-folder command of the real window over COUNT
# photos of 12 megapixels, against libjpeg-turbo's own sequential full-size
# decode of the same files (djpeg), in the same run. The sides run RUNS times
# in turns; medians are compared. Target: the add in at most 0.6x djpeg's time.
#
# Then, under a private X server (Xvfb), the window's repaint delay while the
# photos come in: part of the window is covered and uncovered again and again,
# and the time until it is painted over is taken (target: at most 100 ms, every
# time). The same with every thumbnail made on the GUI thread, as the command
# was first built, shows what the user saw before: a window that does not paint.
#
#   bench/thumbs/run.sh [BUILD_DIR]     (default: build)
#   RUNS=5 COUNT=100 BENCH_WORK=/tmp/quillon-bench
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-build}" && pwd)
work=${BENCH_WORK:-/tmp/quillon-bench}
runs=${RUNS:-5}
count=${COUNT:-100}
photos="$work/photos-thumbs-$count"
bench="$build/bin/thumbs_bench"
results=$(mktemp -d)
trap 'rm -rf "$results"' EXIT

. "$here/../own-folder.sh"
own_folder "$work"

"$here/../render/make-photos.sh" "$photos" "$count" 4000 3000

median() {
    sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

djpeg_all() {
    start=$(date +%s.%N)
    for f in "$photos"/*.jpg; do djpeg -outfile /dev/null "$f"; done
    echo "$(date +%s.%N) - $start" | bc
}

probe() {
    xvfb-run -a -s "-screen 0 1280x1024x24" "$bench" "$photos" --probe "$@" 2>/dev/null \
        | awk '{ print $6, $8, $10 }'
}

i=0
while [ $i -lt "$runs" ]; do
    djpeg_all >>"$results/djpeg"
    "$bench" "$photos" | awk '{ print $4 }' >>"$results/add"
    "$bench" "$photos" --nice 0 | awk '{ print $4 }' >>"$results/add0"
    "$bench" "$photos" --threads 3 | awk '{ print $4 }' >>"$results/add3"
    "$bench" "$photos" --sync | awk '{ print $4 }' >>"$results/sync"
    probe >>"$results/probe"
    probe --nice 0 >>"$results/probe0"
    i=$((i + 1))
done
probe --sync >>"$results/probesync"

d=$(median <"$results/djpeg")
a=$(median <"$results/add")
a0=$(median <"$results/add0")
a3=$(median <"$results/add3")
s=$(median <"$results/sync")
cores=$(nproc)

echo "add folder of $count photos 4000x3000 on $cores cores (medians of $runs runs in turns):"
line() { printf '  %-46s %7.3f s  %6.1f ms/photo  %5.2fx djpeg\n' "$1" "$2" \
    "$(echo "$2 * 1000 / $count" | bc -l)" "$(echo "$2 / $d" | bc -l)"; }
line "djpeg, full-size decode, one after the other" "$d"
line "add folder (a worker a core, niced 10)" "$a"
line "add folder (workers not niced)" "$a0"
line "add folder (three workers, niced 10)" "$a3"
line "every thumbnail on the GUI thread" "$s"
echo "  target: the add in at most 0.60x djpeg's time"

echo "repaint delay while the photos come in (under Xvfb; median of the runs' medians, longest of all):"
delays() {
    printf '%d repaints, median %.1f ms, longest %.1f ms\n' \
        "$(awk '{ n += $1 } END { print n }' "$1")" "$(awk '{ print $2 }' "$1" | median)" \
        "$(awk '{ print $3 }' "$1" | sort -n | tail -1)"
}
printf '  %-46s %s\n' "add folder (workers niced 10)" "$(delays "$results/probe")"
printf '  %-46s %s\n' "add folder (workers not niced)" "$(delays "$results/probe0")"
printf '  %-46s %s\n' "every thumbnail on the GUI thread (one run)" "$(delays "$results/probesync")"
echo "  target: every repaint within 100 ms"
