#!/usr/bin/env bash
# Installs what is missing, builds Lintara and starts it on virtual ports:
# COM1 has a test plug, COM2 is the signal generator, COM3 and COM4 are the
# two ends of a null-modem cable, COM5 is absent. Set RSCOM_COM1 ...
# RSCOM_COM5 beforehand to choose otherwise (a device path, loopback,
# generator, nullmodem, none). Without a graphical session it runs the program
# on a virtual X server (Xvfb) of its own.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${LINTARA_BUILD:-$top/build-run}

"$top/scripts/setup.sh"

launch=()
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "No graphical session: Lintara runs on a virtual X server (xvfb-run), where nothing" \
        "is shown; run this in a desktop session to see it." >&2
    launch=(xvfb-run -a)
fi
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target lintara rscom -j"$(nproc)"

export RSCOM_COM1=${RSCOM_COM1:-loopback}
# COM2 is the generator, whose inputs move by themselves: live lines with no
# hardware.
export RSCOM_COM2=${RSCOM_COM2:-generator}
# COM3 and COM4 are joined by a null-modem cable: the wiring test finds it.
export RSCOM_COM3=${RSCOM_COM3:-nullmodem}
export RSCOM_COM4=${RSCOM_COM4:-nullmodem}
export RSCOM_COM5=${RSCOM_COM5:-none}
exec "${launch[@]}" "$build/bin/lintara"
