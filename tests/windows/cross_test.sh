#!/usr/bin/env bash
# The Windows driver from this Linux build: cross-builds rscom.dll and the
# driver's tests with MinGW-w64 for one architecture, checks the DLL's
# exports, imports and (32-bit) calling convention, and for x86_64 runs every
# driver test under wine (wine_tests.sh) and the port numbering check
# (ports_check.sh). Exit status 77 (skipped) with the
# reason when a tool is missing.
#
# usage: cross_test.sh ARCH SOURCE WORK BUILD_TYPE WERROR [GENERATOR]
#   ARCH        x86_64 or i686
#   SOURCE      the source tree
#   WORK        where the cross build (WORK/ARCH) and wine's prefix live
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
arch=$1 source=$2 work=$3 build_type=${4:-Debug} werror=${5:-ON} generator=${6:-}

case $arch in
x86_64) triple=x86_64-w64-mingw32 package=x86-64 ;;
i686) triple=i686-w64-mingw32 package=i686 ;;
*)
    echo "unknown architecture $arch" >&2
    exit 2
    ;;
esac

skip() {
    echo "SKIP: $*"
    exit 77
}

command -v "$triple-g++-posix" >/dev/null ||
    skip "no $triple-g++-posix: install g++-mingw-w64-$package-posix"
command -v "$triple-objdump" >/dev/null ||
    skip "no $triple-objdump: install binutils-mingw-w64-$package"
command -v python3 >/dev/null || skip "no python3 to read the DLL's tables with"

build=$work/$arch
log=$work/$arch.log
options=(-DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-$arch.cmake"
    -DCMAKE_BUILD_TYPE="${build_type:-Debug}" -DLINTARA_WERROR="$werror")
# x86_64 tests run under wine, only ever through wine_run.sh.
[ "$arch" = x86_64 ] && options+=(-DCMAKE_CROSSCOMPILING_EMULATOR="$here/wine_run.sh")
# The generator of an existing build cannot change.
[ -n "$generator" ] && [ ! -f "$build/CMakeCache.txt" ] && options+=(-G "$generator")

mkdir -p "$work"
echo "Cross build for $arch in $build"
if ! { cmake -S "$source" -B "$build" "${options[@]}" &&
    cmake --build "$build" -j"$(nproc)"; } >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "FAILED: the $arch cross build (whole output in $log)"
    exit 1
fi

stdcall=()
[ "$arch" = i686 ] && stdcall=(--stdcall)
python3 "$here/check_dll.py" "$triple-objdump" "$build/bin/rscom.dll" "${stdcall[@]}"

if [ "$arch" = x86_64 ]; then
    status=0
    bash "$here/wine_tests.sh" "$build" "$work/wineprefix" || status=$?
    [ "$status" = 0 ] || exit "$status"
    # The port numbering through COMSTATUS, in a prefix with ports of its own.
    exec bash "$here/ports_check.sh" "$build" "$work/wineprefix-ports"
fi
echo "The $arch driver and its tests build; they are not run (no 32-bit wine here)"
