# Sourced by the real-window checks after scripts/xsession.sh: counting
# checks, finding and measuring windows, and reading their pixels.
#
#   check WHAT CMD...     runs CMD; counts and prints "ok" or "FAIL - WHAT"
#   abort WHAT            gives up the run: later checks need what WHAT was
#   finish                prints "N passed, N failed" and exits with it
#
# The program's output ($work/app.log) is shown when a check failed. The
# window helpers wait for a window of $app_pid's.

passed=0
failed=0

check() {
    local what=$1
    shift
    if "$@"; then
        passed=$((passed + 1))
        echo "ok   - $what"
    else
        failed=$((failed + 1))
        echo "FAIL - $what"
    fi
}

finish() {
    if [ "$failed" -gt 0 ] && [ -s "$work/app.log" ]; then
        echo "--- program output:"
        cat "$work/app.log"
    fi
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
    exit
}

abort() {
    failed=$((failed + 1))
    echo "FAIL - $1"
    finish
}

# --- windows ------------------------------------------------------------------

# Prints the id of the visible window whose title is exactly $1; waits up to
# $2 seconds (default 10).
find_window() {
    local title=$1 tries=$((${2:-10} * 10)) id
    for _ in $(seq "$tries"); do
        id=$(xdotool search --onlyvisible --name "^${title}\$" 2>/dev/null | head -n1)
        if [ -n "$id" ]; then
            echo "$id"
            return 0
        fi
        kill -0 "$app_pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

gone() {
    ! xdotool search --onlyvisible --name "^$1\$" >/dev/null 2>&1
}

# Waits up to 3 s for the window titled $1 to go.
wait_gone() {
    for _ in $(seq 30); do
        gone "$1" && return 0
        sleep 0.1
    done
    return 1
}

size_of() {
    xwininfo -id "$1" | awk '/^ *Width:/ { w = $2 } /^ *Height:/ { h = $2 } END { print w "x" h }'
}

is_size() {
    local actual
    actual=$(size_of "$1")
    [ "$actual" = "$2" ] || {
        echo "     window is $actual, expected $2"
        false
    }
}

# Waits up to 3 s for the window to take the size.
becomes_size() {
    for _ in $(seq 30); do
        [ "$(size_of "$1")" = "$2" ] && return 0
        sleep 0.1
    done
    is_size "$1" "$2"
}

shot() {
    import -window "$1" "$2" 2>>"$work/import.log"
}

# Clicks at window coordinates, then moves the pointer away so that no tooltip
# or hover highlight lands in a later screenshot.
click() {
    xdotool mousemove --window "$1" "$2" "$3" click 1 2>/dev/null
    sleep 0.1
    xdotool mousemove 1000 750 2>/dev/null
}

# --- pixels -------------------------------------------------------------------

# Counts the pixels of a region (WxH+X+Y) of one kind:
#   exact:R,G,B  that colour exactly
#   orange       the orange (255,128,0) drawn over black at any coverage
#                (anti-aliased text): no blue, green half the red
#   white        bright and uncoloured
#   grey         a grey, neither black nor coloured
#   dark         nearly black
count() {
    convert "$1" -crop "$2" +repage -depth 8 txt:- | awk -v kind="$3" '
        /^#/ { next }
        {
            s = $0
            sub(/^[^(]*\(/, "", s)
            sub(/\).*/, "", s)
            split(s, c, ",")
            r = c[1] + 0; g = c[2] + 0; b = c[3] + 0
            if (kind ~ /^exact:/) {
                if (r "," g "," b == substr(kind, 7)) n++
            } else if (kind == "orange") {
                if (r >= 100 && b <= 8 && 2 * g - r <= 6 && r - 2 * g <= 6) n++
            } else if (kind == "white") {
                if (r >= 200 && g >= 200 && b >= 200) n++
            } else if (kind == "dark") {
                if (r <= 60 && g <= 60 && b <= 60) n++
            } else if (kind == "grey") {
                d1 = r - g; d2 = g - b
                if (r >= 40 && d1 <= 6 && d1 >= -6 && d2 <= 6 && d2 >= -6) n++
            }
        }
        END { print n + 0 }'
}

at_least() {
    local n
    n=$(count "$1" "$2" "$3")
    [ "$n" -ge "$4" ] || {
        echo "     $n pixels of kind $3 in $2 of $(basename "$1"), expected at least $4"
        false
    }
}

at_most() {
    local n
    n=$(count "$1" "$2" "$3")
    [ "$n" -le "$4" ] || {
        echo "     $n pixels of kind $3 in $2 of $(basename "$1"), expected at most $4"
        false
    }
}

# Number of differing pixels of two equally sized pictures.
differ() {
    compare -metric AE "$1" "$2" null: 2>&1 | sed 's/[^0-9].*//'
}

same_picture() {
    [ "$(differ "$1" "$2")" = 0 ]
}

different_picture() {
    local n
    n=$(differ "$1" "$2")
    [ -n "$n" ] && [ "$n" -gt 0 ]
}
