#!/bin/sh
# Builds the Linux targets and stipples the bundled sample image into build/sample-stippled.png.
. "$(dirname "$0")/common.sh"
cmake --preset native >/dev/null
cmake --build --preset native --target moxel
build/native/bin/moxel samples/sample.jpg -o build/sample-stippled.png --verbose "$@"
echo "wrote build/sample-stippled.png"
