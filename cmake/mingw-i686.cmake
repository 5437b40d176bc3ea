# Cross-building for 32-bit Windows with Debian's MinGW-w64, posix flavour (its
# std::mutex and std::thread use winpthread):
#   cmake -S . -B build-win32 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-i686.cmake
# Packages: g++-mingw-w64-i686-posix and binutils-mingw-w64-i686.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(lintara_mingw i686-w64-mingw32)
set(CMAKE_C_COMPILER ${lintara_mingw}-gcc-posix)
set(CMAKE_CXX_COMPILER ${lintara_mingw}-g++-posix)
set(CMAKE_RC_COMPILER ${lintara_mingw}-windres)

# Headers and libraries come from the target's tree only; programs (the
# compilers, pkg-config) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${lintara_mingw})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
