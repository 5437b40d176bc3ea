#!/usr/bin/env bash
# The driver as other programs build against it: installed alone into a
# fresh prefix with `cmake --install`, then a small C program built with
# what `pkg-config --cflags --libs rscom` gives and with CMake's
# find_package(rscom), each run on a virtual port.
#
# usage: install_test.sh DRIVER_BUILD PREFIX CC
#   DRIVER_BUILD  the driver's folder of the build tree (build/driver)
#   PREFIX        a folder to install into; made anew
#   CC            the C compiler
set -euo pipefail
driver_build=$1 prefix=$2 cc=$3
rm -rf "$prefix"
mkdir -p "$prefix/use"

cmake --install "$driver_build" --prefix "$prefix" >"$prefix/use/install.log"
pc=$(find "$prefix" -name rscom.pc)
[ -n "$pc" ] || { echo "FAIL: no rscom.pc installed"; exit 1; }
export PKG_CONFIG_PATH=${pc%/rscom.pc}
flags=$(pkg-config --cflags --libs rscom)
echo "pkg-config --cflags --libs rscom: $flags"
libdir=$(pkg-config --variable=libdir rscom)

cat >"$prefix/use/use.c" <<'PROGRAM'
#include <rscom.h>
#include <stdio.h>

/* COM1 is a virtual port with a test plug: DTR comes back on DSR. */
int main(void)
{
    if (OPENCOM("COM1,1200,N,8,1") == RSCOM_NOT_OPENED) return 1;
    DTR(1);
    if (DSR() != RSCOM_ACTIVE) return 2;
    DTR(0);
    if (DSR() != RSCOM_INACTIVE) return 3;
    puts("opened COM1, DTR came back on DSR");
    return 0;
}
PROGRAM
# shellcheck disable=SC2086 # the flags are words
"$cc" -o "$prefix/use/use-pkg-config" "$prefix/use/use.c" $flags
RSCOM_COM1=loopback LD_LIBRARY_PATH=$libdir "$prefix/use/use-pkg-config"

cat >"$prefix/use/CMakeLists.txt" <<'PROJECT'
cmake_minimum_required(VERSION 3.25)
project(use C)
find_package(rscom 1 REQUIRED)
add_executable(use-cmake use.c)
target_link_libraries(use-cmake PRIVATE rscom::rscom)
PROJECT
cmake -S "$prefix/use" -B "$prefix/use/build" -DCMAKE_C_COMPILER="$cc" \
    -DCMAKE_PREFIX_PATH="$prefix" >"$prefix/use/configure.log"
cmake --build "$prefix/use/build" >"$prefix/use/build.log"
RSCOM_COM1=loopback "$prefix/use/build/use-cmake"
echo "PASS: built against the installed driver with pkg-config and with find_package(rscom)"
