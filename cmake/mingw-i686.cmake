# Cross build of the 32-bit plug-in with MinGW-w64; tests run under Wine.
set(mingw_arch i686)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
set(CMAKE_CROSSCOMPILING_EMULATOR env MOXEL_WINE_ARCH=win32 ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
