#!/bin/sh
# Runs a Windows test program under Wine with the project's own quiet prefix. CTest calls this as
# the cross-compiling emulator; settings already in the environment win.
: "${WINEPREFIX:=$(dirname "$0")/../build/wineprefix}"
: "${WINEDEBUG:=-all}"
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
exec wine "$@"
