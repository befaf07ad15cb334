#!/bin/sh
# Makes sample.jpg, the picture the README and a first run of moxel use: a dusk landscape drawn
# with ImageMagick 6 (Debian's imagemagick package). Large smooth colour areas, a few hard edges
# and some fine texture are what show a stipple filter off. Every part is drawn here; a plasma
# fractal with a fixed seed adds the texture, so reruns come out alike if not byte for byte.
set -eu
cd "$(dirname "$0")"
convert -respect-parentheses -size 640x480 \
    gradient:'#1b2a5c-#f2a65a' \
    \( -size 640x480 xc:black -fill '#c0701c' -draw 'circle 455,250 455,170' -blur 0x30 \) \
    -compose screen -composite \
    -fill '#fff1b8' -draw 'circle 455,250 455,205' \
    -fill '#6a6f96' -draw 'polygon 0,300 70,230 140,270 230,190 320,265 400,215 520,290 640,240 640,480 0,480' \
    -fill '#3e4a6b' -draw 'polygon 0,340 110,280 200,320 300,270 420,330 540,300 640,335 640,480 0,480' \
    \( -size 640x140 gradient:'#4f7a3a-#1d3318' \) -geometry +0+340 -compose over -composite \
    -fill '#f0c27a' -draw 'ellipse 330,420 150,22 0,360' \
    -fill '#2c5a78' -draw 'ellipse 330,420 140,17 0,360' \
    -fill '#173014' -draw 'polygon 90,470 110,360 130,470' -draw 'polygon 60,470 80,385 100,470' \
    -draw 'polygon 560,470 585,350 610,470' \
    \( -size 640x480 -seed 1977 plasma:grey35-grey65 -colorspace gray -blur 0x2 \) \
    -compose soft-light -composite \
    -blur 0x0.8 \
    -quality 92 -sampling-factor 1x1 -strip \
    sample.jpg
