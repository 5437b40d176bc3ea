#!/usr/bin/env bash
# Installs the Debian packages the build needs, with --windows those of the
# Windows build too, and with --tests those the tests need (the Windows
# build's included), and the kernel that the VM test boots. Quick when
# everything is there already.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

tests=false
lists=("$here/packages.txt")
case "${1:-}" in
--tests)
    tests=true
    lists+=("$here/packages-windows.txt" "$here/packages-test.txt")
    ;;
--windows) lists+=("$here/packages-windows.txt") ;;
esac

# A package may be on more than one list; it is looked at once.
missing=()
for pkg in $(grep -hv '^\s*#' "${lists[@]}" | awk 'NF && !seen[$1]++ { print $1 }'); do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$pkg")
done
if [ ${#missing[@]} -gt 0 ]; then
    sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)
    echo "Installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    "${sudo[@]}" apt-get update -qq
    "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# Without its kernel the VM test skips, saying so; the other tests still run.
if $tests && ! "$here/setup-vm-kernel.sh"; then
    echo "setup: no kernel for the VM test (uart_8250_vm); it will be skipped" >&2
fi
