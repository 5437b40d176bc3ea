#!/usr/bin/env bash
# Installs what is missing, builds Lintara and starts it on virtual ports:
# COM1 has a test plug, COM2 is the signal generator, COM3 and COM4 are the
# two ends of a null-modem cable, COM5 is absent. Set RSCOM_COM1 ...
# RSCOM_COM5 beforehand to choose otherwise (a device path, loopback,
# generator, nullmodem, none). Without a graphical session it runs the program
# on a virtual X server (Xvfb) of its own, and says which display that is and
# how to stop the program.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${LINTARA_BUILD:-$top/build-run}

"$top/scripts/setup.sh"

virtual=false
[ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ] || [ -n "${QT_QPA_PLATFORM:-}" ] || virtual=true
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
$virtual || exec "$build/bin/lintara"

# shellcheck source=xsession.sh
. "$top/scripts/xsession.sh"
xsession_begin lintara-run
xsession_start_x || { cat "$work/xvfb.log" >&2; echo "run.sh: Xvfb did not start" >&2; exit 1; }
"$build/bin/lintara" &
app_pid=$!
echo "No graphical session: Lintara (PID $app_pid) runs on the virtual X server $DISPLAY" \
    "(Xvfb), where nothing is shown; run this in a desktop session to see it." \
    "Ctrl+C or kill $app_pid ends it." >&2
status=0
wait "$app_pid" || status=$?
app_pid=
exit $status
