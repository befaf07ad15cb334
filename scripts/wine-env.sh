# Wine's environment for this project, sourced by every script that runs Wine (set moxel_root to
# the checkout first): a prefix of the project's own, no debug output, no Mono or Gecko prompts.
# Settings already in the environment win.
: "${WINEPREFIX:=$moxel_root/build/wineprefix}"
: "${WINEDEBUG:=-all}"
: "${WINEDLLOVERRIDES:=mscoree,mshtml=}"
export WINEPREFIX WINEDEBUG WINEDLLOVERRIDES
