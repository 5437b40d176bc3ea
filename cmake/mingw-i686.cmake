# Cross-building for 32-bit Windows with Debian's MinGW-w64:
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# Packages: g++-mingw-w64-i686-posix and binutils-mingw-w64-i686.
set(CMAKE_SYSTEM_PROCESSOR i686)
set(lintara_mingw i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
