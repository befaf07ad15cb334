#!/bin/sh
# Builds the benchmarks and prints, per shape, the whole run against Cairo and the memory floor.
# Extra arguments go to Google Benchmark (e.g. --benchmark_filter=1000x1000).
set -eu
cd "$(dirname "$0")/.."
cmake --preset native >/dev/null
cmake --build --preset native --target stipple_bench >/dev/null
build/native/bin/stipple_bench --benchmark_color=false "$@"
