# What the two MinGW-w64 toolchain files share; each sets ORDIL_MINGW_TARGET
# (the compiler's target triple) and CMAKE_SYSTEM_PROCESSOR first.
set(CMAKE_SYSTEM_NAME Windows)

# The posix thread model: GoogleTest and the batch mode's jobs need
# std::thread and std::mutex.
set(CMAKE_C_COMPILER ${ORDIL_MINGW_TARGET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORDIL_MINGW_TARGET}-g++-posix)
set(CMAKE_RC_COMPILER ${ORDIL_MINGW_TARGET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORDIL_MINGW_TARGET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Linked statically so that ordil.exe runs without the compiler's DLLs.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

find_program(WINE wine)
if(WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${WINE})
endif()
