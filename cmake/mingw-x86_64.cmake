# Cross-compiles the same sources as an x86-64 Windows console program with
# Debian's MinGW-w64 (package g++-mingw-w64-x86-64):
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
# The 32-bit build (mingw-i686.cmake) is the product; this one exists so that
# the Windows code is still tested where only 64-bit Wine can be had.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ORDIL_MINGW_TARGET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
