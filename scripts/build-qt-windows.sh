#!/usr/bin/env bash
# Builds Qt for 64-bit Windows from Debian's own source package of Qt, with
# Debian's MinGW-w64, when it is not built already, and prints the folder it
# is installed in (its last line of output). Debian ships no Qt for Windows,
# but its Qt's source, and its host tools (moc, rcc, uic) serve the cross
# build. Nothing is fetched but Debian's packages: the source comes through
# apt-get from where this machine's apt fetches its packages (the deb-src
# twins of its own entries, scripts/apt-sources.sh), with a state of its own;
# the system's apt configuration is left alone.
#
# The build is kept under ~/.cache/lintara/ (or $LINTARA_CACHE), in a folder
# named by Qt's version and a digest of the options below, so that changing
# either builds afresh, and is reused otherwise (about 80 MB). It takes about
# 80 minutes on two cores shared with other work; -j is $LINTARA_JOBS, or the
# number of cores. Every $LINTARA_PROGRESS_SECONDS (60) it prints how far
# ninja is; the whole output goes to the logs it names, in a work folder
# beside the result that is removed once Qt is installed.
#
#   scripts/build-qt-windows.sh [--check]
# With --check it builds nothing: it prints the folder and succeeds when Qt
# is built, and fails otherwise.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
# shellcheck source=apt-sources.sh
. "$top/scripts/apt-sources.sh"

fail() {
    echo "build-qt-windows.sh: $*" >&2
    exit 1
}

# What the program needs of Qt, and nothing more. tabletevent: Debian's
# source lacks wintab.h. dynamicgl: with OpenGL off, the windows platform
# plugin compiles only without it. The third-party libraries are Qt's
# bundled ones, so that the program's folder needs no DLL but Qt's.
qt_options=(
    -DCMAKE_BUILD_TYPE=Release
    -DBUILD_SHARED_LIBS=ON
    -DQT_QMAKE_TARGET_MKSPEC=win32-g++
    -DQT_BUILD_EXAMPLES=OFF
    -DQT_BUILD_TESTS=OFF
    -DFEATURE_sql=OFF
    -DFEATURE_network=OFF
    -DFEATURE_dbus=OFF
    -DFEATURE_opengl=OFF
    -DINPUT_opengl=no
    -DFEATURE_dynamicgl=OFF
    -DFEATURE_concurrent=OFF
    -DFEATURE_xml=OFF
    -DFEATURE_printsupport=OFF
    -DFEATURE_vulkan=OFF
    -DFEATURE_pdf=OFF
    -DFEATURE_gif=OFF
    -DFEATURE_jpeg=OFF
    -DFEATURE_tabletevent=OFF
    -DFEATURE_system_zlib=OFF
    -DFEATURE_system_pcre2=OFF
    -DFEATURE_system_png=OFF
    -DFEATURE_system_freetype=OFF
    -DFEATURE_system_harfbuzz=OFF
    -DFEATURE_system_doubleconversion=OFF
)

# The host's Qt: the cross build's tools, and the version to build.
qt_version=$(dpkg-query -W -f='${Version}' qt6-base-dev 2>/dev/null | sed 's/+.*//') || true
[ -n "$qt_version" ] || fail "Debian's qt6-base-dev is needed (scripts/setup.sh)"
command -v x86_64-w64-mingw32-g++-posix >/dev/null ||
    fail "x86_64-w64-mingw32-g++-posix is needed (scripts/setup.sh --windows)"
host_cmake=/usr/lib/x86_64-linux-gnu/cmake
toolchain=$top/cmake/mingw-x86_64.cmake
digest=$( (printf '%s\n' "${qt_options[@]}"; x86_64-w64-mingw32-g++-posix -dumpfullversion) |
    sha256sum | cut -c1-12)

cache=${LINTARA_CACHE:-$HOME/.cache/lintara}
prefix=$cache/qt-$qt_version-win64-$digest
if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi
[ "${1:-}" != --check ] || exit 1

# All that the build needs, before it starts.
for tool in ninja perl cmake; do
    command -v "$tool" >/dev/null || fail "$tool is needed (scripts/setup.sh --windows)"
done
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
sources=$(apt_source_stanzas "$suite")
[ -n "$sources" ] || fail "this machine's apt sources (/etc/apt/sources.list and" \
    "sources.list.d) have no deb entry of Debian $suite with main, where Qt's source would come from"

# One build at a time: a second run waits for the first and takes its Qt.
mkdir -p "$cache"
exec 9>"$prefix.lock"
if ! flock -n 9; then
    echo "Waiting for another build of Qt for Windows into $prefix" >&2
    flock 9
fi
if [ -f "$prefix/.complete" ]; then
    echo "$prefix"
    exit 0
fi

jobs=${LINTARA_JOBS:-$(nproc)}
started=$(date +%s)
work=$cache/work-qt-$qt_version-win64-$digest
mkdir -p "$work"

# Debian's source of qt6-base, the version of the host's Qt.
apt=$work/apt
mkdir -p "$apt/sources" "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/state"
printf '%s\n' "$sources" >"$apt/sources/debian-src.sources"
apt_options=(
    -o Dir::Etc::SourceList=/dev/null
    -o Dir::Etc::SourceParts="$apt/sources"
    -o Dir::State="$apt/state"
    -o Dir::State::Lists="$apt/lists"
    -o Dir::Cache="$apt/cache"
    -o APT::Sandbox::User=root
)
orig=$(ls "$work"/qt6-base_"$qt_version"*.orig.tar.* 2>/dev/null | head -n1 || true)
if [ -z "$orig" ]; then
    echo "Fetching Debian's source of Qt $qt_version"
    apt-get "${apt_options[@]}" -qq update
    (cd "$work" && apt-get "${apt_options[@]}" -qq source --download-only \
        "qt6-base=$(dpkg-query -W -f='${Version}' qt6-base-dev)")
    orig=$(ls "$work"/qt6-base_"$qt_version"*.orig.tar.*)
fi
src=$work/src
if [ ! -f "$src/CMakeLists.txt" ]; then
    rm -rf "$src"
    mkdir -p "$src"
    tar -xf "$orig" -C "$src" --strip-components=1
fi

# Ninja's output goes to LOG; every $LINTARA_PROGRESS_SECONDS its last
# "[done/all]" is shown.
show_progress() {
    local log=$1 every=${LINTARA_PROGRESS_SECONDS:-60} next=$SECONDS line
    while IFS= read -r line; do
        printf '%s\n' "$line"
        [[ $line =~ ^\[([0-9]+)/([0-9]+)\] ]] && ((SECONDS >= next)) || continue
        printf 'Qt for Windows: step %d of %d (%d %%), %d min so far\n' "${BASH_REMATCH[1]}" \
            "${BASH_REMATCH[2]}" $((100 * BASH_REMATCH[1] / BASH_REMATCH[2])) \
            $((($(date +%s) - started) / 60)) >&2
        next=$((SECONDS + every))
    done >"$log"
}

echo "Building Qt $qt_version for Windows (x86_64) in $work/build, -j$jobs;" \
    "its log: $work/configure.log, then $work/build.log"
cmake -S "$src" -B "$work/build" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR="$host_cmake" \
    "${qt_options[@]}" >"$work/configure.log" ||
    { tail -n 40 "$work/configure.log" >&2; exit 1; }
cmake --build "$work/build" -j"$jobs" 2>&1 | show_progress "$work/build.log" ||
    { tail -n 40 "$work/build.log" >&2; exit 1; }
cmake --install "$work/build" >"$work/install.log" ||
    { tail -n 40 "$work/install.log" >&2; exit 1; }
touch "$prefix/.complete"
# The source, its build and apt's lists are no use once Qt is installed.
rm -rf "$work"

took=$(($(date +%s) - started))
printf 'Qt %s for Windows built in %d min %02d s, %s installed\n' "$qt_version" \
    $((took / 60)) $((took % 60)) "$(du -sh "$prefix" | cut -f1)"
echo "$prefix"
