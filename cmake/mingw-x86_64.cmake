# Cross build of the plug-in's sources as a 64-bit module, for machines that cannot run 32-bit
# programs (their kernel lacks the i386 compatibility mode): the Windows tests then run under
# 64-bit Wine. The plug-in users get stays the 32-bit one (mingw-i686.cmake).
set(mingw_arch x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR env MOXEL_WINE_ARCH=win64 ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
