#!/bin/sh
# Redraws the example pictures in docs/ from the bundled sample with fixed seeds.
. "$(dirname "$0")/common.sh"
cmake --preset native >/dev/null
cmake --build --preset native --target moxel >/dev/null
moxel=build/native/bin/moxel
cp samples/sample.jpg docs/sample.jpg
for shape in circle triangle square pentagon hexagon star; do
    "$moxel" samples/sample.jpg -o "docs/$shape.jpg" --shape "$shape" --seed 1 --jpeg-quality 85 --quiet
done
"$moxel" samples/sample.jpg -o docs/circle-white.jpg --white --seed 1 --jpeg-quality 85 --quiet
"$moxel" samples/sample.jpg -o docs/star-white.jpg --shape star --white --density 8 --min-size 4 \
    --max-size 14 --seed 1 --jpeg-quality 85 --quiet
