#!/bin/sh
# The Debian package as it ships: made by cpack from the build, checked by
# lintian (no errors; only the warnings listed below, none of which a user
# meets), and its programs run from the unpacked tree, where they must find
# their libraries through their own run-time paths.
#   package_test.sh BUILD_DIR SCRATCH_DIR VERSION
set -eu
build=$1 scratch=$2 version=$3
command -v lintian >/dev/null || { echo "no lintian: skipped"; exit 77; }
rm -rf "$scratch" && mkdir -p "$scratch"
# Made under the strictest umask, as a careful builder's may be: the package's
# folders must still be open to every user.
umask 077
cpack --config "$build/CPackConfig.cmake" -B "$scratch" >"$scratch/cpack.log" 2>&1 ||
    { cat "$scratch/cpack.log"; exit 1; }
deb=$(ls "$scratch"/quillon_*.deb)

# Known and accepted: the development link that hosts load libbrindle.so by
# (the library's name is part of its interface), the empty maintainer scripts
# that keep CPack from writing ldconfig calls (the trigger does that), and one
# package carrying both the programs and the library.
lintian --tag-display-limit 0 "$deb" 2>/dev/null |
    grep -E '^[EW]: ' |
    grep -vE '^W: quillon: (link-to-shared-library-in-wrong-package|maintainer-script-empty|package-name-doesnt-match-sonames) ' \
        >"$scratch/lintian.txt" || true
if [ -s "$scratch/lintian.txt" ]; then
    cat "$scratch/lintian.txt"
    exit 1
fi

if dpkg-deb -c "$deb" | grep '^d' | grep -v '^drwxr-xr-x root/root '; then
    echo "folders of the package above are not drwxr-xr-x root/root"
    exit 1
fi
dpkg-deb --ctrl-tarfile "$deb" | tar -t | grep -qx './triggers'
dpkg-deb -x "$deb" "$scratch/root"
root=$scratch/root
libdir=$(cd "$root/usr/lib" && ls -d */ | head -n 1)
test -L "$root/usr/lib/$libdir/libbrindle.so"
objdump -p "$root/usr/lib/$libdir/libbrindle.so.1" | grep -q 'SONAME *libbrindle.so.1$'
readelf -d "$root/usr/bin/quillon-render" | grep -q 'BIND_NOW'
readelf -l "$root/usr/bin/quillon-render" | grep -q 'GNU_RELRO'
nm -D "$root/usr/bin/quillon-render" | grep -q ' U __stack_chk_fail'
nm -D "$root/usr/lib/$libdir/libbrindle.so.1" | grep -qE ' U __[a-z]+_chk(@|$)'
for page in quillon quillon-render brindle-host; do
    # The synopsis is the help's usage, and the exit status is told.
    man=$(gzip -dc "$root/usr/share/man/man1/$page.1.gz")
    printf '%s\n' "$man" | grep -A1 -x '\.SH SYNOPSIS' | tail -n 1 |
        grep -q "^$(printf '%s' "$page" | sed 's/-/\\\\-/g') "
    printf '%s\n' "$man" | grep -A1 -x '\.SH EXIT STATUS' | tail -n 1 | grep -q '^0 '
done
test -s "$root/usr/share/doc/quillon/copyright"
test "$(env -u DISPLAY "$root/usr/bin/quillon-render" --version)" = "quillon-render $version"
test "$(env -u DISPLAY QT_QPA_PLATFORM=xcb "$root/usr/bin/quillon" --version)" = "quillon $version"

# A host of one's own, built against the package's header and pkg-config file
# alone, serves the same frames as the package's brindle-host.
here=$(cd "$(dirname "$0")" && pwd)
export TMPDIR="$scratch/tmp"
job="$TMPDIR/quillon-$(id -u)"
mkdir -p "$job"
printf '[Temp]\nOutputWidth=64\nOutputHeight=48\nInterval=1\n' >"$job/param.ini"
printf '%s\n' "$here/../../samples/city.jpg" "$here/../../samples/forest.jpg" \
    >"$job/pelloryfilelist.txt"
flags=$(PKG_CONFIG_PATH="$root/usr/lib/$libdir/pkgconfig" \
    pkg-config --define-variable=prefix="$root/usr" --cflags --libs brindle)
# shellcheck disable=SC2086 # the flags are words
c++ -std=c++20 -o "$scratch/own_host" "$here/own_host.cpp" $flags
served=$(LD_LIBRARY_PATH="$root/usr/lib/$libdir" "$scratch/own_host")
"$root/usr/bin/brindle-host" "$scratch/show.y4m"
# 4:2:0 frames of 64 x 48, each after its FRAME line, behind the header line
bytes=$(($(stat -c %s "$scratch/show.y4m") - $(head -n 1 "$scratch/show.y4m" | wc -c)))
frames=$((bytes / (6 + 64 * 48 * 3 / 2)))
{ test "$frames" -eq 60 && test "$served" = "64x48 frames 60 lit 60 error 0"; } ||
    { echo "own host: $served; brindle-host: $frames frames"; exit 1; }
echo "package ok"
