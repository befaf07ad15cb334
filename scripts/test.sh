#!/bin/sh
# Builds every target and runs every suite: `cmake --workflow --preset test` (CMakePresets.json),
# which builds native, win32 and wasm each in its own tree and runs, in one CTest run, the native
# and GIMP tests, the Windows tests on the 32-bit MOXEL.dll under Wine in their session (through
# QEMU user mode where the kernel cannot start 32-bit programs: scripts/with-i386.sh), and the web
# page's tests under Node and in headless Chromium. MOXEL_BENCHMARKS=ON runs the `ci` workflow
# instead, which builds the benchmarks too (CI does, so they keep building).
. "$(dirname "$0")/common.sh"
workflow="test"
if [ "${MOXEL_BENCHMARKS:-OFF}" = ON ]; then
    workflow="ci"
fi
exec cmake --workflow --preset "$workflow"
