# Cross-building for 64-bit Windows with Debian's MinGW-w64:
#   cmake -S . -B build-win64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-x86_64.cmake
# Packages: g++-mingw-w64-x86-64-posix and binutils-mingw-w64-x86-64.
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(lintara_mingw x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
