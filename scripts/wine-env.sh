# Wine's environment for this project, sourced by every script that runs Wine (set moxel_root to
# the checkout first): a prefix of the project's own, no debug output, no Mono or Gecko prompts.
# Settings already in the environment win.
#
# MOXEL_WINE_ARCH names the Windows build that runs: win32, the plug-in users get, or win64, the
# same sources as a 64-bit module under 64-bit Wine, in a prefix of its own. Unset, it is win32
# unless this machine's kernel cannot start 32-bit programs at all. "$MOXEL_WINE" is the loader to
# start programs with.
if [ -z "${MOXEL_WINE_ARCH:-}" ]; then
    if /usr/lib/wine/wine --version >/dev/null 2>&1; then
        MOXEL_WINE_ARCH=win32
    else
        MOXEL_WINE_ARCH=win64
    fi
fi
if [ "$MOXEL_WINE_ARCH" = win64 ]; then
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
export MOXEL_WINE_ARCH WINEPREFIX WINEDEBUG WINEDLLOVERRIDES MOXEL_WINE
