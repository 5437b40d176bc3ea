#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every
# test. With --sanitize the build uses AddressSanitizer and
# UndefinedBehaviorSanitizer, in a build folder of its own. With --tsan the
# driver and its tests are built with ThreadSanitizer, in a folder of their
# own, and the driver's tests run. With --portable the program is built with
# the portable fallbacks of its platform code, and the window tests run.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

build=$top/build
options=(-DCMAKE_BUILD_TYPE=Debug -DLINTARA_WERROR=ON)
select=()
if [ "${1:-}" = "--sanitize" ]; then
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
if [ "${1:-}" = "--portable" ]; then
    build=$top/build-portable
    options+=(-DLINTARA_PORTABLE=ON)
    select=(-L ui)
fi
if [ "${1:-}" = "--tsan" ]; then
    build=$top/build-tsan
    options+=(-DLINTARA_TSAN=ON)
    export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
    targets=(driver_tests)
    select=(-L driver)
fi

"$top/scripts/setup.sh" --tests
cmake -S "$top" -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)" --target "${targets[@]}"
ctest --test-dir "$build" --output-on-failure --timeout 600 "${select[@]}"
