#!/bin/sh
# wine_session.sh start|stop: the Windows tests' surroundings, set up and taken down by CTest
# around them (FIXTURES_SETUP / FIXTURES_CLEANUP), for the build MOXEL_WINE_ARCH names:
#
# - a virtual display (Xvfb) for the dialog tests, its number left in the session folder, where
#   cmake/wine-run.sh finds it;
# - a persistent wineserver, and in it the Wine prefix, made or updated;
# - one warm-up, and one idle program keeping Wine's services up: each test then starts in a
#   fraction of a second instead of waiting for the services to start, or to let go of its output;
# - the desktop process. Started by the first test that draws, it would hold that test's output
#   open, and under QEMU CTest would then wait for it until the test's timeout.
#
# Everything started here has its output on /dev/null, so that CTest sees this test end.
set -eu
moxel_root=$(cd "$(dirname "$0")/../.." && pwd)
. "$moxel_root/scripts/wine-env.sh"
session=$MOXEL_WINE_SESSION

stop() {
    wineserver -k 2>/dev/null || true
    if [ -f "$session/xvfb.pid" ]; then
        kill "$(cat "$session/xvfb.pid")" 2>/dev/null || true
    fi
    rm -rf "$session"
}

case "${1:-}" in
start)
    # What an interrupted run left behind, first.
    stop
    mkdir -p "$session"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$session/display" \
        </dev/null >/dev/null 2>&1 &
    echo $! >"$session/xvfb.pid"
    for _ in $(seq 100); do
        [ -s "$session/display" ] && break
        sleep 0.1
    done
    if [ ! -s "$session/display" ]; then
        echo "wine_session.sh: Xvfb did not start" >&2
        exit 1
    fi
    DISPLAY=:$(cat "$session/display")
    export DISPLAY
    wineserver -p </dev/null >/dev/null 2>&1
    "$MOXEL_WINE" wineboot -i </dev/null >/dev/null 2>&1
    "$MOXEL_WINE" cmd /c exit </dev/null >/dev/null 2>&1
    # Read and written by the idle program itself, the pipe never ends: it waits until stopped.
    mkfifo "$session/idle"
    "$MOXEL_WINE" cmd <>"$session/idle" >/dev/null 2>&1 &
    "$MOXEL_WINE" rundll32.exe user32.dll,GetDesktopWindow </dev/null >/dev/null 2>&1
    echo "DISPLAY=$DISPLAY" >"$session/env"
    echo "Wine session for $MOXEL_WINE_ARCH on display $DISPLAY (prefix $WINEPREFIX)"
    ;;
stop)
    stop
    ;;
*)
    echo "usage: wine_session.sh start|stop" >&2
    exit 2
    ;;
esac
