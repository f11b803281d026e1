# Cross-compiles the 32-bit Windows console build with Debian's MinGW-w64
# (package g++-mingw-w64-i686):
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# The tests then run under Wine.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ORDIL_MINGW_TARGET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
