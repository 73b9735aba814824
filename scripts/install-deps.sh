#!/bin/sh
# Installs every Debian package that the build, the tests, the benchmarks and the
# tools need. Safe to run again; needs root (or sudo) on a Debian 12 machine.
set -eu

PACKAGES="
    build-essential cmake ninja-build pkg-config git
    clang clang-format libclang-rt-14-dev
    libgtest-dev libgmock-dev
    libjpeg62-turbo-dev libjpeg-turbo-progs
    libavcodec-dev libavformat-dev libavutil-dev libswscale-dev libswresample-dev ffmpeg
    qt6-base-dev qt6-base-dev-tools libgl-dev qt6-multimedia-dev
    libpng-dev
    imagemagick xvfb xauth fonts-dejavu-core fonts-liberation2 libx11-dev libxtst-dev
    time bc dpkg-dev file lintian locales libc-l10n
    gstreamer1.0-tools gstreamer1.0-plugins-good gstreamer1.0-plugins-bad gstreamer1.0-libav
"

if [ "$(id -u)" -eq 0 ]; then SUDO=""; else SUDO="sudo"; fi

$SUDO apt-get update
# apt-get install leaves packages that are already there as they are.
# shellcheck disable=SC2086
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends $PACKAGES

# One test binary runs the window under a German desktop's locale. It is named
# in /etc/locale.gen, so that an upgrade of the locales package, which makes
# the locales again from that list, keeps it.
$SUDO sed -i 's/^# *de_DE.UTF-8 UTF-8$/de_DE.UTF-8 UTF-8/' /etc/locale.gen
if ! grep -qx 'de_DE.UTF-8 UTF-8' /etc/locale.gen; then
    echo 'de_DE.UTF-8 UTF-8' | $SUDO tee -a /etc/locale.gen > /dev/null
fi
if ! locale -a 2>/dev/null | grep -qx 'de_DE.utf8'; then
    $SUDO locale-gen
fi
