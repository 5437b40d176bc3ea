#!/usr/bin/env bash
# Installs what is missing, builds with warnings as errors and runs every
# test. With --sanitize the build uses AddressSanitizer and
# UndefinedBehaviorSanitizer, in a build folder of its own.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)

build=$top/build
options=(-DCMAKE_BUILD_TYPE=Debug -DLINTARA_WERROR=ON)
if [ "${1:-}" = "--sanitize" ]; then
    build=$top/build-sanitize
    options+=(-DLINTARA_SANITIZE=ON)
    # libxkbcommon-x11 hands strndup a buffer that is not terminated, within
    # its length: correct, but ASan's strndup reads past it.
    export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1:intercept_strndup=0
    export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
    # ASan intercepts dlopen and calls it from its own runtime, whose search
    # path is not the program's: the sanitized program is shown its driver.
    export LD_LIBRARY_PATH=$build/lib${LD_LIBRARY_PATH:+:$LD_LIBRARY_PATH}
    export LSAN_OPTIONS=suppressions=$top/tests/lsan.supp:print_suppressions=0
fi

"$top/scripts/setup.sh" --tests
cmake -S "$top" -B "$build" "${options[@]}" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" --output-on-failure --timeout 600
