#!/bin/sh
# Builds both targets and runs every test: the Windows build under Wine on a virtual display, then
# the Linux build. MOXEL_BENCHMARKS=ON also builds the benchmarks (CI does, so they keep building).
set -eu
cd "$(dirname "$0")/.."
: "${CMAKE_BUILD_PARALLEL_LEVEL:=$(nproc)}"
: "${CTEST_PARALLEL_LEVEL:=$(nproc)}"
export CMAKE_BUILD_PARALLEL_LEVEL CTEST_PARALLEL_LEVEL

cmake --preset native -DMOXEL_BENCHMARKS="${MOXEL_BENCHMARKS:-OFF}"
cmake --build --preset native
cmake --preset win32 -DMOXEL_BENCHMARKS="${MOXEL_BENCHMARKS:-OFF}"
cmake --build --preset win32

moxel_root=$PWD
. scripts/wine-env.sh
# The Windows tests run the 32-bit plug-in under Wine, through QEMU user mode where the kernel
# cannot start 32-bit programs (scripts/with-i386.sh). Only where that fails too do they run the
# 64-bit build of the same sources, and the 32-bit module is checked from its file alone.
if [ "$MOXEL_WINE_ARCH" = win64 ]; then
    echo "test.sh: the Windows tests run the 64-bit build, NOT the 32-bit MOXEL.dll (see above)"
    sh tests/windows/module_file_test.sh i686-w64-mingw32-objdump build/win32/bin/MOXEL.dll pei-i386
    cmake --preset win64 -DMOXEL_BENCHMARKS="${MOXEL_BENCHMARKS:-OFF}"
    cmake --build --preset win64
else
    echo "test.sh: the Windows tests run build/win32/bin/MOXEL.dll ($(scripts/with-i386.sh --check))"
fi
# A persistent wineserver, warmed up once, makes each test start in a fraction of a second
# instead of waiting for Wine's services to let go of the output pipe. The services themselves
# quit a few seconds after the last Wine program does, and a test that has to start them again
# waits for them: one idle program, reading a pipe that stays open until the end, keeps them up.
# The desktop process is started here too, its output on /dev/null: started by the first test
# that draws, it would hold that test's output open, and under QEMU CTest would then wait for it
# until the test's timeout.
# Wine runs in Japanese, as the plug-in's users do: code page 932 is then the ANSI code page,
# which the dialog's texts need to come out right (scripts/install-deps.sh makes the locale).
# The Windows tests run one at a time: the dialog tests share one virtual display.
LC_ALL=ja_JP.UTF-8 CTEST_PARALLEL_LEVEL=1 xvfb-run -a sh -c '
    "$MOXEL_WINE" wineboot -i >/dev/null 2>&1
    wineserver -p
    "$MOXEL_WINE" cmd /c exit </dev/null >/dev/null 2>&1
    keepalive=$(mktemp -u)
    mkfifo "$keepalive"
    "$MOXEL_WINE" cmd <"$keepalive" >/dev/null 2>&1 &
    exec 3>"$keepalive"
    "$MOXEL_WINE" rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1
    status=0
    ctest --preset "$MOXEL_WINE_ARCH" || status=$?
    exec 3>&-
    wineserver -k
    rm -f "$keepalive"
    exit $status'

# The GIMP plug-in's tests fail, rather than skip, when GIMP is missing (install-deps.sh installs it).
MOXEL_REQUIRE_GIMP=1 ctest --preset native

# The web page: the wasm build, then its tests under Node and in headless Chromium, held to the
# native build above (same geometry, same pixels as moxel).
cmake --preset wasm
cmake --build --preset wasm
npm ci --prefix tests/web --no-audit --no-fund
npm test --prefix tests/web
