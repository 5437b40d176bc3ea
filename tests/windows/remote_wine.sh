#!/usr/bin/env bash
# A port on another machine from the Windows driver under wine: starts
# pyserial's RFC 2217 server (tests/driver/rfc2217_server.py, on 127.0.0.1)
# on this machine, runs the cross build's test_remote.exe against it in the
# tests' wine session (wine_tests.sh), ends the server by its PID, and checks
# what the server was sent after it dropped the connection: the settings and
# the outputs as last set, with no change between. Exit status 77 (skipped)
# with the reason when something it needs is missing.
#
# usage: remote_wine.sh CROSS_BUILD PREFIX
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$1 prefix=$2

skip() {
    echo "SKIP: $*"
    exit 77
}

[ -f "$build/bin/test_remote.exe" ] ||
    skip "no $build/bin/test_remote.exe: the driver_windows_x86_64 test builds it"
/usr/bin/python3 -c 'import serial.rfc2217' 2>/dev/null ||
    skip "no pyserial for /usr/bin/python3: install python3-serial"

log=$(mktemp)
/usr/bin/python3 "$here/../driver/rfc2217_server.py" pyserial-break >"$log" &
server=$!
trap 'kill $server 2>/dev/null || true; wait $server 2>/dev/null || true; rm -f "$log"' EXIT
for _ in $(seq 50); do
    grep -q '^port ' "$log" && break
    sleep 0.1
done
port=$(awk '/^port /{print $2}' "$log")
[ -n "$port" ] || {
    echo "FAILED: the server did not start"
    cat "$log"
    exit 1
}

export RSCOM_DEBUG=${RSCOM_DEBUG:-} RSCOM_TEST_RFC2217=rfc2217://127.0.0.1:$port
status=0
timeout 300 bash "$here/wine_tests.sh" --run "$prefix" \
    bash "$here/wine_run.sh" "$build/bin/test_remote.exe" --gtest_filter='RemoteServer.*' ||
    status=$?
kill $server
wait $server 2>/dev/null || true
[ $status -eq 0 ] || exit $status

after=$(sed -n '/^dropped$/,$p' "$log" | tail -n +2 | tr '\n' ' ')
if [ "$after" != "control 1 control 5 control 8 control 12 " ]; then
    echo "FAILED: after the lost connection the server was sent: $after"
    echo "(expected the settings' no flow control, then break on, DTR on, RTS off)"
    exit 1
fi
echo "the server was sent, after the lost connection: $after"
