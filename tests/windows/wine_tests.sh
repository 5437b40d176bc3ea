#!/usr/bin/env bash
# Runs the tests of a Windows (x86_64) cross build under wine64, where they
# cannot reach this machine's serial ports: in a mount namespace of their own
# whose /dev has no serial line (so wine finds no COM port to map), with a
# wine prefix of their own, made once and kept, whose dosdevices hold no com
# link. Exit status 77 (skipped) with the reason when that cannot be had.
#
# usage: wine_tests.sh CROSS_BUILD PREFIX [CTEST_ARGUMENT...]
#        wine_tests.sh --run PREFIX COMMAND [ARGUMENT...]
#        wine_tests.sh --check
# The second form runs COMMAND in that same session instead of the tests,
# with wine as $LINTARA_WINE; it keeps DISPLAY (the tests run without one).
# The third only tells whether the tests can run here: exit status 0, or 77
# with the reason.
set -euo pipefail
run=false check=false
if [ "$1" = --check ]; then
    check=true
elif [ "$1" = --run ]; then
    run=true
    shift
    prefix=$1
    shift
else
    build=$1 prefix=$2
    shift 2
fi

if $check; then
    arguments=()
elif $run; then arguments=(--run "$prefix" "$@"); else arguments=("$build" "$prefix" "$@"); fi

skip() {
    echo "SKIP: $*"
    exit 77
}

wine=$(command -v wine64 || true)
[ -n "$wine" ] || [ ! -x /usr/lib/wine/wine64 ] || wine=/usr/lib/wine/wine64
[ -n "$wine" ] || skip "no wine64 to run the Windows tests with: install wine64"
wineserver=$(command -v wineserver || true)
[ -n "$wineserver" ] || [ ! -x "$(dirname "$wine")/wineserver" ] || wineserver=$(dirname "$wine")/wineserver
[ -n "$wineserver" ] || skip "no wineserver beside $wine"

# How the tests get a mount namespace of their own: "root" or "user", or
# why they cannot.
namespace() {
    local error
    if [ "$(id -u)" -eq 0 ]; then
        error=$(unshare --mount true 2>&1) && { echo root; return; }
    fi
    unshare --user --map-root-user --mount true 2>/dev/null && { echo user; return; }
    # unshare makes every mount private from / down, and / must be a mount
    # point for that: in a chroot it seldom is.
    if ! mountpoint -q /; then
        echo "cannot hide this machine's serial ports from wine: / is not a mount point here" \
            "(a chroot?), so unshare --mount cannot make the tests' mounts private;" \
            "bind-mount the chroot's folder onto itself before entering it"
    elif [ "$(id -u)" -eq 0 ]; then
        echo "cannot hide this machine's serial ports from wine: unshare --mount failed: $error"
    else
        echo "cannot hide this machine's serial ports from wine: not root, and user" \
            "namespaces are not allowed here"
    fi
    return 1
}

# Only inside the namespace made below: a /dev of its own, with only what
# wine needs and no serial line.
hide_serial_ports() {
    local keep
    keep=$(mktemp -d)
    mount --bind /dev "$keep"
    mount -t tmpfs -o mode=0755,nosuid tmpfs /dev
    for node in null zero full random urandom tty ptmx; do
        [ -e "$keep/$node" ] || continue
        : >"/dev/$node"
        mount --bind "$keep/$node" "/dev/$node"
    done
    for folder in pts shm mqueue; do
        [ -d "$keep/$folder" ] || continue
        mkdir "/dev/$folder"
        mount --bind "$keep/$folder" "/dev/$folder"
    done
    ln -s /proc/self/fd /dev/fd
    ln -s fd/0 /dev/stdin
    ln -s fd/1 /dev/stdout
    ln -s fd/2 /dev/stderr
    umount -l "$keep"
    rmdir "$keep"
    local left
    left=$(find /dev -maxdepth 1 -name 'tty?*' -print -quit)
    [ -z "$left" ] || {
        echo "FAILED: $left is still in the tests' /dev"
        exit 1
    }
}

if [ "${LINTARA_WINE_NAMESPACE:-}" != 1 ]; then
    kind=$(namespace) || skip "$kind"
    $check && exit 0
    # A server of this prefix left running from before would serve the
    # tests from outside the namespace.
    WINEPREFIX=$prefix "$wineserver" -k 2>/dev/null || true
    export LINTARA_WINE_NAMESPACE=1
    if [ "$kind" = root ]; then
        exec unshare --mount --propagation private bash "$0" "${arguments[@]}"
    fi
    exec unshare --user --map-root-user --mount --propagation private bash "$0" "${arguments[@]}"
fi

hide_serial_ports

export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
$run || unset DISPLAY
unset WAYLAND_DISPLAY
trap '"$wineserver" -k 2>/dev/null || true' EXIT

if [ ! -f "$prefix/.lintara-ready" ]; then
    echo "Making the wine prefix $prefix (once)"
    rm -rf "$prefix"
    start=$SECONDS
    "$wine" wineboot --init >/dev/null 2>&1
    "$wineserver" -w
    touch "$prefix/.lintara-ready"
    echo "Prefix made in $((SECONDS - start)) s"
fi
# No port of this machine, whatever an earlier wine left there.
rm -f "$prefix"/dosdevices/com*

export LINTARA_NO_SERIAL_PORTS=1 LINTARA_WINE=$wine
# One wine session for all the tests, its system processes started here:
# started by a test, they would hold its output open after it ends.
"$wineserver" -p
"$wine" wineboot >/dev/null 2>&1
status=0
if $run; then
    "$@" || status=$?
else
    ctest --test-dir "$build" --output-on-failure --timeout 300 "$@" || status=$?
fi
"$wineserver" -k 2>/dev/null || true
"$wineserver" -w 2>/dev/null || true
links=$(find "$prefix/dosdevices" -maxdepth 1 -name 'com*' -print)
if [ -n "$links" ]; then
    echo "FAILED: wine mapped serial ports after all: $links"
    exit 1
fi
exit $status
