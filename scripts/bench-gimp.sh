#!/bin/sh
# Times plug-in-moxel on a 12-megapixel image in headless GIMP against GIMP's own plug-in-cubism on
# the same image, in the same GIMP, taking turns (ROUNDS times, default 3), each on a fresh copy of
# the image. Prints each call's seconds, taken from the times its start and end markers reach the
# console. moxel runs at its defaults (circles, density 30, sizes 4 to 11, seed 1); cubism at its
# own (tile size 10, saturation 2.5, black background). MOXEL_BUILD names a configured build tree
# to take the plug-in from instead of build/native.
. "$(dirname "$0")/common.sh"
rounds=${ROUNDS:-3}

. scripts/gimp-profile.sh
make_gimp_work file-jpeg
echo "$(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores;" \
    "load average at the start: $(cut -d' ' -f1-3 /proc/loadavg)"
convert samples/sample.jpg -resize '4000x3000!' -quality 95 "$work/big.jpg"

HOME="$work/home" GIMP2_DIRECTORY="$work/profile" timeout 600 env -u DISPLAY \
    gimp-console-2.10 -i -d -f --gimprc="$work/gimprc" -b "
  (let* ((image (car (gimp-file-load RUN-NONINTERACTIVE \"$work/big.jpg\" \"big.jpg\")))
         (timed (lambda (name call)
                  (let* ((copy (car (gimp-image-duplicate image)))
                         (layer (car (gimp-image-get-active-drawable copy))))
                    (gimp-message (string-append \"TIMING start \" name))
                    (call copy layer)
                    (gimp-message (string-append \"TIMING end \" name))
                    (gimp-image-delete copy)))))
    (gimp-message (string-append \"TIMING size \"
                                 (number->string (car (gimp-image-width image))) \" x \"
                                 (number->string (car (gimp-image-height image)))))
    (let loop ((round 0))
      (when (< round $rounds)
        (timed \"plug-in-moxel\"
               (lambda (copy layer) (plug-in-moxel RUN-NONINTERACTIVE copy layer 0 30 4 12 0 1)))
        (timed \"plug-in-cubism\"
               (lambda (copy layer) (plug-in-cubism RUN-NONINTERACTIVE copy layer 10 2.5 0)))
        (loop (+ round 1))))
    (gimp-image-delete image))" -b '(gimp-quit 0)' 2>&1 |
    while IFS= read -r line; do
        case "$line" in *TIMING*) echo "$(date +%s.%N) ${line#*TIMING }" ;; esac
    done |
    awk '$2 == "size" { print "image: " $3 " x " $5 }
         $2 == "start" { start[$3] = $1 }
         $2 == "end" { printf "%-16s %.2f s\n", $3, $1 - start[$3] }'
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
