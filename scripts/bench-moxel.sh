#!/bin/sh
# moxel end to end on a 12-megapixel photo, in one run on the same photo:
#  1. against libvips's own fastest transcode of that photo (`vips copy`): to PNG at compression
#     1 with the Sub filter, and to JPEG at moxel's quality (90; libvips keeps full-resolution
#     colour from 90 up, for both), taking turns in the same loop; the median wall time of RUNS
#     runs each (default 5) and the largest peak resident memory (/usr/bin/time);
#  2. moxel's PNG against libvips's fastest PNG of the same pixels, in bytes;
#  3. the stages (decode, filter, encode) from `moxel -v` at 1, 2 and all threads, taking turns,
#     and their speed-up (the PNG encode runs alongside the filter, so its stage holds the encode
#     but for what is left after it); and, where the build tree has MOXEL_BENCHMARKS=ON, the filter
#     stage alone from bench/embed_bench at 1, 2 and all threads.
#   scripts/bench-moxel.sh [OLD_COMMIT]
# OLD_COMMIT: also time the tool as of that commit, built from `git archive` in a directory of its
# own, in the same loop. MOXEL_BUILD names a configured build tree to time instead of
# build/native. PHOTO names a photo of your own instead of the one made here: the bundled sample
# enlarged to 4000 x 3000 with a camera's grain (an enlargement alone is smooth, and both
# decoding and deflating it would be far cheaper than a real photo's).
. "$(dirname "$0")/common.sh"
old_commit="${1:-}"
runs="${RUNS:-5}"
work=build/bench-moxel
new="${MOXEL_BUILD:-build/native}"
mkdir -p "$work"

if [ "$new" = build/native ]; then
    cmake --preset native >/dev/null
    cmake --build --preset native --target moxel >/dev/null
else
    cmake --build "$new" --target moxel -j2 >/dev/null
fi
benchmarks=
if grep -q '^MOXEL_BENCHMARKS:BOOL=ON' "$new/CMakeCache.txt" 2>/dev/null; then
    cmake --build "$new" --target embed_bench -j2 >/dev/null
    benchmarks="$new/bin/embed_bench"
fi
old=
if [ -n "$old_commit" ]; then
    old="$work/old-$old_commit"
    if [ ! -x "$old/build/bin/moxel" ]; then
        rm -rf "$old"
        mkdir -p "$old/src"
        git archive "$old_commit" | tar -x -C "$old/src"
        cmake -S "$old/src" -B "$old/build" -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_INTERPROCEDURAL_OPTIMIZATION=ON >/dev/null
        cmake --build "$old/build" --target moxel -j2 >/dev/null
    fi
fi

photo="${PHOTO:-$work/photo-12mp-grain.jpg}"
if [ ! -f "$photo" ]; then
    vips resize samples/sample.jpg "$work/enlarged.v" 6.25
    vips gaussnoise "$work/grain.v" 4000 3000 --sigma 10
    vips bandjoin "$work/grain.v $work/grain.v $work/grain.v" "$work/grain3.v"
    vips add "$work/enlarged.v" "$work/grain3.v" "$work/sum.v"
    vips cast "$work/sum.v" "$work/photo.v" uchar
    vips copy "$work/photo.v" "$photo[Q=92]"
    rm -f "$work"/*.v
fi
cores=$(nproc)

# timed NAME COMMAND...: runs it once, appending "seconds peak-kilobytes" to $work/NAME.txt.
timed() {
    name=$1
    shift
    /usr/bin/time -f '%e %M' -o "$work/time.txt" "$@" >/dev/null
    cat "$work/time.txt" >>"$work/$name.txt"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }
column_median() { cut -d' ' -f"$2" "$work/$1.txt" | median; }
peak_mb() { echo $(($(cut -d' ' -f2 "$work/$1.txt" | sort -n | tail -1) / 1024)); }

echo "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $cores cores;" \
    "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "photo: $photo ($(vipsheader "$photo" | cut -d' ' -f2), $(($(wc -c <"$photo") / 1024)) KiB)," \
    "$runs runs each, taking turns"
echo
printf '| %-8s | %-16s | %-10s | %-10s | %-13s | %-8s | %-9s |\n' output "vips copy (s)" \
    "moxel (s)" "moxel/vips" "old moxel (s)" "vips MB" "moxel MB"
printf '|%s|%s|%s|%s|%s|%s|%s|\n' ---------- ------------------ ------------ ------------ \
    --------------- ---------- -----------
for format in png jpg; do
    if [ "$format" = png ]; then vips_out="$work/vips.png[compression=1,filter=sub]"; else
        vips_out="$work/vips.jpg[Q=90]"
    fi
    rm -f "$work/vips-$format.txt" "$work/new-$format.txt" "$work/old-$format.txt"
    i=0
    while [ "$i" -lt "$runs" ]; do
        timed "vips-$format" vips copy "$photo" "$vips_out"
        timed "new-$format" "$new/bin/moxel" "$photo" -o "$work/new.$format" --seed 1 --quiet
        if [ -n "$old" ]; then
            timed "old-$format" "$old/build/bin/moxel" "$photo" -o "$work/old.$format" --seed 1 \
                --quiet
        fi
        i=$((i + 1))
    done
    vips_time=$(column_median "vips-$format" 1)
    new_time=$(column_median "new-$format" 1)
    old_time=-
    [ -z "$old" ] || old_time=$(column_median "old-$format" 1)
    printf '| %-8s | %-16s | %-10s | %-10s | %-13s | %-8s | %-9s |\n' "$format" "$vips_time" \
        "$new_time" "$(echo "$new_time $vips_time" | awk '{ printf "%.2f", $1 / $2 }')" \
        "$old_time" "$(peak_mb "vips-$format")" "$(peak_mb "new-$format")"
done
pixels=$(vipsheader -f width "$photo")*$(vipsheader -f height "$photo")
echo "memory budget: image + canvas (3 bytes a pixel each) + 25 % =" \
    "$(($pixels * 3 * 2 * 5 / 4 / 1048576)) MB"

echo
vips copy "$work/new.png" "$work/same-pixels.png[compression=1,filter=sub]"
moxel_png=$(wc -c <"$work/new.png")
vips_png=$(wc -c <"$work/same-pixels.png")
echo "moxel's PNG: $moxel_png bytes; libvips at compression=1,filter=sub for the same pixels:" \
    "$vips_png bytes ($(echo "$moxel_png $vips_png" | awk '{ printf "%.2f", $1 / $2 }') times)"

echo
echo "stages from moxel -v, to PNG, medians of $runs runs, taking turns:"
counts="1 2"
[ "$cores" -le 2 ] || counts="1 2 $cores"
for threads in $counts; do rm -f "$work/stages-$threads.txt"; done
i=0
while [ "$i" -lt "$runs" ]; do
    for threads in $counts; do
        "$new/bin/moxel" "$photo" -o "$work/stages.png" --seed 1 -v --threads "$threads" 2>&1 |
            sed -n 's/.*(decode \([0-9.]*\) s, filter \([0-9.]*\) s, encode \([0-9.]*\) s)/\1 \2 \3/p' \
                >>"$work/stages-$threads.txt"
    done
    i=$((i + 1))
done
printf '| %-7s | %-10s | %-10s | %-10s | %-16s |\n' threads "decode (s)" "filter (s)" "encode (s)" \
    "filter + encode speed-up"
printf '|%s|%s|%s|%s|%s|\n' --------- ------------ ------------ ------------ ------------------
one=$(echo "$(column_median stages-1 2) $(column_median stages-1 3)" | awk '{ print $1 + $2 }')
for threads in $counts; do
    filter=$(column_median "stages-$threads" 2)
    encode=$(column_median "stages-$threads" 3)
    printf '| %-7s | %-10s | %-10s | %-10s | %-16s |\n' "$threads" \
        "$(column_median "stages-$threads" 1)" "$filter" "$encode" \
        "$(echo "$one $filter $encode" | awk '{ printf "%.2f", $1 / ($2 + $3) }')"
done

if [ -n "$benchmarks" ]; then
    echo
    echo "the filter stage alone (bench/embed_bench, 4000 x 3000, medians of 5):"
    "$benchmarks" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true 2>/dev/null |
        awk '/_median/ { sub(/\/process_time\/real_time_median/, "", $1); print "  " $1, $2, $3 }'
fi
echo
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
