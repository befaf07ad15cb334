#!/bin/sh
# Checks in GIMP's own window what the PDB cannot reach in 2.10: that one Ctrl+Z takes a run of
# plug-in-moxel back whole, and nothing before it. GIMP runs with its user interface on a virtual
# display: a batch inverts an image (a step of its own), saves it, runs the plug-in and saves again,
# then waits while xdotool presses Ctrl+Z in the image window, and saves a third time. Not part of
# the tests: it drives a real window, with waits.
#
# Needs what scripts/install-deps.sh installs.
. "$(dirname "$0")/common.sh"
. scripts/gimp-profile.sh
make_gimp_work file-png file-glob
vips crop samples/sample.jpg "$work/in.png" 100 100 200 150

export WORK="$work" HOME="$work/home" GIMP2_DIRECTORY="$work/profile"
xvfb-run -a -s "-screen 0 1280x1024x24" sh -c '
    save="file-png-save RUN-NONINTERACTIVE image (car (gimp-image-get-active-drawable image))"
    timeout 180 gimp-2.10 -d -f --no-splash --gimprc="$WORK/gimprc" -b "
      (let* ((image (car (gimp-file-load RUN-NONINTERACTIVE \"$WORK/in.png\" \"in.png\")))
             (drawable (car (gimp-image-get-active-drawable image))))
        (gimp-display-new image)
        (gimp-drawable-invert drawable FALSE)
        ($save \"$WORK/inverted.png\" \"\" 0 9 0 0 0 0 0)
        (plug-in-moxel RUN-NONINTERACTIVE image drawable 3 60 4 12 0 7)
        ($save \"$WORK/filtered.png\" \"\" 0 9 0 0 0 0 0)
        (while (= (car (file-glob \"$WORK/undone\" 0)) 0) (gimp-progress-pulse))
        ($save \"$WORK/undone.png\" \"\" 0 9 0 0 0 0 0))" -b "(gimp-quit 1)" >"$WORK/log" 2>&1 &
    gimp=$!
    for _ in $(seq 120); do [ -f "$WORK/filtered.png" ] && break; sleep 0.5; done
    sleep 2  # the display catches up with the batch
    window=$(xdotool search --onlyvisible --name " – GIMP\$" | tail -n 1)
    xdotool key --window "$window" ctrl+z
    sleep 2
    touch "$WORK/undone"
    wait $gimp
'
differing() { compare -metric AE "$1" "$2" null: 2>&1 || true; }
filtered=$(differing "$work/inverted.png" "$work/filtered.png")
undone=$(differing "$work/inverted.png" "$work/undone.png")
echo "pixels the run changed: $filtered; pixels still changed after one Ctrl+Z: $undone"
[ "$filtered" -gt 0 ] && [ "$undone" -eq 0 ] || { cat "$work/log"; exit 1; }
echo "one Ctrl+Z undoes the whole run, and only the run"
