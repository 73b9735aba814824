# Sourced by the benchmarks that keep their work in BENCH_WORK.

# own_folder DIR: makes DIR (mode 700) unless it is there, and stops unless it
# is a real folder of this user's that nobody else can write to: the default
# work folder lies in the shared /tmp, where another user could have made it
# first and left links in it for the benchmark to write through.
own_folder() {
    [ -e "$1" ] || [ -L "$1" ] || mkdir -m 700 "$1"
    if [ -L "$1" ] || [ ! -d "$1" ] || [ ! -O "$1" ] \
        || [ -n "$(find "$1" -maxdepth 0 -perm /022)" ]; then
        echo "$1 is not a folder of this user's alone; choose another with BENCH_WORK" >&2
        exit 1
    fi
}
