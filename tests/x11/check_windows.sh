#!/usr/bin/env bash
# Drives the real program on a private X server and checks what its three
# windows show: sizes, colours, the port options the probe disabled, the live
# line read-outs and the blinking indicator, and the dialog's two faces.
#
#   check_windows.sh PROGRAM SCREENSHOT_DIR SENDCLOSE
#
# SENDCLOSE is the helper that asks a window to close (tests/x11/sendclose);
# empty when it could not be built.
#
# Exit status: 0 all checks passed, 1 a check failed, 77 a tool is missing.
set -u

usage="usage: check_windows.sh PROGRAM SCREENSHOT_DIR SENDCLOSE"
program=${1:?$usage}
shots=${2:?$usage}
sendclose=${3?$usage}

for tool in Xvfb xdotool xwininfo xprop import convert compare; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "SKIP: '$tool' is not installed (packages: xvfb xdotool x11-utils imagemagick)"
        exit 77
    fi
done
if [ -z "$sendclose" ]; then
    echo "SKIP: the helper that closes windows was not built (package libxcb1-dev)"
    exit 77
fi
if [ ! -x "$program" ]; then
    echo "FAIL: the program '$program' is not built"
    exit 1
fi

# shellcheck source=../../scripts/xsession.sh
. "$(dirname "$0")/../../scripts/xsession.sh"
xsession_begin lintara-x11

# shellcheck source=checks.sh
. "$(dirname "$0")/checks.sh"

# --- the X server -----------------------------------------------------------

if ! xsession_start_x; then
    cat "$work/xvfb.log"
    abort "Xvfb started"
fi

# --- the program ------------------------------------------------------------

# COM5 is a device that is no serial line: its option says so.
export RSCOM_COM1=loopback RSCOM_COM2=loopback RSCOM_COM3=none RSCOM_COM4=loopback RSCOM_COM5=/dev/null

"$program" >"$work/app.log" 2>&1 &
app_pid=$!

# --- helpers ----------------------------------------------------------------

# Presses Return in the window. Through the keyboard itself (XTEST), not a sent
# event: a sent key press whose window goes away before the release leaves
# the key held down, auto-repeating for the rest of the run.
press_return() {
    xdotool windowfocus --sync "$1" 2>/dev/null
    xdotool key Return 2>/dev/null
}

# The program's icon, 32x32, as the window offers it to a window manager.
has_icon() {
    xprop -id "$1" _NET_WM_ICON 2>/dev/null | grep -q 'Icon (32 x 32)'
}

# "r,g,b" of one pixel.
pixel() {
    convert "$1" -crop "1x1+$2+$3" +repage -depth 8 txt:- |
        sed -n 's/^[0-9]*,[0-9]*: *(\([0-9]*\),\([0-9]*\),\([0-9]*\).*/\1,\2,\3/p'
}

is_pixel() {
    local actual
    actual=$(pixel "$1" "$2" "$3")
    [ "$actual" = "$4" ] || {
        echo "     pixel $2,$3 of $(basename "$1") is ($actual), expected ($4)"
        false
    }
}

crop() {
    convert "$1" -crop "$2" +repage "$3"
}

# Option n of a port frame whose top left corner is at $2,$3: the text part
# of the option, right of its round mark.
option_text() {
    echo "40x17+$(($2 + 26))+$(($3 + 16 * $1))"
}

# Read-out of the input line frame at x (DCD 8, DSR 56, CTS 104, RI 152).
readout() {
    echo "24x24+$(($1 + 4))+92"
}

mkdir -p "$shots"

# --- a) the port chooser ----------------------------------------------------

chooser=$(find_window "Vyber port") || abort 'the window "Vyber port" appears'
sleep 0.3
shot "$chooser" "$work/chooser.png"
cp "$work/chooser.png" "$shots/chooser.png"

check "chooser is 98x177" is_size "$chooser" 98x177
check "chooser has the program's icon" has_icon "$chooser"
check "chooser background is black" is_pixel "$work/chooser.png" 94 100 0,0,0
check "chooser background is black below its frame" is_pixel "$work/chooser.png" 4 116 0,0,0
check "frame caption \"Port\" is orange" at_least "$work/chooser.png" 40x16+8+0 orange 20
for n in 1 2 4; do
    check "COM $n is enabled (orange text)" at_least "$work/chooser.png" "$(option_text $n 8 8)" orange 30
done
for n in 3 5; do
    check "COM $n is disabled (no orange)" at_most "$work/chooser.png" "$(option_text $n 8 8)" orange 0
    check "COM $n is disabled (grey text)" at_least "$work/chooser.png" "$(option_text $n 8 8)" grey 30
done

# The visible window of the program's that is none of the ones given: a
# tooltip is one of its own, with no title xdotool can find; waits up to 5 s.
other_window() {
    local id
    for _ in $(seq 50); do
        for id in $(xdotool search --onlyvisible --class '^lintara$' 2>/dev/null); do
            case " $* " in *" $id "*) ;; *)
                echo "$id"
                return 0
                ;;
            esac
        done
        sleep 0.1
    done
    return 1
}

# The tooltip of the disabled COM 5 says what the port is and why it cannot be
# used.
xdotool mousemove --window "$chooser" 30 96 2>/dev/null
tip=$(other_window "$chooser") || tip=
check "hovering over the disabled COM 5 shows its tooltip" test -n "$tip"
if [ -n "$tip" ]; then
    sleep 0.2
    shot root "$work/root.png"
    crop "$work/root.png" 270x180+0+0 "$shots/chooser-tooltip.png"
    geometry=$(xwininfo -id "$tip" | awk '/Absolute upper-left X/ { x = $4 } /Absolute upper-left Y/ { y = $4 }
        /^ *Width:/ { w = $2 } /^ *Height:/ { h = $2 } END { print w "x" h "+" x "+" y }')
    # Two lines of dark text on the tooltip's light ground.
    height=${geometry#*x}
    height=${height%%+*}
    check "the tooltip is two lines high ($geometry)" test "$height" -ge 28
    check "the tooltip's text is drawn" at_least "$work/root.png" "$geometry" dark 150
fi
xdotool mousemove 1000 750 2>/dev/null
for _ in $(seq 30); do
    [ -z "$tip" ] || ! xwininfo -id "$tip" 2>/dev/null | grep -q IsViewable && break
    sleep 0.1
done

# --- b) choosing COM1, the message box, the monitor ---------------------------

click "$chooser" 30 32
sleep 0.3
click "$chooser" 40 130
box=$(find_window "Lintara") || abort 'OK shows the message box "Lintara"'
sleep 0.2
check "message box is small" test "$(size_of "$box" | cut -dx -f1)" -lt 400
press_return "$box"
for _ in $(seq 30); do
    gone "Lintara" && break
    sleep 0.1
done
check "Return closes the message box" gone "Lintara"
check "OK closes the chooser" gone "Vyber port"

monitor=$(find_window "Lintara - COM1") || abort 'the monitor "Lintara - COM1" appears'
sleep 0.3
check "monitor is 208x160" is_size "$monitor" 208x160
check "monitor has the program's icon" has_icon "$monitor"

# The indicator bar is px 8,69 193x9: its border stays, its fill alternates
# with every tick.
watch_indicator() {
    local seen="" colour
    for i in $(seq 20); do
        shot "$monitor" "$work/tick-$i.png"
        colour=$(pixel "$work/tick-$i.png" 100 73)
        case " $seen " in *" $colour "*) ;; *) seen="$seen $colour" ;; esac
        case "$seen" in *"64,0,0"*"192,64,0"* | *"192,64,0"*"64,0,0"*) break ;; esac
        sleep 0.05
    done
    echo "$seen"
}
fills=$(watch_indicator)
check "indicator fill alternates (64,0,0) and (192,64,0) (seen:$fills)" \
    test "$(echo "$fills" | tr ' ' '\n' | grep -c -x -e '64,0,0' -e '192,64,0')" = 2
check "indicator shows no other fill (seen:$fills)" test "$(echo "$fills" | wc -w)" = 2
check "indicator border is (128,64,0)" is_pixel "$work/tick-1.png" 8 73 128,64,0
check "monitor background is black" is_pixel "$work/tick-1.png" 204 100 0,0,0
shot "$monitor" "$work/monitor-before.png"
check "frame caption \"TxD\" is orange" at_least "$work/monitor-before.png" 30x14+8+0 orange 20

# --- c) DTR drives DSR and DCD through the test plug --------------------------

for line in dcd:8 dsr:56 cts:104 ri:152; do
    crop "$work/monitor-before.png" "$(readout "${line#*:}")" "$work/before-${line%%:*}.png"
done
crop "$work/monitor-before.png" 49x33+80+24 "$work/before-check2.png"
check "all read-outs start alike (\"0\")" same_picture "$work/before-dsr.png" "$work/before-cts.png"

# Waits up to 3 s for the read-outs to show DTR's level: the lines are read
# once a tick.
dtr_follows() {
    local want=$1
    for i in $(seq 30); do
        shot "$monitor" "$work/monitor-now.png"
        for line in dcd:8 dsr:56 cts:104 ri:152; do
            crop "$work/monitor-now.png" "$(readout "${line#*:}")" "$work/now-${line%%:*}.png"
        done
        if [ "$want" = 1 ]; then
            different_picture "$work/now-dsr.png" "$work/before-dsr.png" &&
                different_picture "$work/now-dcd.png" "$work/before-dcd.png" && return 0
        else
            same_picture "$work/now-dsr.png" "$work/before-dsr.png" &&
                same_picture "$work/now-dcd.png" "$work/before-dcd.png" && return 0
        fi
        sleep 0.1
    done
    return 1
}

click "$monitor" 104 40
check "DTR on: DSR and DCD read-outs change" dtr_follows 1
cp "$work/monitor-now.png" "$shots/monitor.png"
check "DTR on: DSR and DCD show the same digit" same_picture "$work/now-dsr.png" "$work/now-dcd.png"
check "DTR on: CTS still shows \"0\"" same_picture "$work/now-cts.png" "$work/before-cts.png"
check "DTR on: RI still shows \"0\"" same_picture "$work/now-ri.png" "$work/before-ri.png"
check "DTR on: DSR differs from CTS" different_picture "$work/now-dsr.png" "$work/now-cts.png"
crop "$work/monitor-now.png" 49x33+80+24 "$work/now-check2.png"
check "DTR on: the DTR toggle's caption changed" \
    different_picture "$work/now-check2.png" "$work/before-check2.png"

click "$monitor" 104 40
check "DTR off: DSR and DCD show \"0\" again" dtr_follows 0

# --- d) the about and settings dialog -----------------------------------------

click "$monitor" 104 140
dialog=$(find_window "O programu Lintara") || abort 'the dialog "O programu Lintara" appears'
sleep 0.3
shot "$dialog" "$work/dialog.png"
cp "$work/dialog.png" "$shots/dialog.png"
check "dialog is 263x189 collapsed" is_size "$dialog" 263x189
check "dialog has the program's icon" has_icon "$dialog"
check "dialog logo has orange (255,128,0) lines" at_least "$work/dialog.png" 263x120+0+0 exact:255,128,0 200
check "dialog logo has dark orange (192,64,0) lines" at_least "$work/dialog.png" 263x160+0+0 exact:192,64,0 50
check "dialog background is black" is_pixel "$work/dialog.png" 2 2 0,0,0
check "\"Nastavení >>\" is white text" at_least "$work/dialog.png" 82x16+8+168 exact:255,255,255 20

click "$dialog" 30 175
check "\"Nastavení >>\" expands the dialog to 263x313" becomes_size "$dialog" 263x313
sleep 0.3
shot "$dialog" "$work/dialog-expanded.png"
cp "$work/dialog-expanded.png" "$shots/dialog-expanded.png"
check "expanded dialog has the white rule" at_least "$work/dialog-expanded.png" 240x3+10+191 exact:255,255,255 200
for n in 1 2 4; do
    check "dialog: COM $n is enabled" at_least "$work/dialog-expanded.png" "$(option_text $n 8 200)" orange 30
done
for n in 3 5; do
    check "dialog: COM $n is disabled" at_most "$work/dialog-expanded.png" "$(option_text $n 8 200)" orange 0
done
check "dialog shows the port report" at_least "$work/dialog-expanded.png" 153x40+96+208 grey 40

# Without a window manager a close request is the WM_DELETE_WINDOW message a
# manager would send.
send_close() {
    "$sendclose" "$1"
}

running() {
    local state
    state=$(awk '{ print $3 }' "/proc/$app_pid/stat" 2>/dev/null)
    [ -n "$state" ] && [ "$state" != Z ]
}

check "the dialog is asked to close" send_close "$dialog"
check "closing the dialog removes it" wait_gone "O programu Lintara"
sleep 0.2
fills=$(watch_indicator)
check "monitor still polls after the dialog (seen:$fills)" \
    test "$(echo "$fills" | tr ' ' '\n' | grep -c -x -e '64,0,0' -e '192,64,0')" = 2

check "the monitor is asked to close" send_close "$monitor"
for _ in $(seq 50); do
    running || break
    sleep 0.1
done
check "closing the monitor ends the program" eval '! running'
if ! running; then
    wait "$app_pid"
    status=$?
    app_pid=
    check "the program ends with status 0" test "$status" = 0
fi

if [ "$failed" -gt 0 ] && [ -s "$work/app.log" ]; then
    echo "--- program output:"
    cat "$work/app.log"
fi
echo "screenshots: $shots"
finish
