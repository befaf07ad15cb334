#!/bin/sh
# The moxel tool end to end on a 12-megapixel JPEG, to PNG and to JPEG: this tree's build against
# an older one (default: commit f730266, the tool before libvips), built in a directory of its own
# and timed in the same run, alternating, so both see the same machine. Prints the median wall
# time of RUNS runs (default 5) and the largest peak resident memory, from /usr/bin/time -v.
#   scripts/bench-moxel.sh [OLD_COMMIT]
# MOXEL_BUILD names another configured build tree to time instead of build/native.
. "$(dirname "$0")/common.sh"
old_commit="${1:-f730266}"
runs="${RUNS:-5}"
work=build/bench-moxel
old="$work/old-$old_commit"
new="${MOXEL_BUILD:-build/native}"
mkdir -p "$work"

if [ "$new" = build/native ]; then
    cmake --preset native >/dev/null
    cmake --build --preset native --target moxel >/dev/null
else
    cmake --build "$new" --target moxel -j2 >/dev/null
fi
if [ ! -x "$old/build/bin/moxel" ]; then
    rm -rf "$old"
    mkdir -p "$old/src"
    git archive "$old_commit" | tar -x -C "$old/src"
    cmake -S "$old/src" -B "$old/build" -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_INTERPROCEDURAL_OPTIMIZATION=ON >/dev/null
    cmake --build "$old/build" --target moxel -j2 >/dev/null
fi

# A photograph's content at 4000 x 3000, as a camera saves it.
photo="$work/photo-12mp.jpg"
[ -f "$photo" ] || vips resize samples/sample.jpg "$photo[Q=92]" 6.25

# run BINARY OUTPUT: prints "seconds peak-kilobytes" for one run.
run() {
    /usr/bin/time -f '%e %M' -o "$work/time.txt" "$1" "$photo" -o "$2" --seed 1 --quiet
    cat "$work/time.txt"
}

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "moxel, $photo ($(vipsheader "$photo" | cut -d' ' -f2-4)), $runs runs each, old = $old_commit"
printf '| %-18s | %-10s | %-10s | %-16s | %-16s |\n' output "old (s)" "new (s)" "old peak (MB)" \
    "new peak (MB)"
printf '|%s|%s|%s|%s|%s|\n' -------------------- ------------ ------------ ------------------ \
    ------------------
for format in png jpg; do
    : >"$work/old.txt"
    : >"$work/new.txt"
    i=0
    while [ "$i" -lt "$runs" ]; do
        run "$old/build/bin/moxel" "$work/out-old.$format" >>"$work/old.txt"
        run "$new/bin/moxel" "$work/out-new.$format" >>"$work/new.txt"
        i=$((i + 1))
    done
    old_time=$(cut -d' ' -f1 "$work/old.txt" | median)
    new_time=$(cut -d' ' -f1 "$work/new.txt" | median)
    old_peak=$(cut -d' ' -f2 "$work/old.txt" | sort -n | tail -1)
    new_peak=$(cut -d' ' -f2 "$work/new.txt" | sort -n | tail -1)
    printf '| %-18s | %-10s | %-10s | %-16s | %-16s |\n' "12-MP JPEG to $format" "$old_time" \
        "$new_time" "$((old_peak / 1024))" "$((new_peak / 1024))"
done
# The budget: the decoded image and the filter's canvas (both 3 bytes a pixel), plus a quarter.
pixels=$((4000 * 3000))
echo "budget: image + canvas + 25 % = $((pixels * 3 * 2 * 5 / 4 / 1048576)) MB"
