#!/bin/sh
# Installs everything the project builds and tests with, from Debian's packages. As root it runs
# as it is (a container without sudo); as anyone else it runs itself again through sudo.
set -eu
if [ "$(id -u)" -ne 0 ]; then
    if ! command -v sudo >/dev/null 2>&1; then
        echo "install-deps.sh: run it as root (sudo is not installed)" >&2
        exit 1
    fi
    exec sudo "$0" "$@"
fi
export DEBIAN_FRONTEND=noninteractive
# Wine runs the 32-bit plug-in: it needs the i386 architecture. Where the kernel cannot start
# 32-bit programs, scripts/with-i386.sh starts them through QEMU user mode, which it fetches
# itself; only where that fails too do the Windows tests run a 64-bit build (MinGW x86-64) under
# 64-bit Wine.
# clang builds the fuzz targets; libFuzzer and clang's sanitizer runtimes are only recommended by
# it, so they are named here.
dpkg --add-architecture i386
apt-get update
apt-get install -y --no-install-recommends \
    build-essential cmake pkg-config git ca-certificates \
    googletest libgtest-dev libbenchmark-dev \
    g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 mingw-w64-i686-dev \
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 mingw-w64-x86-64-dev \
    wine wine32:i386 wine64 xvfb xauth \
    libvips-dev libcli11-dev libcairo2-dev libexiv2-dev libexif-dev liblcms2-dev \
    libisal-dev zlib1g-dev \
    fonts-wine fonts-ipafont-gothic locales imagemagick x11-utils \
    clang libclang-rt-14-dev valgrind

# The GIMP plug-in: GIMP 2.10 and its development files, gettext for the plug-in's catalog, and
# xdotool to drive its dialog for the screenshot.
apt-get install -y --no-install-recommends gimp libgimp2.0-dev gettext xdotool

# The web page: Emscripten builds it and Debian's Chromium runs its tests (puppeteer-core, from
# npm, drives it and fetches no browser of its own). Node and npm come with Emscripten's nodejs
# unless the machine has its own.
apt-get install -y --no-install-recommends emscripten chromium fonts-dejavu-core
command -v npm >/dev/null 2>&1 || apt-get install -y --no-install-recommends npm

# The dialog's Japanese texts pass through the ANSI code page under Wine: its tests and the
# screenshot run with a Japanese locale, so that the code page is 932.
sed -i 's/^# *\(ja_JP.UTF-8 UTF-8\)/\1/' /etc/locale.gen
grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >>/etc/locale.gen
locale-gen

# scripts/bench-moxel.sh: libvips's command-line tools make its 12-megapixel photo, and
# /usr/bin/time measures each run's peak memory.
apt-get install -y --no-install-recommends libvips-tools time

# The SVG tests render the documents with librsvg, as an editor or a browser would.
apt-get install -y --no-install-recommends librsvg2-bin
