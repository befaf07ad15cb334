#!/bin/sh
# Photographs the real options dialog for the README: MOXEL.dll's dialog 101 opened by FilterOption
# under Wine, inside a Wine virtual desktop (which gives it a title bar without a window manager)
# on a virtual display, in Japanese with code page 932 and Debian's IPA Gothic fonts standing in
# for the dialog's font. Writes docs/options-dialog.png (or the path given).
#
# Needs what scripts/install-deps.sh installs, the Japanese locale included.
. "$(dirname "$0")/common.sh"
out="${1:-docs/options-dialog.png}"

# The 32-bit plug-in, through QEMU user mode where the kernel cannot start 32-bit programs; only
# where that fails too, the 64-bit build of the same sources and dialog template. A prefix of its
# own, outside the tests' session: the font replacements below stay out of the one the tests use.
. scripts/wine-env.sh
WINEPREFIX="$PWD/build/wineprefix-screenshot-$MOXEL_WINE_ARCH"
MOXEL_WINE_SESSION="$WINEPREFIX-session"
cmake --preset "$MOXEL_WINE_ARCH" >/dev/null
cmake --build --preset "$MOXEL_WINE_ARCH" --target show_dialog moxel_plugin
LC_ALL=ja_JP.UTF-8
export LC_ALL

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "build/$MOXEL_WINE_ARCH/bin/MOXEL.dll" "build/$MOXEL_WINE_ARCH/bin/show_dialog.exe" "$work/"
export WORK="$work" OUT="$out"

xvfb-run -a -s "-screen 0 420x340x24" sh -c '
    set -eu
    "$MOXEL_WINE" wineboot -i >/dev/null 2>&1
    # Without these the Japanese faces fall back to fonts without Japanese glyphs: boxes.
    for mapping in "ＭＳ Ｐゴシック=IPAPGothic" "ＭＳ ゴシック=IPAGothic" "MS UI Gothic=IPAPGothic"; do
        "$MOXEL_WINE" reg add "HKCU\\Software\\Wine\\Fonts\\Replacements" \
            /v "${mapping%%=*}" /d "${mapping#*=}" /f >/dev/null 2>&1
    done
    # The window frame draws its buttons and arrows with the Marlett font that Wine ships, which this
    # Wine does not take from its data directory by itself.
    cp /usr/share/wine/fonts/marlett.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
    wineserver -w

    # No settings file in the working directory: the dialog shows the defaults.
    cd "$WORK"
    "$MOXEL_WINE" explorer /desktop=moxel,420x340 show_dialog.exe >/dev/null 2>&1 &
    # Wait for the desktop window, then give the dialog time to be drawn.
    for _ in $(seq 100); do
        xwininfo -root -tree 2>/dev/null | grep -q "\"moxel" && break
        sleep 0.1
    done
    sleep 3
    desktop=$(xwininfo -root -tree | grep "\"moxel" | head -n 1 | awk "{print \$1}")
    /usr/bin/import -window "$desktop" "$WORK/desktop.png"
    wineserver -k
    # The desktop around the dialog is one flat colour: trim it away, keep a small margin.
    cd - >/dev/null
    /usr/bin/convert "$WORK/desktop.png" -trim +repage -bordercolor white -border 8 \
        -strip "$OUT"
'
echo "wrote $out"
