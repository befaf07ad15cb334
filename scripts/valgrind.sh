#!/bin/sh
# Runs every native test program, whole, under Valgrind's memcheck: no invalid access, no use of
# uninitialised memory, and no leak (definite, indirect or possible; memory still reachable at
# exit, such as per-thread object pools, is not a leak). The programs the tests start (the moxel
# tool, through a shell) are followed too, so the tool's own runs are checked as well; the other
# programs the tests start to make or read pictures and terminals (libvips's and ImageMagick's
# tools, librsvg's renderer, script, setpriv, timeout) are not ours to check.
#
# Each process writes its report to build/valgrind/PROGRAM.PID.log; the script fails when a test
# program fails or any report counts an error.
. "$(dirname "$0")/common.sh"
bin="$PWD/build/native/bin"
suppressions="$PWD/scripts/valgrind-libvips.supp"
logs="$PWD/build/valgrind"

# Each test program runs in this many parts (GoogleTest's shards), so that the tool's long test
# program shares the cores with the others instead of running alone at the end.
shards=4

# One shard of a test program under memcheck, from the tests' own working directory, as CTest
# runs them; its summary line goes to $logs/NAME.SHARD.result. valgrind-libvips.supp: what
# libvips, its codecs, ISA-L and glibc report of their own (see the file).
if [ "${1:-}" = --one ]; then
    program=$2
    shard=$3
    name=$(basename "$program").$shard
    start=$(date +%s)
    status=0
    (cd "$bin" && GTEST_TOTAL_SHARDS=$shards GTEST_SHARD_INDEX=$shard \
        valgrind --quiet --leak-check=full \
        --suppressions="$suppressions" \
        --show-leak-kinds=definite,indirect,possible \
        --errors-for-leak-kinds=definite,indirect,possible \
        --error-exitcode=1 --trace-children=yes \
        --trace-children-skip='*/env,*/vips,*/vipsheader,*/convert,*/rsvg-convert,*/script,*/setpriv,*/timeout' \
        --log-file="$logs/$name.%p.log" \
        "$program" >"$logs/$name.out" 2>&1) || status=$?
    summary=$(grep -E '^\[  (PASSED|FAILED)  \]|tests? ran' "$logs/$name.out" | tr '\n' ' ')
    echo "$status $name: exit $status in $(($(date +%s) - start)) s; $summary" >"$logs/$name.result"
    exit 0
fi

cmake --preset native >/dev/null
cmake --build --preset native
rm -rf "$logs"
mkdir -p "$logs"

# A shard at a time on each core: memcheck runs a program on one.
for program in $(find "$bin" -maxdepth 1 -type f -name '*_test' -perm -u+x | sort); do
    shard=0
    while [ "$shard" -lt "$shards" ]; do
        echo "$program $shard"
        shard=$((shard + 1))
    done
done | xargs -P "$(nproc)" -L1 sh "$moxel_root/scripts/valgrind.sh" --one

failed=""
count=0
for result in "$logs"/*.result; do
    count=$((count + 1))
    cut -d' ' -f2- "$result"
    if [ "$(cut -d' ' -f1 "$result")" -ne 0 ]; then
        name=$(basename "$result" .result)  # program.shard
        failed="$failed $name"
        tail -n 40 "$logs/$name.out"
    fi
done

# --quiet leaves a report empty unless it has something to say; the exit code above covers the
# test programs, and this covers every process they started.
reports=$(find "$logs" -name '*.log' | wc -l)
noisy=$(find "$logs" -name '*.log' -size +0 | sort)
for report in $noisy; do
    echo "--- $report"
    cat "$report"
done
echo "valgrind: $count shards of the test programs, $reports processes checked, $(echo "$noisy" | grep -c . || true) with reports"
bad=$(echo "$failed" | wc -w)
echo "valgrind: $((count - bad)) passed, $bad failed"
if [ -n "$failed" ] || [ -n "$noisy" ]; then
    echo "valgrind found problems:$failed" >&2
    exit 1
fi
