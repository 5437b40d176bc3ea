#!/usr/bin/env bash
# Runs a test program on a private X server (Xvfb) with Qt's X11 platform.
#
#   with_xvfb.sh PROGRAM [ARGUMENT...]
#
# Exit status: the program's; 77 when Xvfb is not installed.
set -u

if ! command -v Xvfb >/dev/null 2>&1; then
    echo "SKIP: 'Xvfb' is not installed (package xvfb)"
    exit 77
fi

# shellcheck source=../../scripts/xsession.sh
. "$(dirname "$0")/../../scripts/xsession.sh"
xsession_begin lintara-xvfb
if ! xsession_start_x; then
    cat "$work/xvfb.log"
    echo "FAIL: Xvfb did not start"
    exit 1
fi
"$@"
