#!/usr/bin/env bash
# wine_tests.sh --check in a small chroot of this machine's /usr: where the
# chroot's root is no mount point, the wine tests cannot hide the serial
# ports and it must say that this is why; with the root bind-mounted onto
# itself they can run. Everything happens in a mount namespace of its own.
#
# usage: namespace_test.sh
# Exit status 0 passed, 1 failed, 77 not root (chroot and mount need it).
set -u
here=$(cd "$(dirname "$0")" && pwd)
source=$(cd "$here/../.." && pwd)

if [ "$(id -u)" -ne 0 ]; then
    echo "SKIP: needs root for chroot and mount"
    exit 77
fi
if [ "${LINTARA_NAMESPACE_TEST:-}" != 1 ]; then
    unshare --mount --propagation private true 2>/dev/null ||
        { echo "SKIP: no mount namespace of its own here"; exit 77; }
    LINTARA_NAMESPACE_TEST=1 exec unshare --mount --propagation private bash "$0"
fi

top=$(mktemp -d)
mount -t tmpfs tmpfs "$top"
root=$top/root
mkdir -p "$root"/{usr,proc,dev,tmp,source}
for link in bin sbin lib lib64; do
    [ -L "/$link" ] && ln -s "usr/$link" "$root/$link"
done
mount --rbind /usr "$root/usr"
mount -t proc proc "$root/proc"
: >"$root/dev/null"
mount --bind /dev/null "$root/dev/null"
mount --bind "$source" "$root/source"

failed=0
# row NAME EXPECTED_STATUS EXPECTED_TEXT
row() {
    local output status
    output=$(chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin bash /source/tests/windows/wine_tests.sh --check 2>&1)
    status=$?
    if [ "$status" -eq "$2" ] && grep -qF -- "$3" <<<"$output"; then
        echo "ok   - $1"
        [ -z "$output" ] || echo "  $output"
    else
        echo "FAIL - $1: exit status $status, wanted $2 with \"$3\"; it said:"
        echo "$output"
        failed=$((failed + 1))
    fi
}

row "a chroot whose root is no mount point: the reason" 77 "/ is not a mount point here"
mount --rbind "$root" "$root"
row "the same chroot, its root bind-mounted onto itself: the tests can run" 0 ""

[ $failed -eq 0 ]
