#!/bin/sh
# Prints, per shape, the Linux run against Cairo and the memory floor (Google Benchmark, medians
# of five) and the parts of a run on their own; then the latency of one random memory access by
# working-set size; then the Windows plug-in's run through real GDI under Wine.
# Extra arguments go to Google Benchmark (e.g. --benchmark_filter=1000x1000).
. "$(dirname "$0")/common.sh"
cmake --preset native -DMOXEL_BENCHMARKS=ON >/dev/null
cmake --build --preset native --target stipple_bench memory_latency_bench >/dev/null
build/native/bin/stipple_bench --benchmark_color=false "$@"
echo
echo "One random memory access by working-set size (where this machine's caches end):"
build/native/bin/memory_latency_bench --benchmark_color=false 2>/dev/null

# The 32-bit plug-in, through QEMU user mode where the kernel cannot start 32-bit programs; only
# where that fails too, the 64-bit build of the same sources (scripts/wine-env.sh).
. scripts/wine-env.sh
cmake --preset "$MOXEL_WINE_ARCH" -DMOXEL_BENCHMARKS=ON >/dev/null
cmake --build --preset "$MOXEL_WINE_ARCH" --target dll_run_bench >/dev/null
echo
how="$MOXEL_WINE_ARCH build"
if [ "$MOXEL_WINE_ARCH" = win32 ] && [ "$(scripts/with-i386.sh --check)" = qemu ]; then
    how="$how, emulated by QEMU user mode: not comparable with the figures above"
fi
echo "MOXEL.dll ($how) under Wine (real GDI), median of three runs:"
cd "build/$MOXEL_WINE_ARCH/bin"
xvfb-run -a "$MOXEL_WINE" dll_run_bench.exe
