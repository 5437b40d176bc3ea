#!/usr/bin/env bash
# The port numbering under wine, through COMSTATUS called from a Windows
# program (comstatus.exe): which number each port gets, run after run, and
# that %LOCALAPPDATA%\rscom\ports is written. At its start wine makes a COM
# port (dosdevices link, DOS device, SERIALCOMM entry) for every value of
# HKLM\Software\Wine\Ports; here they lead to empty files of this check's,
# and wine runs through wine_tests.sh, in a /dev without this machine's
# serial lines. Wine's SetupAPI lists no port: the driver finds these
# through SERIALCOMM alone.
#
# usage: ports_check.sh CROSS_BUILD PREFIX   (a prefix of its own)
set -euo pipefail
if [ "${LINTARA_NO_SERIAL_PORTS:-}" != 1 ]; then
    exec bash "$(dirname "$0")/wine_tests.sh" --run "$2" bash "$0" "$@"
fi
wine=${LINTARA_WINE:?} program=$1/bin/comstatus.exe
wineserver=$(command -v wineserver || echo "$(dirname "$wine")/wineserver")
devices=$(mktemp -d) key='HKLM\Software\Wine\Ports' failures=0

# Wine started anew with the ports given, each leading to a file of ours.
ports() {
    "$wine" reg delete "$key" /f >/dev/null 2>&1 || true
    for name in "$@"; do
        : >"$devices/$name"
        "$wine" reg add "$key" /v "$name" /d "$devices/$name" /f >/dev/null
    done
    "$wineserver" -k && "$wineserver" -w
    rm -f "$WINEPREFIX"/dosdevices/com*
    "$wineserver" -p && "$wine" wineboot >/dev/null 2>&1
    for link in "$WINEPREFIX"/dosdevices/com*; do
        [ ! -L "$link" ] || [[ $(readlink "$link") == "$devices"/* ]] || {
            echo "FAILED: $link leads to $(readlink "$link"); not going on"
            exit 1
        }
    done
}
cleanup() {
    "$wine" reg delete "$key" /f >/dev/null 2>&1 || true
    "$wineserver" -k 2>/dev/null || true
    "$wineserver" -w 2>/dev/null || true
    rm -rf "$WINEPREFIX"/dosdevices/com* "$devices"
}
trap cleanup EXIT

# What COM1 to COM5 lead to ("COM7 COM12 - - -"), against what they should.
expect() {
    local output got
    output=$("$wine" "$program" | tr -d '\r')
    got=$(awk -F'\t' '{ printf "%s%s", (NR > 1 ? " " : ""), ($3 == "" ? "-" : $3) }' <<<"$output")
    if [ "$got" = "$2" ]; then
        echo "ok: $1: $got (COMSTATUS $(cut -f2 <<<"$output" | tr '\n' ' '))"
    else
        echo "FAILED: $1: COM1 to COM5 are $got, not $2"
        failures=$((failures + 1))
    fi
}

file=$(find "$WINEPREFIX/drive_c/users" -path '*/AppData/Local' ! -path '*/Public/*' -print -quit)
file=$file/rscom/ports
rm -f "$file"
ports COM7 COM12
expect "COM7 and COM12 take the lowest numbers" "COM7 COM12 - - -"
expect "again" "COM7 COM12 - - -"
ports COM3 COM9 COM12
expect "COM7 out: its number kept; COM3 keeps its own" "- COM12 COM3 COM9 -"
ports COM3 COM7 COM9 COM12
expect "COM7 back, in a new session" "COM7 COM12 COM3 COM9 -"
echo "The numbers' file, $file:"
cat "$file" || failures=$((failures + 1))
[ "$(grep -vc '^#' "$file")" = 3 ] || failures=$((failures + 1))
[ "$failures" = 0 ]
