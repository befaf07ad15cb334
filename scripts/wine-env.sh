# Wine's environment for this project, sourced by every script that runs Wine (set moxel_root to
# the checkout first): a prefix of the project's own, no debug output, no Mono or Gecko prompts.
# Settings already in the environment win.
#
# MOXEL_WINE_ARCH=win64 runs the 64-bit build under 64-bit Wine, in a prefix of its own: that is
# how the Windows tests run on a machine whose kernel cannot start 32-bit programs at all.
# "$MOXEL_WINE" is the loader to start programs with.
if [ "${MOXEL_WINE_ARCH:-win32}" = win64 ]; then
    : "${WINEPREFIX:=$moxel_root/build/wineprefix64}"
    : "${MOXEL_WINE:=/usr/lib/wine/wine64}"
    WINELOADER=$MOXEL_WINE  # what Wine starts its own helper programs with
    export WINELOADER
else
    : "${WINEPREFIX:=$moxel_root/build/wineprefix}"
    : "${MOXEL_WINE:=wine}"
fi
: "${WINEDEBUG:=-all}"
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES MOXEL_WINE

