# Wine's environment for this project, sourced by every script that runs Wine (set moxel_root to
# the checkout first): a prefix of the project's own, no debug output, no Mono or Gecko prompts.
# Settings already in the environment win.
#
# MOXEL_WINE_ARCH names the Windows build that runs: win32, the plug-in users get, or win64, the
# same sources as a 64-bit module under 64-bit Wine, in a prefix of its own. Unset, it is win32
# wherever 32-bit programs can start, natively or through QEMU user mode (scripts/with-i386.sh),
# and win64 only where neither works. "$MOXEL_WINE" (cmake/wine-run.sh) starts a Windows program
# the chosen way; "$MOXEL_WINE_LOADER" is Wine's own loader for that build.
if [ -z "${MOXEL_WINE_ARCH:-}" ]; then
    if "$moxel_root/scripts/with-i386.sh" --check >/dev/null; then
        MOXEL_WINE_ARCH=win32
    else
        MOXEL_WINE_ARCH=win64
        cat >&2 <<'WARNING'
########################################################################################
# 32-bit programs cannot start on this machine, natively or through QEMU user mode     #
# (see scripts/with-i386.sh). Windows programs run on the 64-bit build (win64 preset): #
# __stdcall, the decorated exports and the 32-bit address space go UNTESTED here.      #
########################################################################################
WARNING
    fi
fi
if [ "$MOXEL_WINE_ARCH" = win64 ]; then
    : "${WINEPREFIX:=$moxel_root/build/wineprefix64}"
    : "${MOXEL_WINE_LOADER:=/usr/lib/wine/wine64}"
    WINELOADER=$MOXEL_WINE_LOADER  # what Wine starts its own helper programs with
    export WINELOADER
else
    : "${WINEPREFIX:=$moxel_root/build/wineprefix}"
    : "${MOXEL_WINE_LOADER:=wine}"
fi
: "${MOXEL_WINE_SESSION:=$WINEPREFIX-session}"  # tests/windows/wine_session.sh
: "${WINEDEBUG:=-all}"
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"
MOXEL_WINE="$moxel_root/cmake/wine-run.sh"
export MOXEL_WINE_ARCH WINEPREFIX WINEDEBUG WINEDLLOVERRIDES MOXEL_WINE MOXEL_WINE_LOADER \
    MOXEL_WINE_SESSION
