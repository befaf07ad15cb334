#!/bin/sh
# Photographs plug-in-moxel's dialog with its preview for the README. GIMP runs headless on a
# virtual display: it records fixed settings and seed as a confirmed dialog would (the last values),
# then opens the dialog on the sample's sunset. Writes docs/gimp-dialog.png (or the path given);
# with LANGUAGE=ja the dialog is in Japanese. With "selection" after the path, the dialog opens
# instead on the sample enlarged to 12 megapixels with a rectangle selected, and the preview
# starts on the selection. MOXEL_BUILD names a configured build tree to take the plug-in from
# instead of build/native.
#
# Needs what scripts/install-deps.sh installs.
. "$(dirname "$0")/common.sh"
out="${1:-docs/gimp-dialog.png}"
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac
scene="${2:-crop}"

. scripts/gimp-profile.sh
make_gimp_work file-jpeg

case "$scene" in
    crop)
        picture="$PWD/samples/sample.jpg"
        prepare="(gimp-image-crop image 320 240 250 110)"
        sizes="5 0 0 0 14 0 0 0"
        ;;
    selection)
        # The sun and the mountains; the sample enlarged is smooth, so larger stars show better.
        picture="$work/big.jpg"
        convert samples/sample.jpg -resize '4000x3000!' -quality 95 "$picture"
        prepare="(gimp-image-select-rectangle image CHANNEL-OP-REPLACE 1900 1050 1600 1100)"
        sizes="12 0 0 0 30 0 0 0"
        ;;
    *)
        echo "unknown scene $scene: crop or selection" >&2
        exit 2
        ;;
esac

export WORK="$work" OUT="$out" PICTURE="$picture" PREPARE="$prepare" SIZES="$sizes" \
    HOME="$work/home" \
    GIMP2_DIRECTORY="$work/profile"
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
    set -eu
    # Stars at density 70, the sizes of the scene, seed 5, randomize off: the plug-in'"'"'s seven
    # 32-bit values, little-endian.
    timeout 120 gimp-console-2.10 -i -d -f --gimprc="$WORK/gimprc" -b "
      (let* ((image (car (gimp-file-load RUN-NONINTERACTIVE \"$PICTURE\" \"$PICTURE\"))))
        (gimp-procedural-db-set-data \"plug-in-moxel\" 28
          #(5 0 0 0 70 0 0 0 $SIZES 0 0 0 0 5 0 0 0 0 0 0 0))
        $PREPARE
        (plug-in-moxel RUN-INTERACTIVE image (car (gimp-image-get-active-drawable image))
                       0 0 0 0 0 0)
        (gimp-image-delete image))" -b "(gimp-quit 0)" >"$WORK/log" 2>&1 &
    gimp=$!
    window=$(timeout 60 xdotool search --sync --onlyvisible --classname plug-in-moxel | head -n 1)
    if [ -z "$window" ]; then
        kill $gimp
        cat "$WORK/log"
        echo "the dialog did not show" >&2
        exit 1
    fi
    sleep 6  # the preview renders a moment after the window maps
    import -window "$window" "$OUT"
    # Cancel, so GIMP finishes the batch and quits by itself.
    xdotool windowfocus --sync "$window" key Escape
    wait $gimp
'
echo "wrote $out"
