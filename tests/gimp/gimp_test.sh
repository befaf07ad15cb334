#!/bin/sh
# plug-in-moxel in headless GIMP 2.10, all cases in one GIMP start (each start costs seconds).
# Usage: gimp_test.sh PLUGIN_FOLDER MOXEL SAMPLE_IMAGE
#
# GIMP's exit status is always 0, so each case prints a marker (cases.scm) and this script checks
# the markers and the files. Pixels are compared decoded (ImageMagick's compare, AE: the number of
# differing pixels). GIMP runs in Japanese: the plug-in's messages must come from its catalog.
set -eu
plugin_folder=$1
moxel=$2
sample=$3
cases=$(cd "$(dirname "$0")" && pwd)/cases.scm
. "$(dirname "$0")/../../scripts/gimp-profile.sh"

# Without GIMP this may be skipped (exit 77) unless the machine is meant to have it, as CI is.
missing() {
    if [ "${MOXEL_REQUIRE_GIMP:-0}" = 1 ]; then
        echo "FAIL: $1 (MOXEL_REQUIRE_GIMP=1)"
        exit 1
    fi
    echo "SKIP: $1"
    exit 77
}
command -v gimp-console-2.10 >/dev/null || missing "gimp-console-2.10 is not installed"
[ -x "$plugin_folder/plug-in-moxel" ] || missing "plug-in-moxel was not built (libgimp2.0-dev)"
command -v gimptool-2.0 >/dev/null || missing "gimptool-2.0 is not installed (libgimp2.0-dev)"
command -v compare >/dev/null || missing "ImageMagick is not installed"
locale -a | grep -qi '^ja_JP\.utf-\?8$' || missing "the ja_JP.UTF-8 locale is not generated"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

make_gimp_profile "$work" "$plugin_folder" file-png
# More threads than this machine may have: the plug-in runs on GIMP's setting, and the same pixels
# as moxel below prove the bands join up.
echo "(num-processors 3)" >>"$work/gimprc"

# Fixtures: an opaque RGB crop of the sample, the same with an alpha ramp, grey and indexed.
convert "$sample" -crop 240x180+200+150 +repage -strip PNG24:rgb.png
convert rgb.png \( -size 240x180 gradient:white-gray20 \) -alpha off -compose CopyOpacity \
    -composite PNG32:rgba.png
convert rgb.png -colorspace Gray -define png:color-type=0 -depth 8 grey.png
convert rgb.png -colors 16 PNG8:indexed.png
convert rgb.png -crop 120x90+40+30 +repage crop.png
# A cut-out whose transparent half stores magenta, and 16-bit values 8 bits cannot hold.
convert rgb.png -alpha set -region 120x180+120+0 -alpha transparent -fill magenta -colorize 100 \
    +region PNG32:cut.png
convert rgb.png -depth 16 -evaluate add 100 PNG48:deep.png

# The same settings through moxel, as GIMP argument lists and as moxel's flags.
star="5 60 3 9 1 2147483647"
star_flags="--shape star --density 60 --min-size 3 --max-size 9 --white --seed 2147483647"
# The same as a confirmed dialog records them, randomize off.
star_record="5 0 0 0 60 0 0 0 3 0 0 0 9 0 0 0 1 0 0 0 255 255 255 127 0 0 0 0"
"$moxel" -q rgb.png -o want-default.png --seed 1
"$moxel" -q rgb.png -o want-star.png $star_flags
"$moxel" -q grey.png -o want-grey.png --shape hexagon --density 45 --seed 3
"$moxel" -q crop.png -o want-crop.png --shape square --density 80 --min-size 5 --max-size 20 \
    --seed 4

# Each refused call: its label, its arguments and its calling error, which names the parameter
# and the range the procedure documents, in the core's words through the catalog. A limit changed
# in the core shows here.
refusals="shape-low|-1 30 4 12 0 1|shape の値 -1 は範囲 (0 から 5) の外です
density-high|0 101 4 12 0 1|density の値 101 は範囲 (1 から 100) の外です
min-size-low|0 30 1 12 0 1|min-size の値 1 は範囲 (2 から 30) の外です
max-size-high|0 30 4 31 0 1|max-size の値 31 は範囲 (2 から 30) の外です
max-below-min|0 30 10 5 0 1|max-size の値 5 は min-size (10) より小さくなっています
white|0 30 4 12 2 1|white の値 2 は範囲 (0 から 1) の外です
seed|0 30 4 12 0 -1|seed の値 -1 は範囲 (0 から 2147483647) の外です"
calls=$(echo "$refusals" | awk -F'|' '{ printf "(\"%s\" (%s)) ", $1, $2 }')

# All cases in one batch command: each Script-Fu run is a process of its own, and the cases guard
# themselves (cases.scm). The order matters where the last values do: GIMP keeps them across
# calls, and refused calls must not change them.
HOME="$work/home" GIMP2_DIRECTORY="$work/profile" LC_ALL=ja_JP.UTF-8 LANGUAGE=ja \
    timeout 120 env -u DISPLAY gimp-console-2.10 -i -d -f --gimprc="$work/gimprc" -b "(begin
  (load \"$cases\")
  (moxel-filter \"default\" \"rgb.png\" \"default.png\" '(0 30 4 12 0 1))
  (moxel-filter-16-bit \"16-bit\" \"rgb.png\" \"16-bit.png\" '(0 30 4 12 0 1))
  (moxel-filter \"alpha\" \"rgba.png\" \"alpha.png\" '(0 30 4 12 0 1))
  (moxel-filter \"cut-out\" \"cut.png\" \"cut-out.png\" '(0 60 4 16 0 7))
  (moxel-filter-deep \"deep\" \"deep.png\" \"deep-out.png\" \"deep8.png\" '(2 10 2 4 0 6))
  (moxel-filter \"grey\" \"grey.png\" \"grey-out.png\" '(4 45 4 12 0 3))
  (moxel-filter-selection \"selection\" \"rgb.png\" \"selection.png\" 40 30 120 90
                          '(2 80 5 20 0 4))
  (moxel-filter \"star\" \"rgb.png\" \"star.png\" '($star))
  (moxel-refuse \"refusals\" \"rgb.png\" \"refused.png\" '($calls))
  (moxel-refuse \"indexed\" \"indexed.png\" \"indexed-out.png\" '((\"indexed\" (0 30 4 12 0 1))))
  (moxel-types \"types\")
  (moxel-repeat \"last-values\" \"rgb.png\" \"repeat.png\" '($star_record) '(0 30 4 12 0 1)))" \
    -b '(gimp-quit 0)' >log 2>&1 || echo "gimp-console-2.10 ended with status $?" >>log

# From here on each check reports its failure and the script goes on, to show GIMP's output.
set +e
failures=0
fail() {
    echo "FAIL: $1"
    failures=$((failures + 1))
}
marker() { grep -F "MOXEL $1" log || true; }
# The number of pixels that differ between two images, decoded, or why they cannot be compared.
differing() { compare -metric AE "$1" "$2" null: 2>&1 || true; }
same() {
    d=$(differing "$1" "$2")
    [ "$d" = 0 ] || fail "$3: $1 and $2 differ ($d)"
}

for name in default 16-bit alpha cut-out deep grey selection star refusals indexed types \
    last-values; do
    [ -n "$(marker "$name ran")" ] || fail "$name did not run: $(marker "$name")"
done

# Same pixels as moxel, through 8 and 16 bits, with and without alpha, on grey.
same default.png want-default.png "plug-in against moxel"
same 16-bit.png want-default.png "a 16-bit image"
convert alpha.png -alpha off alpha-colour.png
same alpha-colour.png want-default.png "colour of an image with alpha"
convert alpha.png -alpha extract -strip alpha-after.png
convert rgba.png -alpha extract -strip alpha-before.png
same alpha-after.png alpha-before.png "alpha kept"
# Colour under fully transparent pixels never shows: no visible pixel takes the cut-out's magenta.
shown=$(convert cut-out.png txt:- | grep -c "(255,0,255,255)")
[ "$shown" = 0 ] || fail "the cut-out's hidden magenta shows in $shown pixels"

# At 16 bits, every pixel moxel's run leaves as it was keeps its value, not one rounded to 8 bits.
"$moxel" -q deep8.png -o want-deep.png --shape square --density 10 --min-size 2 --max-size 4 \
    --seed 6
for image in deep deep-out deep8 want-deep; do
    convert $image.png txt:- | sed 1d | cut -d' ' -f2 >$image.txt
done
kept=$(paste deep.txt deep-out.txt deep8.txt want-deep.txt |
    awk '$3 == $4 { untouched++; if ($1 != $2) changed++ } END { print untouched + 0, changed + 0 }')
case "$kept" in
    0\ *) fail "the 16-bit case has no pixel the shapes leave alone" ;;
    *\ 0) ;;
    *) fail "16-bit pixels no shape touches changed (untouched, changed: $kept)" ;;
esac
same grey-out.png want-grey.png "a grey image"
[ "$(identify -format %[channels] grey-out.png)" = gray ] || fail "the grey image is not grey any more"
same star.png want-star.png "plug-in against moxel, on white"

# The selection's bounding box is filtered as an image of its own; outside, nothing changes.
convert selection.png -crop 120x90+40+30 +repage selection-inside.png
same selection-inside.png want-crop.png "inside the selection"
convert selection.png -fill black -draw "rectangle 40,30 159,119" selection-outside.png
convert rgb.png -fill black -draw "rectangle 40,30 159,119" rgb-outside.png
same selection-outside.png rgb-outside.png "outside the selection"

# Each bad argument: its calling error; the image as it was.
echo "$refusals" | while IFS='|' read -r label _ message; do
    line=$(grep -E "MOXEL (refused|accepted) $label:" log || true)
    case "$line" in
        *"failed on invalid input arguments: $message") ;;
        *) echo "$label: not the calling error \"$message\": $line" ;;
    esac
done >refusal-failures
[ ! -s refusal-failures ] || fail "$(cat refusal-failures)"
same refused.png rgb.png "after refused calls"
# An indexed image: offered the filter, which says why not and how to convert, and changes nothing.
case "$(marker "types ")" in
    *INDEXED*) ;;
    *) fail "the menu entry is not offered on indexed images: $(marker types)" ;;
esac
case "$(marker "refused indexed:")" in
    *"failed: "*"インデックスカラー"*"画像 > モード > RGB"*) ;;
    *) fail "no clear refusal of an indexed image: $(marker indexed)" ;;
esac
same indexed-out.png indexed.png "a refused indexed image"

# RUN-WITH-LAST-VALS repeats what the dialog confirmed, script calls between them notwithstanding.
same repeat.png want-star.png "last values"

if [ "$failures" -ne 0 ]; then
    echo "---- GIMP's output"
    cat log
    exit 1
fi
echo "all GIMP cases passed"
