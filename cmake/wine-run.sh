#!/bin/sh
# Runs a Windows program under Wine, in the project's environment (scripts/wine-env.sh): the 32-bit
# build through scripts/with-i386.sh, which lets 32-bit programs start on any kernel. CTest calls
# this as the cross-compiling emulator; the scripts start Wine with it too.
moxel_root=$(cd "$(dirname "$0")/.." && pwd)
. "$moxel_root/scripts/wine-env.sh"
# Inside the tests' session (tests/windows/wine_session.sh), its virtual display.
if [ -f "$MOXEL_WINE_SESSION/env" ]; then
    . "$MOXEL_WINE_SESSION/env"
    export DISPLAY
fi
if [ "$MOXEL_WINE_ARCH" = win32 ]; then
    exec "$moxel_root/scripts/with-i386.sh" "$MOXEL_WINE_LOADER" "$@"
fi
exec "$MOXEL_WINE_LOADER" "$@"
