#!/bin/sh
# Builds the libFuzzer targets (the fuzz preset: clang, ASan, UBSan) and runs each for a bounded
# time, starting from the seeds fuzz/make-corpus.sh makes, then prints how many inputs each ran.
#
#   FUZZ_SECONDS   seconds per target (default 60)
#   FUZZ_TARGETS   which targets (default: all three)
#
# A target that finds a crash, a sanitizer report or a broken promise stops; its input is kept
# as build/fuzz/artifacts/TARGET-crash-... and the script fails. Copy such an input into
# fuzz/regressions/NAME/ (NAME without "_fuzzer") so the native tests replay it from then on.
. "$(dirname "$0")/common.sh"
seconds="${FUZZ_SECONDS:-60}"
targets="${FUZZ_TARGETS:-settings_file_fuzzer filter_run_fuzzer image_decode_fuzzer}"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
./fuzz/make-corpus.sh build/fuzz/seeds

# The settings target writes and renames a file at every input: on a RAM disk that is five times
# faster than on the build's disk.
if [ -d /dev/shm ] && [ -w /dev/shm ]; then
    TMPDIR=/dev/shm
    export TMPDIR
fi

mkdir -p build/fuzz/artifacts
summary=""
failed=""
for target in $targets; do
    name=${target%_fuzzer}
    work="build/fuzz/corpus/$name"
    log="build/fuzz/$target.log"
    mkdir -p "$work"
    echo "fuzzing $target for $seconds s (log: $log)"
    status=0
    # -timeout: an input running for seconds is a hang; each should take milliseconds.
    "build/fuzz/bin/$target" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="build/fuzz/artifacts/$target-" \
        "$work" "build/fuzz/seeds/$name" >"$log" 2>&1 || status=$?
    runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
    corpus=$(ls "$work" | wc -l)
    line="$target: ${runs:-?} executions in $seconds s, corpus $corpus inputs"
    if [ "$status" -ne 0 ]; then
        line="$line: FAILED (exit $status)"
        failed="$failed $target"
        tail -n 60 "$log"
    fi
    summary="$summary$line
"
done

printf '\n%s' "$summary"
if [ -n "$failed" ]; then
    echo "fuzzing found problems in:$failed; inputs in build/fuzz/artifacts/" >&2
    exit 1
fi
