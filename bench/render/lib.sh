# The helpers of the render benchmarks, sourced with $work set.

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

# median NAME: "seconds peak_kb cpu_seconds": the median time of the runs of NAME,
# the highest peak, the processor time of the median run.
median() {
    count=$(wc -l < "$work/$1.times")
    line=$(sort -n "$work/$1.times" | sed -n "$(((count + 1) / 2))p")
    echo "${line%% *} $(sort -k2 -n "$work/$1.times" | tail -1 | cut -d' ' -f2) ${line##* }"
}

# frames MOVIE: "header_frames/coded_chunks": the frames the stream header
# promises and the chunks with a picture (empty chunks repeat the one before).
frames() {
    header=$(ffprobe -v error -select_streams v:0 -show_entries stream=nb_frames -of csv=p=0 "$1")
    coded=$(ffprobe -v error -select_streams v:0 -count_packets \
        -show_entries stream=nb_read_packets -of csv=p=0 "$1")
    echo "$header/$coded"
}

ratio() {
    echo "scale=2; $1 / $2" | bc
}

# own_folder DIR, shared with the other benchmarks.
. "$here/../own-folder.sh"
