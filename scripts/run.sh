#!/bin/sh
# Installs what is needed, builds Quillon and runs it: the program itself when a
# display is available, otherwise a demo movie made from the bundled samples.
set -eu
caller=$(pwd)
# The checkout this script is in, also when it is started through a link.
cd "$(dirname "$(readlink -f "$0")")/.."
BUILD_DIR=${BUILD_DIR:-build}

./scripts/install-deps.sh
cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build "$BUILD_DIR"

# Whether the display named in the environment is there to be reached: a local
# X display or a Wayland one by its socket; a display on another host (as ssh
# forwards one) is left to the program to try.
display_reachable() {
    if [ -n "${WAYLAND_DISPLAY:-}" ]; then
        case $WAYLAND_DISPLAY in
        /*) socket=$WAYLAND_DISPLAY ;;
        *) socket=${XDG_RUNTIME_DIR:-/nonexistent}/$WAYLAND_DISPLAY ;;
        esac
        [ -S "$socket" ] && return 0
    fi
    case ${DISPLAY:-} in
    "") return 1 ;;
    :*)
        number=${DISPLAY#:}
        number=${number%%.*}
        [ -S "/tmp/.X11-unix/X$number" ] ;;
    *) return 0 ;;
    esac
}

if [ -x "$BUILD_DIR/bin/quillon" ]; then
    if display_reachable; then
        # A socket can outlive its server, or belong to one that turns this
        # user away: the program then cannot start, and the demo is made.
        log=$(mktemp)
        status=0
        "$BUILD_DIR/bin/quillon" 2>"$log" || status=$?
        if [ "$status" -eq 0 ] || ! grep -q "no Qt platform plugin could be initialized" "$log"; then
            cat "$log" >&2
            rm -f "$log"
            exit "$status"
        fi
        rm -f "$log"
    fi
    if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
        echo "The display \"${WAYLAND_DISPLAY:-$DISPLAY}\" cannot be reached." >&2
    fi
fi

# As the programs find it when HOME is not set: the account's own.
home=${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}
OUT=${QUILLON_DEMO_FOLDER:-$home/My Movie}
case $OUT in
/*) ;;
*) OUT=$caller/$OUT ;;
esac
echo "No display: rendering a demo movie from samples/ into \"$OUT\"."
"$BUILD_DIR/bin/quillon-render" --interval 2 --output-folder "$OUT" samples
echo
echo "The movie is \"$OUT/photo_video.avi\". Play it with: ffplay \"$OUT/photo_video.avi\""
