#!/bin/sh
# Runs a Windows test program under Wine. CTest calls this as the cross-compiling emulator.
moxel_root=$(cd "$(dirname "$0")/.." && pwd)
. "$moxel_root/scripts/wine-env.sh"
exec "$MOXEL_WINE" "$@"
