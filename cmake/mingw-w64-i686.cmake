# Cross-compiles the 32-bit Windows console executable with MinGW-w64 (Debian package
# g++-mingw-w64-i686), for the older PCs that still run a 32-bit Windows:
#   cmake -S . -B build/h-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
# Set before the include, and as a plain variable too, so that a cache left by another triple
# and CMake's own test projects (which do not see this cache) both get i686.
set(Z18_MINGW_TRIPLE i686-w64-mingw32 CACHE STRING "MinGW-w64 target triple" FORCE)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
