#!/usr/bin/env bash
# Builds Lintara and starts it on virtual ports: COM1 and COM2 are virtual
# ports with a test plug, COM3 to COM5 are absent. Set RSCOM_COM1 ...
# RSCOM_COM5 beforehand to choose otherwise (a device path, loopback, none).
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${LINTARA_BUILD:-$top/build-run}

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "Lintara needs a graphical session; without one, run it under Xvfb (package xvfb): xvfb-run -a $0" >&2
    exit 1
fi

"$top/scripts/setup.sh"
cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" --target lintara rscom -j"$(nproc)"

export RSCOM_COM1=${RSCOM_COM1:-loopback}
# COM2 is the generator, whose inputs move by themselves: live lines with no
# hardware.
export RSCOM_COM2=${RSCOM_COM2:-generator}
export RSCOM_COM3=${RSCOM_COM3:-none}
export RSCOM_COM4=${RSCOM_COM4:-none}
export RSCOM_COM5=${RSCOM_COM5:-none}
exec "$build/bin/lintara"
