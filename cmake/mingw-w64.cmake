# Cross-compiles the native Windows console executable with MinGW-w64. By default the 64-bit one
# (Debian package g++-mingw-w64-x86-64):
#   cmake -S . -B build/h-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
# The 32-bit one uses cmake/mingw-w64-i686.cmake, which sets the triple and includes this file.
set(CMAKE_SYSTEM_NAME Windows)

set(Z18_MINGW_TRIPLE x86_64-w64-mingw32 CACHE STRING "MinGW-w64 target triple")
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${Z18_MINGW_TRIPLE}")
set(CMAKE_C_COMPILER ${Z18_MINGW_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${Z18_MINGW_TRIPLE}-g++)
set(CMAKE_RC_COMPILER ${Z18_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${Z18_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Lets CMake run the cross-built programs where it needs to, e.g. `wine build/h-win/z18man.exe`.
find_program(Z18_WINE wine)
if(Z18_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${Z18_WINE})
endif()
