#!/usr/bin/env bash
# Builds Lintara for 64-bit Windows on Debian and packs it:
#
#   scripts/package-windows.sh [BUILD_DIR]      (default: <repo>/build-win64)
#
# Installs what the build needs (scripts/setup.sh), builds Qt for Windows
# when it is not built yet (scripts/build-qt-windows.sh, kept under
# ~/.cache/lintara/), cross-builds the program and its driver with MinGW-w64,
# and writes BUILD_DIR/Lintara-<version>-win64.zip: one folder with
# Lintara.exe and every DLL it needs that Windows lacks, stripped. The last
# line of output is the zip's path.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build-win64}

"$top/scripts/setup.sh" --windows
qt=$("$top/scripts/build-qt-windows.sh" | tail -n1)

cmake -S "$top" -B "$build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-x86_64.cmake" \
    -DLINTARA_QT_PREFIX="$qt" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF -DLINTARA_WERROR=ON >/dev/null
cmake --build "$build" -j"${LINTARA_JOBS:-$(nproc)}"
rm -f "$build"/Lintara-*-win64.zip
(cd "$build" && cpack -G ZIP >/dev/null)
zip=$(ls "$build"/Lintara-*-win64.zip)
echo "$(du -h "$zip" | cut -f1) $(basename "$zip")"
echo "$zip"
