#!/usr/bin/env bash
# The port numbering under wine, through COMSTATUS called from a Windows
# program (comstatus.exe of the cross build): which number each port gets,
# run after run, and that %LOCALAPPDATA%\rscom\ports is written.
#
# Wine makes a COM port for every value of HKLM\Software\Wine\Ports when it
# starts: the link in dosdevices, the DOS device and the SERIALCOMM entry
# (wine's SetupAPI lists no port, so the driver finds them through SERIALCOMM
# alone). The ports here lead to empty files this check makes; this
# machine's serial lines are out of wine's reach, as wine_tests.sh runs it in
# a /dev without them. Its own prefix, as the driver tests' has no COM port.
#
# usage: ports_check.sh CROSS_BUILD PREFIX
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

if [ "${LINTARA_NO_SERIAL_PORTS:-}" != 1 ]; then
    exec bash "$here/wine_tests.sh" --run "$2" bash "$0" "$@"
fi

build=$1
wine=${LINTARA_WINE:?}
wineserver=$(command -v wineserver || echo "$(dirname "$wine")/wineserver")
program=$build/bin/comstatus.exe
[ -f "$program" ] || {
    echo "FAILED: no $program: build the cross build first"
    exit 1
}
devices=$(mktemp -d)
key='HKLM\Software\Wine\Ports'

# Wine with the ports given ("COM7 COM12"), started anew.
ports() {
    "$wine" reg delete "$key" /f >/dev/null 2>&1 || true
    for name in "$@"; do
        : >"$devices/$name"
        "$wine" reg add "$key" /v "$name" /d "$devices/$name" /f >/dev/null
    done
    "$wineserver" -k
    "$wineserver" -w
    rm -f "$WINEPREFIX"/dosdevices/com*
    "$wineserver" -p
    "$wine" wineboot >/dev/null 2>&1
    # Every port wine made leads to a file of this check's.
    for link in "$WINEPREFIX"/dosdevices/com*; do
        [ -L "$link" ] || continue
        case $(readlink "$link") in
        "$devices"/*) ;;
        *)
            echo "FAILED: $link leads to $(readlink "$link"); not going on"
            exit 1
            ;;
        esac
    done
}

cleanup() {
    "$wine" reg delete "$key" /f >/dev/null 2>&1 || true
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w 2>/dev/null || true
    rm -f "$WINEPREFIX"/dosdevices/com*
    rm -rf "$devices"
}
trap cleanup EXIT

failures=0
# What COM1 to COM5 lead to, "COM7 COM12 - - -", against what they should.
expect() {
    local what=$1 wanted=$2 output got codes
    output=$("$wine" "$program" | tr -d '\r')
    got=$(awk -F'\t' '{ printf "%s%s", (NR > 1 ? " " : ""), ($3 == "" ? "-" : $3) }' <<<"$output")
    codes=$(awk -F'\t' '{ printf "%s%s", (NR > 1 ? " " : ""), $2 }' <<<"$output")
    if [ "$got" = "$wanted" ]; then
        echo "ok: $what: $got (COMSTATUS $codes)"
    else
        echo "FAILED: $what: COM1 to COM5 are $got, not $wanted"
        echo "$output"
        failures=$((failures + 1))
    fi
}

file=$(find "$WINEPREFIX/drive_c/users" -maxdepth 1 -mindepth 1 -type d ! -name Public -print -quit)
file=$(find "$file" -maxdepth 2 -type d -name Local -print -quit)/rscom/ports
rm -f "$file"

ports COM7 COM12
expect "COM7 and COM12 take the lowest numbers" "COM7 COM12 - - -"
[ -f "$file" ] || {
    echo "FAILED: no $file"
    failures=$((failures + 1))
}
expect "again" "COM7 COM12 - - -"
ports COM3 COM9 COM12
expect "COM7 out: its number kept; COM3 keeps its own" "- COM12 COM3 COM9 -"
ports COM3 COM7 COM9 COM12
expect "COM7 back, in a new session" "COM7 COM12 COM3 COM9 -"
echo "The numbers' file:"
grep -v '^#' "$file" || true
[ "$(grep -vc '^#' "$file")" = 3 ] || {
    echo "FAILED: $file does not hold COM7, COM9 and COM12"
    failures=$((failures + 1))
}
[ "$failures" = 0 ]
