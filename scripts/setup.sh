#!/usr/bin/env bash
# Installs the Debian packages the build needs, and with --tests those the
# tests need too. Quick when everything is there already.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)

lists=("$here/packages.txt")
[ "${1:-}" = "--tests" ] && lists+=("$here/packages-test.txt")

missing=()
for pkg in $(grep -hv '^\s*#' "${lists[@]}"); do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    [ "$status" = "install ok installed" ] || missing+=("$pkg")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
