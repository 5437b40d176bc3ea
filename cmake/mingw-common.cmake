# What both MinGW-w64 toolchain files share: Debian's posix flavour of the
# compilers (its std::mutex and std::thread use winpthread), for the target
# triple `lintara_mingw` that the including file sets.
set(CMAKE_SYSTEM_NAME Windows)

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
