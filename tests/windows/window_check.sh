#!/usr/bin/env bash
# Starts the Windows program under wine on a private X server and follows it
# from start to end, through its stand-in driver's log of calls:
#
#   window_check.sh FOLDER SCREENSHOT_DIR PREFIX SENDCLOSE
#
# FOLDER is the unpacked zip with the scriptable stand-in driver as its
# rscom.dll; PREFIX the wine prefix of the tests (wine_tests.sh, which hides
# this machine's serial ports and keeps the prefix free of COM links);
# SENDCLOSE the helper that asks a window to close (tests/x11/sendclose).
# The probe asks COMSTATUS of COM1 to COM5; marking COM1 opens it; OK shows
# the message box, then the monitor, which reads the lines every 100 ms;
# closing the monitor ends the program. Screenshots of the three windows go
# to SCREENSHOT_DIR.
#
# Exit status: 0 all checks passed, 1 a check failed, 77 a tool is missing.
set -u
usage="usage: window_check.sh FOLDER SCREENSHOT_DIR PREFIX SENDCLOSE"
folder=${1:?$usage} shots=${2:?$usage} prefix=${3:?$usage} sendclose=${4?$usage}
here=$(cd "$(dirname "$0")" && pwd)

if [ "${LINTARA_WINE_WINDOWS:-}" != 1 ]; then
    for tool in Xvfb xdotool xwininfo import; do
        command -v "$tool" >/dev/null 2>&1 ||
            { echo "SKIP: '$tool' is not installed (packages: xvfb xdotool x11-utils imagemagick)"; exit 77; }
    done
    [ -n "$sendclose" ] || { echo "SKIP: the helper that closes windows was not built (libxcb1-dev)"; exit 77; }
    # shellcheck source=../../scripts/xsession.sh
    . "$here/../../scripts/xsession.sh"
    xsession_begin lintara-wine
    xsession_start_x || { cat "$work/xvfb.log"; echo "FAIL: Xvfb did not start"; exit 1; }
    # Qt for Windows has its own platform.
    unset QT_QPA_PLATFORM QT_ENABLE_HIGHDPI_SCALING
    export LINTARA_WINE_WINDOWS=1 LINTARA_CHECK_WORK=$work
    bash "$here/wine_tests.sh" --run "$prefix" bash "$0" "$@"
    exit
fi

# --- inside wine's session ---------------------------------------------------
work=$LINTARA_CHECK_WORK
mkdir -p "$shots"
log=$work/calls.log
: >"$log"
# shellcheck source=../x11/checks.sh
. "$here/../x11/checks.sh"
# Gives up the run, with what the driver was asked and the screen as it was.
abort() {
    failed=$((failed + 1))
    echo "FAIL - $1"
    echo "--- the driver's calls:"
    cat "$log"
    import -window root "$shots/failure.png" 2>/dev/null
    kill "$app_pid" 2>/dev/null
    finish
}
# Wine draws the window's frame and title bar itself, inside the X window:
# the client area's offset from the frame's, for a client WxH ($2).
client_offset() {
    local size w h cw=${2%x*} ch=${2#*x}
    size=$(xwininfo -id "$1" | awk '/^ *Width:/ { w = $2 } /^ *Height:/ { h = $2 } END { print w, h }')
    w=${size% *} h=${size#* }
    echo "$(((w - cw) / 2)) $((h - ch - (w - cw) / 2))"
}
# Clicks at client coordinates of a window whose client offset is $4 $5.
click() {
    xdotool mousemove --window "$1" $(($2 + ${4:-0})) $(($3 + ${5:-0})) click 1 2>/dev/null
    sleep 0.2
    xdotool mousemove 1000 750 2>/dev/null
}
shot() {
    sleep 0.5
    import -window "$1" "$shots/$2" 2>/dev/null
}
calls() { sed 's/^[0-9]* //' "$log"; }

# The driver writes its calls to this file, as Windows names it. Qt draws
# text through GDI on Windows; wine's GDI leaves out some glyphs of the
# windows' bold font (the caption "RI" came out "R"), so under wine the
# program draws with Qt's own FreeType engine, which Qt offers on Windows.
(cd "$folder" && FAKE_DRIVER_LOG="Z:${log//\//\\}" "$LINTARA_WINE" ./Lintara.exe \
    -platform windows:fontengine=freetype >"$work/app.log" 2>&1) &
app_pid=$!

chooser=$(find_window "Vyber port" 20) || abort 'the chooser "Vyber port" appears'
check "the probe asks COMSTATUS of COM1 to COM5, in order" \
    test "$(calls | grep '^COMSTATUS' | head -n5 | tr '\n' ' ')" = \
    "COMSTATUS 1 COMSTATUS 2 COMSTATUS 3 COMSTATUS 4 COMSTATUS 5 "
shot "$chooser" chooser.png

read -r ox oy < <(client_offset "$chooser" 98x177)
click "$chooser" 30 32 "$ox" "$oy"
for _ in $(seq 30); do calls | grep -q '^OPENCOM' && break; sleep 0.1; done
check "marking COM1 opens it" test "$(calls | grep '^OPENCOM' | head -n1)" = "OPENCOM COM1,1200,N,8,1"
opened=$(calls | grep -c '^OPENCOM COM1')
click "$chooser" 40 130 "$ox" "$oy"
box=$(find_window "Lintara" 20) || abort 'OK shows the message box "Lintara"'
check "OK opens COM1 once more" test "$(calls | grep -c '^OPENCOM COM1')" -eq $((opened + 1))
check "the monitor is not shown before the box is answered" gone "Lintara - COM1"
shot "$box" messagebox.png
xdotool windowfocus --sync "$box" 2>/dev/null
xdotool key Return 2>/dev/null
monitor=$(find_window "Lintara - COM1" 20) || abort 'the monitor "Lintara - COM1" follows the box'
check "the box and the chooser are gone" bash -c "! xdotool search --onlyvisible --name '^(Lintara|Vyber port)\$' >/dev/null"
shot "$monitor" monitor.png

# Two seconds of polling: the reads of DCD, 100 ms apart.
sleep 2.5
ticks=$(awk '$2 == "DCD" { print $1 }' "$log" | tail -n 21)
gaps=$(echo "$ticks" | awk 'NR > 1 { d = $1 - last; s += d; if (d < 80 || d > 130) bad++ }
    { last = $1 } END { if (NR > 1) printf "%.1f %d\n", s / (NR - 1), bad + 0 }')
echo "     mean gap between reads ${gaps% *} ms, ${gaps#* } outside 80..130 ms"
check "the monitor polls every 100 ms" awk -v m="${gaps% *}" -v b="${gaps#* }" \
    'BEGIN { exit !(m >= 95 && m <= 105 && b <= 2) }'

"$sendclose" "$monitor"
for _ in $(seq 100); do kill -0 "$app_pid" 2>/dev/null || break; sleep 0.1; done
check "closing the monitor ends the program" bash -c "! kill -0 $app_pid 2>/dev/null"
kill "$app_pid" 2>/dev/null
finish
