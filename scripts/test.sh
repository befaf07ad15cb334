#!/bin/sh
# Builds both targets and runs every test: the Windows build under Wine on a virtual display
# first (its real-GDI runs are the reference the Linux build is held to), then the Linux build.
set -eu
cd "$(dirname "$0")/.."

cmake --preset native
cmake --build --preset native
cmake --preset win32
cmake --build --preset win32

WINEPREFIX="$PWD/build/wineprefix"
WINEDEBUG=-all
WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
# A persistent wineserver, warmed up once, makes each test start in a fraction of a second
# instead of waiting for Wine's services to let go of the output pipe.
xvfb-run -a sh -c '
    wineboot -i >/dev/null 2>&1
    wineserver -p
    wine cmd /c exit </dev/null >/dev/null 2>&1
    status=0
    ctest --preset win32 || status=$?
    wineserver -k
    exit $status'

MOXEL_REQUIRE_REFERENCE=1 ctest --preset native
