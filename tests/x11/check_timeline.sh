#!/usr/bin/env bash
# Drives the real program on a private X server to its timeline: COM1 is the
# driver's signal generator, the monitor's context menu opens the timeline
# (the right button, then the menu key), and the screenshots show the seven
# rows moving live, the cursor, and a window that can be resized.
#
#   check_timeline.sh PROGRAM SCREENSHOT_DIR DRIVER SENDCLOSE
#
# DRIVER is the driver library the program loads; without EDGES it has no
# generator, and the check is skipped. SENDCLOSE is the helper that asks a
# window to close (tests/x11/sendclose).
#
# Exit status: 0 all checks passed, 1 a check failed, 77 a tool is missing.
set -u

usage="usage: check_timeline.sh PROGRAM SCREENSHOT_DIR DRIVER SENDCLOSE"
program=${1:?$usage}
shots=${2:?$usage}
driver=${3:?$usage}
sendclose=${4?$usage}
port=${LINTARA_TIMELINE_PORT:-generator}

for tool in Xvfb xdotool xwininfo import convert compare nm; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: '$tool' is not installed (packages: xvfb xdotool x11-utils imagemagick binutils)"
        exit 77
    fi
done
if [ -z "$sendclose" ]; then
    echo "SKIP: the helper that closes windows was not built (package libxcb1-dev)"
    exit 77
fi
if [ "$port" = generator ] && ! nm -D --defined-only "$driver" 2>/dev/null | grep -qw EDGES; then
    echo "SKIP: the driver $driver has no EDGES, and so no generator port"
    exit 77
fi

# shellcheck source=../../scripts/xsession.sh
. "$(dirname "$0")/../../scripts/xsession.sh"
xsession_begin lintara-timeline

# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"

if ! xsession_start_x; then
    cat "$work/xvfb.log"
    abort "Xvfb started"
fi

export RSCOM_COM1=$port RSCOM_COM2=loopback RSCOM_COM3=none RSCOM_COM4=none RSCOM_COM5=none
"$program" >"$work/app.log" 2>&1 &
app_pid=$!

mkdir -p "$shots"

# --- to the monitor on COM1 -------------------------------------------------------

chooser=$(find_window "Vyber port") || abort 'the window "Vyber port" appears'
sleep 0.3
click "$chooser" 30 32
sleep 0.3
click "$chooser" 40 130
box=$(find_window "Lintara") || abort 'OK shows the message box "Lintara"'
sleep 0.2
xdotool windowfocus --sync "$box" 2>/dev/null
xdotool key Return 2>/dev/null
wait_gone "Lintara" || abort "Return closes the message box"
monitor=$(find_window "Lintara - COM1") || abort 'the monitor "Lintara - COM1" appears'
sleep 0.5
shot "$monitor" "$work/monitor.png"

# --- the context menu: the right button over a read-out ---------------------------------

title="Průběh signálů - COM1"
xdotool mousemove --window "$monitor" 30 100 click 3 2>/dev/null
sleep 0.5
xdotool key Down Return 2>/dev/null
timeline=$(find_window "$title") || abort "the right button's menu opens \"$title\""
check "the right button's menu opens \"$title\"" test -n "$timeline"
xdotool mousemove 1000 750 2>/dev/null
sleep 1.5
shot "$monitor" "$work/monitor-after.png"
check "the monitor looks as it did" test "$(size_of "$monitor")" = 208x160

size=$(size_of "$timeline")
check "the timeline opens at a sensible size ($size)" test "${size%x*}" -ge 600 -a "${size#*x}" -ge 250
shot "$timeline" "$work/timeline-1.png"
w=${size%x*}
h=${size#*x}
check "the timeline is black" test "$(count "$work/timeline-1.png" "8x8+$((w - 20))+6" exact:0,0,0)" -ge 40
check "the rows' names are orange" at_least "$work/timeline-1.png" "40x$((h - 80))+4+18" orange 60
check "the rows are drawn" at_least "$work/timeline-1.png" "$((w - 60))x$((h - 80))+48+18" white 300
sleep 1
shot "$timeline" "$work/timeline-2.png"
check "the live view moves" different_picture "$work/timeline-1.png" "$work/timeline-2.png"

# Hovering: the orange cursor line with the time and the levels, once the
# view has 10 s of the generator (the screenshot of the README).
sleep 4
xdotool mousemove --window "$timeline" $((w / 2)) $((h / 2)) 2>/dev/null
sleep 0.4
shot "$timeline" "$work/hover.png"
cp "$work/hover.png" "$shots/timeline.png"
check "hovering draws the cursor line" at_least "$work/hover.png" "3x$((h - 80))+$((w / 2 - 1))+18" orange 100
xdotool mousemove 1000 750 2>/dev/null

# Resizable, and closing it ends nothing.
xdotool windowsize "$timeline" 900 420 2>/dev/null
check "the timeline can be resized" becomes_size "$timeline" 900x420
"$sendclose" "$timeline"
check "the timeline closes" wait_gone "$title"
check "the program goes on" kill -0 "$app_pid"

# --- the menu key opens it again ------------------------------------------------------

xdotool windowfocus --sync "$monitor" 2>/dev/null
xdotool key Menu 2>/dev/null
sleep 0.5
xdotool key Down Return 2>/dev/null
timeline=$(find_window "$title") || timeline=
check "the menu key's menu opens it again" test -n "$timeline"

echo "screenshots: $shots"
finish
