#!/bin/sh
# Photographs plug-in-moxel's dialog with its preview for the README. GIMP runs headless on a
# virtual display: it records fixed settings and seed as a confirmed dialog would (the last values),
# then opens the dialog on the sample's sunset. Writes
# docs/gimp-dialog.png (or the path given); with LANGUAGE=ja the dialog is in Japanese.
#
# Needs what scripts/install-deps.sh installs.
. "$(dirname "$0")/common.sh"
out="${1:-docs/gimp-dialog.png}"
case "$out" in /*) ;; *) out="$PWD/$out" ;; esac

. scripts/gimp-profile.sh
make_gimp_work file-jpeg

export WORK="$work" OUT="$out" SAMPLE="$PWD/samples/sample.jpg" HOME="$work/home" \
    GIMP2_DIRECTORY="$work/profile"
xvfb-run -a -s "-screen 0 800x900x24" sh -c '
    set -eu
    # Stars at density 70, sizes 5 to 14, seed 5, randomize off: the plug-in'"'"'s seven 32-bit
    # values, little-endian.
    timeout 120 gimp-console-2.10 -i -d -f --gimprc="$WORK/gimprc" -b "
      (let* ((image (car (gimp-file-load RUN-NONINTERACTIVE \"$SAMPLE\" \"$SAMPLE\"))))
        (gimp-procedural-db-set-data \"plug-in-moxel\" 28
          #(5 0 0 0 70 0 0 0 5 0 0 0 14 0 0 0 0 0 0 0 5 0 0 0 0 0 0 0))
        (gimp-image-crop image 320 240 250 110)
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
    sleep 3  # the preview renders a moment after the window maps
    import -window "$window" "$OUT"
    # Cancel, so GIMP finishes the batch and quits by itself.
    xdotool windowfocus --sync "$window" key Escape
    wait $gimp
'
echo "wrote $out"
