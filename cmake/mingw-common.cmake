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

# Qt for the target (scripts/build-qt-windows.sh prints its folder):
#   -DLINTARA_QT_PREFIX=<folder>
# Its tools (moc, rcc, uic) are the build machine's, from Debian's Qt.
if(LINTARA_QT_PREFIX)
    list(APPEND CMAKE_FIND_ROOT_PATH ${LINTARA_QT_PREFIX})
    set(QT_HOST_PATH /usr CACHE PATH "Qt's tools for the build machine")
    set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH
        "The CMake files of Qt's tools for the build machine")
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LINTARA_QT_PREFIX)
