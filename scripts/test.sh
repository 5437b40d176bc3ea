#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every
# test. With --quick it runs all but the tests that need Qt for Windows or the
# VM, in a few minutes. With --sanitize the build uses AddressSanitizer and
# UndefinedBehaviorSanitizer, in a build folder of its own. With --tsan the
# driver and its tests are built with ThreadSanitizer, in a folder of their
# own, and the driver's tests run. With --portable the program is built with
# the portable fallbacks of its platform code, and the window tests run.
#
# The Windows program's tests need Qt for Windows, which the first full run on
# a machine builds from Debian's source before the tests, as a step of its own
# (scripts/build-qt-windows.sh, about 80 minutes on two cores shared with
# other work, then kept); LINTARA_BUILD_QT=0 skips those tests instead. It is
# not built where the tests that need it could not run (no wine, no mount
# namespace): it says why before building anything.
#
# usage: scripts/test.sh [--quick | --sanitize | --tsan | --portable]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

usage() {
    echo "usage: $0 [--quick | --sanitize | --tsan | --portable]" >&2
    exit 2
}
variant=${1:-}
case $variant in
"" | --quick | --sanitize | --tsan | --portable) ;;
*)
    echo "$0: unknown option: $variant" >&2
    usage
    ;;
esac
[ $# -le 1 ] || {
    echo "$0: one option at most, got: $*" >&2
    usage
}

build=$top/build
options=(-DCMAKE_BUILD_TYPE=Debug -DLINTARA_WERROR=ON)
select=()
if [ "$variant" = "--quick" ]; then
    select=(-LE "qt-windows|vm")
fi
if [ "$variant" = "--sanitize" ]; then
    build=$top/build-sanitize
    options+=(-DLINTARA_SANITIZE=ON)
    # The Windows cross builds and their run under wine do not change under
    # the sanitizers; the first pass ran them.
    select=(-LE windows)
    # libxkbcommon-x11 hands strndup a buffer that is not terminated, within
    # its length: correct, but ASan's strndup reads past it.
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_strndup=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    # ASan intercepts dlopen and calls it from its own runtime, whose search
    # path is not the program's: the sanitized program is shown its driver.
    export LD_LIBRARY_PATH=$build/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
    export LSAN_OPTIONS=suppressions=$top/tests/lsan.supp:print_suppressions=0
fi

targets=(all)
if [ "$variant" = "--portable" ]; then
    build=$top/build-portable
    options+=(-DLINTARA_PORTABLE=ON)
    select=(-L ui)
fi
if [ "$variant" = "--tsan" ]; then
    build=$top/build-tsan
    options+=(-DLINTARA_TSAN=ON)
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    targets=(driver_tests)
    select=(-L driver)
fi

# Every skipped test with its reason, from CTest's log of the run: a script's
# "SKIP: ...", Qt Test's "SKIP   : ...", or the line after GoogleTest's
# "Skipped".
print_skips() {
    local summary=$1 log=$build/Testing/Temporary/LastTest.log name
    local skipped
    skipped=$(sed -n 's/.*Test *#[0-9]*: \([^ ]*\) .*\*\*\*Skipped.*/\1/p' "$summary")
    [ -n "$skipped" ] || return 0
    echo
    echo "Skipped, and why:"
    for name in $skipped; do
        local why
        why=$(awk -v name="$name" '
            $0 ~ "^[0-9]+/[0-9]+ Test: " && $3 == name { found = 1; next }
            found && /^Output:/ { inside = 1; next }
            inside && /^<end of output>/ { exit }
            inside && after { print; after = 0 }
            inside && /: Skipped$/ { after = 1 }
            inside && /SKIP *:/ { sub(/^.*SKIP *: */, ""); print }
        ' "$log" | sed '/^\s*$/d' | head -n 3 | paste -sd ' ')
        echo "  $name: ${why:-(no reason given)}"
    done
}

# Whether Qt for Windows is to be built, decided before anything is built:
# only in the full run, and only where the tests that need it can run.
qt_for_windows() {
    local qt reason
    [ -z "$variant" ] || return 1
    if [ "${LINTARA_BUILD_QT:-1}" = 0 ]; then
        echo "Qt for Windows: not built (LINTARA_BUILD_QT=0); the tests that need it are skipped"
        return 1
    fi
    if qt=$("$top/scripts/build-qt-windows.sh" --check 2>/dev/null); then
        echo "Qt for Windows: $qt"
        return 1
    fi
    if ! reason=$(bash "$top/tests/windows/wine_tests.sh" --check); then
        echo "Qt for Windows: not built, as the tests that need it cannot run here: ${reason#SKIP: }"
        return 1
    fi
    echo "Qt for Windows: built after the program, before the tests (once; about 80 minutes" \
        "on two cores shared with other work)"
}

"$top/scripts/setup.sh" --tests
build_qt=false
qt_for_windows && build_qt=true
# The configure step's messages stay: they say what this build leaves out.
cmake -S "$top" -B "$build" "${options[@]}"
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
qt_failed=false
if $build_qt && ! "$top/scripts/build-qt-windows.sh"; then
    echo "Qt for Windows did not build (above, the end of its log); the tests that need it are skipped"
    qt_failed=true
fi
status=0
summary=$(mktemp)
trap 'rm -f "$summary"' EXIT
ctest --test-dir "$build" --output-on-failure --timeout 600 "${select[@]}" | tee "$summary" ||
    status=$?
print_skips "$summary"
if $qt_failed; then
    echo "FAILED: Qt for Windows did not build"
    [ "$status" -ne 0 ] || status=1
fi
exit $status
