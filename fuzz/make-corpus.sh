#!/bin/sh
# Writes the fuzz targets' starting inputs into DIR (default build/fuzz/seeds), one folder per
# target: settings files, filter runs, and small PNG, JPEG, WebP, TIFF and GIF files (and two
# formats the tool must refuse) that are whole, cut off or damaged. Everything is made here, at run
# time, with ImageMagick: nothing binary is kept in the repository.
set -eu
cd "$(dirname "$0")/.."
out="${1:-build/fuzz/seeds}"
rm -rf "$out"
mkdir -p "$out/settings_file" "$out/filter_run" "$out/image_decode"

# ---- settings files: the defaults, both line ends, short, empty, junk, signs, limits ----------
n=0
for content in '0 4 12 30 0\n' '1 5 20 50 5\r\n' '1 6' '' 'abc 1 2 3 4' '3 4 x 5 6' \
    '+1 -2 +0 -0 -30' '1-2+3' '  1\r\n2\t\t3\n\n 4\v5\f' '2147483647 -2147483648' \
    '2147483648 -2147483649 99999999999999999999999 0 0' '0000000000000000000012 4' \
    '0 4 12 30 9' '1 2 3 4 5 6 junk'; do
    n=$((n + 1))
    printf "$content" > "$out/settings_file/seed-$n"
done

# ---- filter runs: five int32 settings, width and height (one byte each, value + 2), a seed, ----
# ---- the resource to refuse (255: none) and which request -----------------------------------
byte() { printf "\\$(printf %03o $(($1 & 255)))"; }
le32() {
    v=$(($1 & 0xFFFFFFFF))
    byte $v
    byte $((v >> 8))
    byte $((v >> 16))
    byte $((v >> 24))
}
run() {  # name clearFirst minSize maxSize density shape width height seed refuse nth
    {
        le32 "$2"; le32 "$3"; le32 "$4"; le32 "$5"; le32 "$6"
        byte $(($7 + 2)); byte $(($8 + 2)); le32 "$9"; byte "${10}"; byte "${11}"
    } > "$out/filter_run/$1"
}
for shape in 0 1 2 3 4 5; do
    run "image-shape$shape" 0 4 12 30 $shape 40 40 $((4242 + shape)) 255 0
    run "white-shape$shape" 1 2 30 60 $shape 23 9 $((99 + shape)) 255 0
done
run one-pixel 0 2 3 100 0 1 1 7 255 0
run zero-width 1 4 12 30 0 0 5 7 255 0
run zero-height 0 4 12 30 0 5 0 7 255 0
run negative 0 4 12 30 0 -2 -1 7 255 0
run no-fill 2 4 12 30 3 17 5 7 255 0
run shape-out-of-range 0 4 12 30 9 17 5 7 255 0
run zero-min-size 0 0 12 30 0 17 5 7 255 0
run sizes-reversed 0 20 4 30 1 40 40 7 255 0
run huge-star 0 1073741824 2147483647 2147483647 5 40 40 7 255 0
run density-limits 0 2147483647 -2147483648 -2147483648 4 40 40 7 255 0
run refuse-canvas 0 4 12 30 0 23 9 7 2 1
run refuse-pen 0 4 12 30 5 23 9 7 4 3
run refuse-white-brush 1 4 12 30 2 23 9 7 5 1

# ---- images ----------------------------------------------------------------------------------
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
img="$out/image_decode"

# A little picture with gradients, edges and a transparent corner, large enough that a cut or a
# damaged byte halfway through lands in the picture's data rather than its headers.
convert -size 48x32 gradient:red-blue -fill '#00ff0080' -draw 'rectangle 5,3 30,20' \
    -alpha set -channel A -fx 'i<8&&j<6?0:1' +channel "$work/rgba.png"
# -strip: no dates or profiles, so the bytes are the picture's and the same at every run.
magick() {
    input=$1
    shift
    convert "$input" -strip "$@"
}
magick "$work/rgba.png" -alpha off "PNG24:$img/rgb.png"
magick "$work/rgba.png" "PNG32:$img/rgba.png"
magick "$work/rgba.png" -colorspace Gray -alpha off "PNG8:$img/grey.png"
magick "$work/rgba.png" -colorspace Gray "$img/grey-alpha.png"
magick "$work/rgba.png" -colors 5 "PNG8:$img/palette.png"
magick "$work/rgba.png" -depth 16 "PNG64:$img/16bit.png"
magick "$work/rgba.png" -interlace PNG "PNG24:$img/interlaced.png"
magick "$work/rgba.png" -monochrome "$img/1bit.png"
convert -size 1x1 xc:white -strip "PNG24:$img/one-pixel.png"
magick "$work/rgba.png" -alpha off -quality 90 -sampling-factor 2x2 "$img/baseline-420.jpg"
magick "$work/rgba.png" -alpha off -quality 75 -sampling-factor 1x1 "$img/baseline-444.jpg"
magick "$work/rgba.png" -alpha off -interlace JPEG "$img/progressive.jpg"
magick "$work/rgba.png" -colorspace Gray "$img/grey.jpg"
magick "$work/rgba.png" -alpha off -colorspace CMYK "$img/cmyk.jpg"
magick "$work/rgba.png" -alpha off -define jpeg:restart-interval=1 "$img/restarts.jpg"
convert -size 1x1 xc:red -strip "$img/one-pixel.jpg"
magick "$work/rgba.png" -define webp:lossless=true "$img/rgba.webp"
magick "$work/rgba.png" -quality 80 "$img/lossy.webp"
magick "$work/rgba.png" -alpha off "$img/rgb.tif"
magick "$work/rgba.png" -compress lzw "$img/rgba-lzw.tif"
magick "$work/rgba.png" "$img/rgba.gif"
# Formats libvips reads but the tool must refuse before any loader runs.
magick "$work/rgba.png" -alpha off "PPM:$img/refused.ppm"
magick "$work/rgba.png" -alpha off "BMP:$img/refused.bmp"

# Cut off and damaged copies of each: cut at half and three quarters, all but the last byte, the
# signature alone, and a handful of bytes overwritten three quarters of the way in.
for file in "$img"/*; do
    name=$(basename "$file")
    size=$(wc -c < "$file")
    head -c $((size / 2)) "$file" > "$img/half-$name"
    head -c $((size * 3 / 4)) "$file" > "$img/most-$name"
    head -c $((size - 1)) "$file" > "$img/short-$name"
    head -c 8 "$file" > "$img/signature-$name"
    cp "$file" "$img/damaged-$name"
    printf '\377\000\377\000\252' |
        dd of="$img/damaged-$name" bs=1 seek=$((size * 3 / 4)) conv=notrunc 2>/dev/null
done

for target in settings_file filter_run image_decode; do
    echo "$target: $(ls "$out/$target" | wc -l) seeds in $out/$target"
done
