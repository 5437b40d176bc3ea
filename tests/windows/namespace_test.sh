#!/usr/bin/env bash
# wine_tests.sh --check in a small chroot of this machine's /usr, in a mount
# namespace of its own: where the chroot's root is no mount point it must
# say that this is why wine cannot be shut off from the serial ports; with
# the root bind-mounted onto itself the tests can run. 77 when not root.
set -u
source=$(cd "$(dirname "$0")/../.." && pwd)
[ "$(id -u)" -eq 0 ] || { echo "SKIP: needs root for chroot and mount"; exit 77; }
if [ "${LINTARA_NAMESPACE_TEST:-}" != 1 ]; then
    unshare --mount true 2>/dev/null || { echo "SKIP: no mount namespace of its own here"; exit 77; }
    LINTARA_NAMESPACE_TEST=1 exec unshare --mount --propagation private bash "$0"
fi

top=$(mktemp -d) && mount -t tmpfs tmpfs "$top" && root=$top/root
mkdir -p "$root"/{usr,proc,dev,source}
for link in bin sbin lib lib64; do [ -L "/$link" ] && ln -s "usr/$link" "$root/$link"; done
: >"$root/dev/null"
mount --rbind /usr "$root/usr" && mount -t proc proc "$root/proc" &&
    mount --bind /dev/null "$root/dev/null" && mount --bind "$source" "$root/source" ||
    { echo "FAIL: cannot make the chroot"; exit 1; }

failed=0
# row NAME STATUS TEXT: the check's exit status, and a text its output holds
row() {
    local output status
    output=$(chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin \
        bash /source/tests/windows/wine_tests.sh --check 2>&1)
    status=$?
    if [ "$status" -eq "$2" ] && grep -qF -- "$3" <<<"$output"; then
        echo "ok   - $1${output:+: $output}"
    else
        echo "FAIL - $1: exit status $status, wanted $2 and \"$3\"; it said: $output"
        failed=$((failed + 1))
    fi
}

row "a chroot whose root is no mount point" 77 "/ is not a mount point here"
mount --rbind "$root" "$root"
row "the same, its root bind-mounted onto itself" 0 ""
[ $failed -eq 0 ]
