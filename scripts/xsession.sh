# Sourced by the scripts that run the program on a private X server: the
# real-window check and the benchmark.
#
#   xsession_begin NAME   makes the folder $work, and ends the program
#                         ($app_pid) and the X server on every way out
#   xsession_start_x      starts Xvfb on a free display, sets DISPLAY and
#                         the Qt environment; 1 when the server did not start
#                         (its log is $work/xvfb.log)

xsession_begin() {
    work=$(mktemp -d "${TMPDIR:-/tmp}/$1.XXXXXX")
    xvfb_pid=
    app_pid=
    trap xsession_end EXIT
    trap 'exit 1' INT TERM HUP
}

xsession_end() {
    if [ -n "$app_pid" ]; then
        kill "$app_pid" 2>/dev/null
        wait "$app_pid" 2>/dev/null
    fi
    if [ -n "$xvfb_pid" ]; then
        kill "$xvfb_pid" 2>/dev/null
        wait "$xvfb_pid" 2>/dev/null
    fi
    rm -rf "$work"
}

xsession_start_x() {
    # Xvfb picks a free display itself and writes its number once it accepts
    # clients. Its root is white, so a window not yet painted is not black.
    Xvfb -displayfd 3 -wr -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
    xvfb_pid=$!
    for _ in $(seq 100); do
        [ -s "$work/display" ] && break
        kill -0 "$xvfb_pid" 2>/dev/null || break
        sleep 0.1
    done
    [ -s "$work/display" ] || return 1
    DISPLAY=":$(head -n1 "$work/display")"
    export DISPLAY
    export QT_QPA_PLATFORM=xcb QT_ENABLE_HIGHDPI_SCALING=0
    unset QT_SCALE_FACTOR QT_SCREEN_SCALE_FACTORS WAYLAND_DISPLAY
    mkdir -m 700 "$work/runtime"
    export XDG_RUNTIME_DIR="$work/runtime"
}
