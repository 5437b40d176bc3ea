#!/usr/bin/env bash
# Runs one test program of the Windows cross build under wine: the cross
# build's CTest runs each test through this. It refuses unless wine_tests.sh
# has hidden this machine's serial ports, so that no test can reach them:
# a wine prefix of its own, with no COM port in it, in a /dev without
# serial lines.
set -euo pipefail

refuse() {
    echo "wine_run.sh: $*; run the Windows tests with tests/windows/wine_tests.sh" \
        "(ctest -L windows in the native build)" >&2
    exit 1
}

[ "${LINTARA_NO_SERIAL_PORTS:-}" = 1 ] || refuse "this machine's serial ports are not hidden"
[ -d "${WINEPREFIX:-}/dosdevices" ] || refuse "no wine prefix of the tests'"
for node in /dev/ttyS* /dev/ttyUSB* /dev/ttyACM* /dev/ttyAMA* "$WINEPREFIX"/dosdevices/com*; do
    if [ -e "$node" ] || [ -L "$node" ]; then refuse "$node is within wine's reach"; fi
done
# Folders of the build machine (a:b) where the program finds DLLs, as wine's
# PATH: Z:a;Z:b.
if [ -n "${LINTARA_WINE_PATH:-}" ]; then
    export WINEPATH="Z:${LINTARA_WINE_PATH//:/;Z:}"
fi
exec "${LINTARA_WINE:?}" "$@"
