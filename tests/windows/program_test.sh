#!/usr/bin/env bash
# The whole program for Windows, from this Linux build, against Qt for
# Windows (scripts/build-qt-windows.sh):
#
#   program_test.sh windows SOURCE WORK BUILD_TYPE WERROR
#       cross-builds the window tests and runs them under wine (offscreen)
#   program_test.sh package SOURCE WORK SENDCLOSE VERSION_TEXT
#       builds the zip (scripts/package-windows.sh), checks what it holds
#       (Lintara.exe's version in the resource's form, 1.01.0008), and starts
#       Lintara.exe from it under wine on a private X server, with the
#       scriptable stand-in driver as its rscom.dll (window_check.sh)
#
# Without Qt for Windows it is skipped (exit status 77), saying so: Qt is built
# before the tests, by scripts/test.sh or scripts/build-qt-windows.sh, never
# inside a test and its time limit. The package check needs the stand-in
# driver from the first form's build in WORK/program.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
mode=$1 source=$2 work=$3

skip() {
    echo "SKIP: $*"
    exit 77
}

command -v x86_64-w64-mingw32-g++-posix >/dev/null ||
    skip "no x86_64-w64-mingw32-g++-posix: install g++-mingw-w64-x86-64-posix"
# Where wine cannot run the tests, that is the reason, whether Qt is there or not.
reason=$(bash "$here/wine_tests.sh" --check) || skip "${reason#SKIP: }"
qt=$("$source/scripts/build-qt-windows.sh" --check) ||
    skip "Qt for Windows is not built: scripts/test.sh builds it before the tests" \
        "(unless LINTARA_BUILD_QT=0), or run scripts/build-qt-windows.sh"
mkdir -p "$work"

if [ "$mode" = windows ]; then
    build_type=${4:-Debug} werror=${5:-ON}
    build=$work/program
    echo "Cross build of the program and its window tests in $build"
    if ! { cmake -S "$source" -B "$build" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$source/cmake/mingw-x86_64.cmake" \
        -DLINTARA_QT_PREFIX="$qt" -DCMAKE_CROSSCOMPILING_EMULATOR="$here/wine_run.sh" \
        -DCMAKE_BUILD_TYPE="$build_type" -DLINTARA_WERROR="$werror" &&
        cmake --build "$build" -j"$(nproc)" --target lintara test_chooser test_monitor \
            test_dialog test_portinfo test_polltimer test_timeline fakedriver_with_status \
            fakedriver_with_edges; } \
        >"$work/program.log" 2>&1; then
        tail -n 60 "$work/program.log"
        echo "FAILED: the cross build of the program (whole output in $work/program.log)"
        exit 1
    fi
    exec bash "$here/wine_tests.sh" "$build" "$work/wineprefix" -L ui
fi

[ "$mode" = package ] || {
    echo "unknown mode $mode" >&2
    exit 2
}
sendclose=${4:-} version_text=$5
stand_in=$work/program/tests/fakedriver/with-status/rscom.dll
[ -f "$stand_in" ] || {
    echo "FAILED: no stand-in driver $stand_in: the windows_program test builds it"
    exit 1
}
zip=$("$source/scripts/package-windows.sh" "$work/package" | tail -n1)
rm -rf "$work/unpacked"
python3 -m zipfile -e "$zip" "$work/unpacked"
status=0
check() {
    local what=$1
    shift
    if "$@"; then echo "ok   - $what"; else
        echo "FAIL - $what"
        status=1
    fi
}
folders=$(ls "$work/unpacked")
folder=$work/unpacked/$folders
check "the zip holds one folder, $(basename "$zip" .zip)" [ "$folders" = "$(basename "$zip" .zip)" ]
check "Lintara.exe, rscom.dll and Qt's plugins in it" \
    test -f "$folder/Lintara.exe" -a -f "$folder/rscom.dll" -a -f "$folder/platforms/qwindows.dll" \
    -a -f "$folder/styles/qwindowsvistastyle.dll"
check "every DLL they import is in it or part of Windows" \
    python3 "$here/check_dll.py" x86_64-w64-mingw32-objdump --folder "$folder"
size=$(stat -c %s "$zip")
check "the zip is at most 25 MB ($((size / 1024)) KiB)" [ "$size" -le $((25 * 1024 * 1024)) ]
check "its binaries are stripped" bash -c "! x86_64-w64-mingw32-objdump -t '$folder'/*.dll \
    '$folder'/*.exe '$folder'/*/*.dll | grep -q '^\[ *[0-9]*\](sec'"
check "Lintara.exe has its version $version_text and its icon" bash -c \
    "strings -el '$folder/Lintara.exe' | grep -qxF '$version_text' &&
     x86_64-w64-mingw32-objdump -h '$folder/Lintara.exe' | grep -q ' .rsrc '"
[ $status -eq 0 ] || exit 1

# The real windows, with the stand-in driver in place of the real one.
rm -rf "$work/window-check"
cp -r "$folder" "$work/window-check"
cp "$stand_in" "$work/window-check/rscom.dll"
exec bash "$here/window_check.sh" "$work/window-check" "$work/screenshots" "$work/wineprefix" \
    "$sendclose"
