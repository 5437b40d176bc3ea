#!/usr/bin/env bash
# Builds the Debian package and installs it on a clean Debian 12: a minimal
# chroot made with debootstrap from the mirror this machine's apt uses
# (scripts/apt-sources.sh). There
# the program is started without a display, and must keep running with its
# port driver loaded from the package's library folder.
#
#   scripts/check_package.sh [BUILD_DIR]     (default: <repo>/build-package)
#
# Needs root, cmake, dpkg-dev (dpkg-shlibdeps) and debootstrap
# (scripts/setup.sh --tests installs them). The finished base system is kept
# as a tarball in BUILD_DIR/chroot-cache, with the packages apt fetched, so a
# second run neither bootstraps nor downloads again. Exits 0 on PASS, 1 on
# FAIL, 77 when it cannot run here (not root).
#
# Every serial port is mapped to a virtual one, so no device is ever opened;
# the chroot's /dev holds only null, zero, random and urandom besides.
set -uo pipefail

say() { printf 'check_package: %s\n' "$*"; }
fail() {
    say "$*"
    [ -n "${started:-}" ] && say "took $(($(date +%s) - started)) s"
    printf 'FAIL: lintara package\n'
    exit 1
}

if [ "$(id -u)" -ne 0 ]; then
    say "must run as root (debootstrap, chroot and mount need it); skipped"
    exit 77
fi

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$repo/build-package}
mkdir -p "$build" || fail "cannot make $build"
build=$(cd "$build" && pwd)
cache=$build/chroot-cache
root=$build/chroot
suite=bookworm
arch=$(dpkg --print-architecture)

# All mounts happen in a mount namespace of this script's own, so none can
# outlive it on the host, even if it is killed; the trap unmounts them anyway.
if [ -z "${LINTARA_CHECK_PRIVATE_MOUNTS:-}" ] && command -v unshare >/dev/null \
        && unshare --mount --propagation private true 2>/dev/null; then
    LINTARA_CHECK_PRIVATE_MOUNTS=1 exec unshare --mount --propagation private "$BASH" "$0" "$build"
fi

for tool in cmake cpack dpkg-shlibdeps debootstrap chroot timeout; do
    command -v "$tool" >/dev/null ||
        fail "$tool is missing (run scripts/setup.sh --tests)"
done

# The Debian mirror this machine's apt uses, with the suites of this release.
# shellcheck source=apt-sources.sh
. "$repo/scripts/apt-sources.sh"
sources=$(apt_deb_entries | awk -F'\t' -v s="$suite" '$2 == s || index($2, s "-") == 1 { print $1 "\t" $2 "\t" $3 }' |
    sort -u)
mirror=$(printf '%s\n' "$sources" | awk -F'\t' -v s="$suite" '$2 == s { print $1; exit }')
[ -n "$mirror" ] || fail "this machine's apt sources (/etc/apt/sources.list and sources.list.d)" \
    "have no deb entry of Debian $suite to bootstrap it from"
mirror=${mirror%/}

started=$(date +%s)
app_pid=
mounts=()

# Ends what runs in the chroot and unmounts everything under it.
unmount_all() {
    if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
        kill -TERM "$app_pid" 2>/dev/null
        for _ in 1 2 3 4 5 6 7 8 9 10; do
            kill -0 "$app_pid" 2>/dev/null || break
            sleep 0.2
        done
        kill -KILL "$app_pid" 2>/dev/null
        wait "$app_pid" 2>/dev/null
    fi
    app_pid=
    # Anything else still running inside the chroot was started from here.
    local proc i
    if [ -d "$root" ]; then
        for proc in /proc/[0-9]*; do
            [ "$(readlink "$proc/root" 2>/dev/null)" = "$root" ] || continue
            kill -KILL "${proc#/proc/}" 2>/dev/null
        done
    fi
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount "${mounts[i]}" 2>/dev/null || umount -l "${mounts[i]}" 2>/dev/null
    done
    mounts=()
    # Left over from debootstrap, or from an earlier run that was killed.
    awk -v r="$root" '$2 == r || index($2, r "/") == 1 { print $2 }' /proc/self/mounts |
        sort -r | while read -r m; do umount -l "$m" 2>/dev/null; done
}

mounted_under_root() {
    awk -v r="$root" '$2 == r || index($2, r "/") == 1 { f = 1 } END { exit !f }' /proc/self/mounts
}

remove_root() {
    [ -e "$root" ] || return 0
    if mounted_under_root; then
        say "mounts are left under $root; not removing it"
        return 1
    fi
    rm -rf --one-file-system "$root"
}

cleanup() {
    unmount_all
    remove_root
}
trap cleanup EXIT
trap 'say "interrupted"; printf "FAIL: lintara package\n"; exit 130' INT TERM HUP

# Like timeout(1), with the step named when it runs out.
step() {
    local limit=$1 name=$2
    shift 2
    timeout -k 10 "$limit" "$@"
    local rc=$?
    [ $rc -eq 124 ] && say "$name took more than $limit s"
    return $rc
}

unmount_all
# --- the package --------------------------------------------------------------

say "building the package in $build"
step 300 configure cmake -S "$repo" -B "$build" -DCMAKE_BUILD_TYPE=Release \
    -DBUILD_TESTING=OFF -DCMAKE_INSTALL_PREFIX=/usr >"$build/configure.log" 2>&1 ||
    fail "configuring failed, see $build/configure.log"
step 1200 build cmake --build "$build" -j"$(nproc)" >"$build/build.log" 2>&1 ||
    fail "building failed, see $build/build.log"
rm -f "$build"/lintara_*.deb
(cd "$build" && step 300 cpack cpack -G DEB) >"$build/cpack.log" 2>&1 ||
    fail "cpack failed, see $build/cpack.log"
debs=("$build"/lintara_*_"$arch".deb)
[ -f "${debs[0]}" ] || fail "cpack made no lintara_*_$arch.deb"
deb=${debs[0]}
say "package: $(basename "$deb")"
dpkg-deb -f "$deb" Package Version Architecture Depends Recommends | sed 's/^/  /'
libdir=$(sed -n 's/^CMAKE_INSTALL_LIBDIR:PATH=//p' "$build/CMakeCache.txt")
contents=$(dpkg-deb -c "$deb")
grep -q "\./usr/$libdir/librscom\.so -> " <<<"$contents" ||
    fail "the package has no /usr/$libdir/librscom.so"

# --- a clean Debian 12 --------------------------------------------------------

mkdir -p "$cache/archives/partial" "$cache/lists/partial" || fail "cannot make $cache"
base=$cache/$suite-minbase-$arch.tar
if [ -f "$base" ] && [ "$(cat "$base.mirror" 2>/dev/null)" = "$mirror" ]; then
    say "unpacking the cached $suite base system"
else
    rm -f "$base" "$base.mirror"
    remove_root || fail "cannot start from an empty $root"
    say "bootstrapping $suite ($arch, minbase) from $mirror"
    step 900 debootstrap debootstrap --variant=minbase --arch="$arch" "$suite" "$root" "$mirror" \
        >"$build/debootstrap.log" 2>&1 || fail "debootstrap failed, see $build/debootstrap.log"
    unmount_all    # debootstrap's own mounts of proc and sys
    # Neither the base's own packages nor apt's lists belong in the cached base.
    rm -f "$root"/var/cache/apt/archives/*.deb
    find "$root/var/lib/apt/lists" -maxdepth 1 -type f ! -name lock -delete
    step 300 debootstrap tar --numeric-owner -C "$root" -cf "$base.part" . ||
        fail "cannot store the base system"
    mv "$base.part" "$base" && printf '%s\n' "$mirror" >"$base.mirror"
fi
remove_root || fail "cannot start from an empty $root"
mkdir -p "$root" && step 300 unpack tar --numeric-owner -C "$root" -xf "$base" ||
    fail "cannot unpack $base"

# Only the few device nodes a program and apt need, bound read-only from here.
rm -rf --one-file-system "$root/dev" && mkdir -p "$root/dev/pts" "$root/dev/shm" || fail "cannot clear /dev"
for node in null zero random urandom; do
    : >"$root/dev/$node"
    mount --bind "/dev/$node" "$root/dev/$node" || fail "cannot bind /dev/$node"
    mounts+=("$root/dev/$node")
    mount -o remount,bind,ro "$root/dev/$node" 2>/dev/null || true
done
ln -s /proc/self/fd "$root/dev/fd"
ln -s /proc/self/fd/0 "$root/dev/stdin"
ln -s /proc/self/fd/1 "$root/dev/stdout"
ln -s /proc/self/fd/2 "$root/dev/stderr"
mount -t proc proc "$root/proc" || fail "cannot mount /proc"
mounts+=("$root/proc")

cp -L /etc/resolv.conf "$root/etc/resolv.conf" 2>/dev/null || true
printf '%s\n' "$sources" | awk -F'\t' '{ print "deb " $1 " " $2 " " $3 }' >"$root/etc/apt/sources.list"
rm -f "$root"/etc/apt/sources.list.d/*
# No services are started by package scripts in here.
printf '#!/bin/sh\nexit 101\n' >"$root/usr/sbin/policy-rc.d" && chmod 755 "$root/usr/sbin/policy-rc.d"
# A throwaway system: dpkg need not sync every file it unpacks.
echo force-unsafe-io >"$root/etc/dpkg/dpkg.cfg.d/lintara-check"
# What apt fetched last time: only a download cache, nothing is installed by it.
cp -a "$cache/lists/." "$root/var/lib/apt/lists/" 2>/dev/null
cp -a "$cache/archives/." "$root/var/cache/apt/archives/" 2>/dev/null
cp "$deb" "$root/tmp/" || fail "cannot copy the package in"

in_root=(chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root
    LANG=C.UTF-8 DEBIAN_FRONTEND=noninteractive)

say "installing $(basename "$deb") with apt-get"
step 300 apt-update "${in_root[@]}" apt-get update >"$build/apt.log" 2>&1 ||
    fail "apt-get update failed in the chroot, see $build/apt.log"
step 900 apt-install "${in_root[@]}" sh -c 'cd /tmp && apt-get install -y ./lintara_*.deb' >>"$build/apt.log" 2>&1
rc=$?
# Keep what was fetched for the next run, whether or not the install worked.
cp -a "$root/var/lib/apt/lists/." "$cache/lists/" 2>/dev/null
find "$root/var/cache/apt/archives" -maxdepth 1 -name '*.deb' -exec cp -p {} "$cache/archives/" \; 2>/dev/null
[ $rc -eq 0 ] || fail "apt-get install failed in the chroot, see $build/apt.log"
say "installed, with $(grep -c '^Setting up ' "$build/apt.log") packages set up"

status=0
if command -v desktop-file-validate >/dev/null; then
    if desktop-file-validate "$root/usr/share/applications/lintara.desktop"; then
        say "desktop entry: valid"
    else
        say "desktop entry: desktop-file-validate complained"
        status=1
    fi
else
    say "desktop entry: not checked (no desktop-file-validate here)"
fi

say "starting lintara in the chroot"
mkdir -p -m 700 "$root/tmp/runtime-root"
chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin HOME=/root LANG=C.UTF-8 \
    XDG_RUNTIME_DIR=/tmp/runtime-root QT_QPA_PLATFORM=offscreen \
    RSCOM_COM1=loopback RSCOM_COM2=loopback RSCOM_COM3=none RSCOM_COM4=none RSCOM_COM5=none \
    lintara >"$build/lintara.log" 2>&1 </dev/null &
app_pid=$!
sleep 3
if ! kill -0 "$app_pid" 2>/dev/null; then
    wait "$app_pid"
    say "lintara ended within 3 s (exit status $?); its output:"
    sed 's/^/  /' "$build/lintara.log"
    app_pid=
    fail "the installed program does not stay up"
fi
driver=$("${in_root[@]}" cat "/proc/$app_pid/maps" | awk '$6 ~ /\/librscom\.so/ { print $6; exit }')
case $driver in
    /usr/lib/*/librscom.so*|/usr/lib/librscom.so*)
        say "lintara (pid $app_pid) is running with $driver" ;;
    "")
        say "lintara (pid $app_pid) is running without its driver; its output:"
        sed 's/^/  /' "$build/lintara.log"
        status=1 ;;
    *)
        say "lintara loaded its driver from $driver, not the package's library folder"
        status=1 ;;
esac

cleanup
trap - EXIT
say "took $(($(date +%s) - started)) s"
if [ $status -ne 0 ]; then
    printf 'FAIL: lintara package\n'
    exit 1
fi
printf 'PASS: lintara package %s installs on a clean Debian %s and runs with its driver\n' \
    "$(dpkg-deb -f "$deb" Version)" "$suite"
