#!/usr/bin/env bash
# Boots a small Linux VM under qemu with emulated 16550A UARTs and a USB
# serial adapter, and runs in it uart_guest_test, the driver's real-port
# backend on the kernel's own 8250 and USB serial drivers, then probe_guest,
# the program's port probe on that driver, once as it is and once with the
# driver built without COMSTATUS, and last gadget_guest, the driver's EDGES on
# a USB serial gadget inside the guest, and remote_guest, a port on another
# machine: ser2net in the guest serving a UART over RFC 2217.
#
# usage: run_uart_test.sh GUEST_TEST WORK_DIR PROBE_GUEST DRIVER DRIVER_WITHOUT_STATUS GADGET_GUEST REMOTE_GUEST
#
#   GUEST_TEST  the uart_guest_test program
#   WORK_DIR    a folder in the build tree for the initramfs, the console log
#               and qemu's trace of the UARTs' register writes
#   PROBE_GUEST the probe_guest program
#   DRIVER      the driver library, librscom.so.1
#   DRIVER_WITHOUT_STATUS  the same driver without COMSTATUS
#   GADGET_GUEST the gadget_guest program
#   REMOTE_GUEST the remote_guest program (run when the host has ser2net)
#
# The kernel is Debian's stock amd64 kernel with a few of its own modules,
# fetched and unpacked beforehand by scripts/setup-vm-kernel.sh into
# $LINTARA_VM_KERNEL (by default ${XDG_CACHE_HOME:-$HOME/.cache}/lintara/vm-kernel).
# Its 8250 driver and devtmpfs are built in; the USB serial checks load the
# modules.
#
# While the VM runs, vm_host.py unplugs and plugs the USB adapter when the
# guest asks for it on its console. Afterwards it checks qemu's trace: between
# the markers the guest writes around its quiet stretches, no UART register
# may have been written.
#
# Exit status: 0 when every check passed; 1 when one failed or the VM did not
# finish; 77 when the test cannot run here at all (no qemu, busybox or
# python3, no kernel in the cache).
#
# Environment: UART_VM_TIMEOUT, seconds the VM may run (default 120);
# LINTARA_VM_KERNEL, the kernel's cache folder.

set -u -o pipefail

readonly SKIP=77

skip() {
    echo "SKIP: $*"
    exit "$SKIP"
}

fail() {
    echo "FAIL: $*"
    exit 1
}

if [[ $# -ne 7 ]]; then
    echo "usage: $0 GUEST_TEST WORK_DIR PROBE_GUEST DRIVER DRIVER_WITHOUT_STATUS GADGET_GUEST REMOTE_GUEST" >&2
    exit 2
fi
guest_test=$1
work=$2
probe_guest=$3
library=$4
library_without_status=$5
gadget_guest=$6
remote_guest=$7
here=$(cd "$(dirname "$0")" && pwd)
vm_timeout=${UART_VM_TIMEOUT:-120}

[[ -f $guest_test && -x $guest_test ]] || fail "guest test program not built: $guest_test"
[[ -f $probe_guest && -x $probe_guest ]] || fail "probe program not built: $probe_guest"
[[ -f $library ]] || fail "driver not built: $library"
[[ -f $library_without_status ]] || fail "driver without COMSTATUS not built: $library_without_status"
[[ -f $gadget_guest && -x $gadget_guest ]] || fail "gadget guest program not built: $gadget_guest"
mkdir -p "$work" || fail "cannot make $work"
work=$(cd "$work" && pwd)

qemu=$(command -v qemu-system-x86_64) ||
    skip "qemu-system-x86_64 not found (Debian package qemu-system-x86)"
busybox=$(command -v busybox) || skip "busybox not found (Debian package busybox-static)"
python=$(command -v python3) || skip "python3 not found (Debian package python3)"
for tool in timeout ldd find; do
    command -v "$tool" >/dev/null || skip "$tool not found"
done
# grep -q would end the pipe early, and busybox's SIGPIPE fail it.
"$busybox" cpio --help 2>&1 | grep -- '-o' >/dev/null ||
    skip "this busybox cannot create cpio archives (Debian package busybox-static)"

# --- the kernel --------------------------------------------------------------

# Fetched by the set-up, never here: a test does not download.
setup_hint="run scripts/setup.sh --tests (or scripts/setup-vm-kernel.sh) first"
home=${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}
kernel_dir=${LINTARA_VM_KERNEL:-${XDG_CACHE_HOME:-$home/.cache}/lintara/vm-kernel}
kernel=$kernel_dir/vmlinux
[[ -s $kernel && -s $kernel_dir/package && -s $kernel_dir/modules/order ]] ||
    skip "no kernel for the VM in $kernel_dir: $setup_hint"
modules=()
while read -r module; do
    [[ -s $kernel_dir/modules/$module.ko ]] ||
        skip "the VM kernel's cache lacks the module $module: $setup_hint"
    modules+=("$module")
done <"$kernel_dir/modules/order"
[[ -s $kernel_dir/modules/gadget ]] || skip "the VM kernel's cache lacks the USB gadget's modules: $setup_hint"
while read -r module; do
    [[ -s $kernel_dir/modules/$module.ko ]] ||
        skip "the VM kernel's cache lacks the module $module: $setup_hint"
    modules+=("$module")
done <"$kernel_dir/modules/gadget"
echo "kernel: $(cat "$kernel_dir/package"), from $kernel_dir"

# --- the initramfs -----------------------------------------------------------

root=$work/initramfs
initramfs=$work/initramfs.cpio
rm -rf "$root" "$initramfs"
mkdir -p "$root"/{bin,dev,proc,sys,modules} || fail "cannot make $root"

# Copies a program and, when it is linked dynamically, its libraries and
# loader, to the same paths in the initramfs.
install_program() {
    local from=$1 to=$2 lib
    cp "$from" "$root$to" || return 1
    ldd "$from" >/dev/null 2>&1 || return 0 # statically linked
    for lib in $(ldd "$from" | grep -o '/[^ ]*'); do
        [[ -e $root$lib ]] && continue
        mkdir -p "$root$(dirname "$lib")" && cp -L "$lib" "$root$lib" || return 1
    done
}

install_program "$busybox" /bin/busybox || fail "cannot copy busybox"
for applet in sh mount poweroff env; do
    ln -s busybox "$root/bin/$applet"
done
install_program "$guest_test" /uart_guest_test || fail "cannot copy $guest_test"
install_program "$gadget_guest" /gadget_guest || fail "cannot copy $gadget_guest"
# ser2net (Debian's, with its libraries) for the port on another machine.
ser2net=/usr/sbin/ser2net
if [[ -x $ser2net ]]; then
    install_program "$remote_guest" /remote_guest || fail "cannot copy $remote_guest"
    mkdir -p "$root/usr/sbin" "$root/tmp" && install_program "$ser2net" /usr/sbin/ser2net ||
        fail "cannot copy $ser2net"
    # gensio loads its serial, telnet and TCP parts as plugins.
    for plugin in /usr/libexec/*/gensio/*/libgensio_{serialdev,telnet,net}.so; do
        mkdir -p "$root$(dirname "$plugin")" && install_program "$plugin" "$plugin" ||
            fail "cannot copy $plugin"
    done
else
    echo "SKIP remote_guest: no $ser2net (Debian package ser2net)"
fi
# As installed: the program finds its driver by its SONAME in the library
# folder beside its own (its RUNPATH is $ORIGIN/../lib).
mkdir -p "$root"/lintara/{bin,lib,without-status} || fail "cannot make $root/lintara"
install_program "$probe_guest" /lintara/bin/probe_guest || fail "cannot copy $probe_guest"
install_program "$library" /lintara/lib/librscom.so.1 || fail "cannot copy $library"
install_program "$library_without_status" /lintara/without-status/librscom.so.1 ||
    fail "cannot copy $library_without_status"
# The guest test loads them in this order.
for module in "${modules[@]}"; do
    cp "$kernel_dir/modules/$module.ko" "$root/modules/" || fail "cannot copy $module.ko"
done
cp "$kernel_dir/modules/order" "$root/modules/order" || fail "cannot copy the modules' order"
cp "$kernel_dir/modules/gadget" "$root/modules/gadget" || fail "cannot copy the gadget's modules' order"
# Only this initramfs has the marker, and only this VM's command line has
# lintara.guest=1: the guest programs refuse to run without both.
: >"$root/lintara-guest"

# ASan intercepts dlopen and calls it from its own runtime, whose search path
# is not the program's: a sanitized probe is shown its driver, as
# scripts/test.sh does on the host.
probe_env=
if ldd "$probe_guest" | grep libasan >/dev/null; then
    probe_env="env LD_LIBRARY_PATH=/lintara/lib "
fi
# The guest's programs, in the order they run: a name, and its command line.
# The probe runs after the driver's test, which left the ports closed and
# the adapter plugged in.
guest_runs=(
    "uart_guest_test /uart_guest_test"
    "probe_guest ${probe_env}/lintara/bin/probe_guest"
    "probe_guest_without_status env LD_LIBRARY_PATH=/lintara/without-status /lintara/bin/probe_guest --without-status"
    "gadget_guest /gadget_guest"
)
[[ -x $ser2net ]] && guest_runs+=("remote_guest /remote_guest")
{
    cat <<'EOF'
#!/bin/sh
mount -t devtmpfs devtmpfs /dev
mount -t proc proc /proc
mount -t sysfs sysfs /sys
exec </dev/console >/dev/console 2>&1
echo 1 >/proc/sys/kernel/printk
EOF
    for run in "${guest_runs[@]}"; do
        printf 'echo "LINTARA-GUEST-BEGIN %s"\n%s\necho "LINTARA-GUEST-EXIT %s $?"\n' \
            "${run%% *}" "${run#* }" "${run%% *}"
    done
    echo "poweroff -f"
} >"$root/init"
chmod 755 "$root/init"

# Not compressed: the guest reads it from memory, while unpacking it there,
# under an emulated CPU, would cost more than the boot itself.
(cd "$root" && find . -print | "$busybox" cpio -o -H newc 2>/dev/null) >"$initramfs" ||
    fail "cannot build the initramfs"

# --- the VM ------------------------------------------------------------------

console=$work/console.log
trace=$work/trace.log
rm -f "$console" "$trace" "$work/qemu.err" "$work/host.log" "$work/quiet.log"
# A socket's path has a short limit: a folder of its own under /tmp.
sockets=$(mktemp -d "${TMPDIR:-/tmp}/lintara-vm.XXXXXX") || fail "cannot make a socket folder"
trap 'rm -rf "$sockets"' EXIT
qmp=$sockets/qmp
# qemu's option syntax doubles a comma inside a value.
q() { printf '%s' "${1//,/,,}"; }

# ttyS0 is the guest's console, ttyS1 and ttyS2 are 16550As with nothing
# attached, ttyS3 a slot with no UART behind it. The USB adapter is an FTDI
# chip on an xHCI controller; always-plugged lets it attach to a null
# chardev. serial_write logs every register write of every UART.
start=$(date +%s%N)
timeout -k 5 "$vm_timeout" "$qemu" \
    -accel tcg -machine pc -m 512 -smp 1 \
    -nodefaults -display none -monitor none -no-reboot \
    -kernel "$kernel" -initrd "$initramfs" \
    -append "console=ttyS0 quiet loglevel=1 panic=-1 8250.nr_uarts=4 rdinit=/init lintara.guest=1" \
    -chardev "file,id=console,path=$(q "$console")" -serial chardev:console \
    -chardev null,id=uart1 -serial chardev:uart1 \
    -chardev null,id=uart2 -serial chardev:uart2 \
    -chardev null,id=c0 -device qemu-xhci,id=xhci \
    -device usb-serial,id=usbser0,chardev=c0,always-plugged=on,port=1,serial=AAA111 \
    -qmp "unix:$(q "$qmp"),server=on,wait=off" \
    -trace serial_write -D "$trace" \
    </dev/null >"$work/qemu.err" 2>&1 &
vm=$!
"$python" "$here/vm_host.py" drive "$console" "$qmp" "$vm" >"$work/host.log" 2>&1 &
driver=$!
wait "$vm"
qemu_status=$?
end=$(date +%s%N)
wait "$driver"
driver_status=$?
elapsed=$(((end - start) / 1000000))
printf 'VM run took %d.%03d s (boot to power-off, qemu status %d)\n' \
    $((elapsed / 1000)) $((elapsed % 1000)) "$qemu_status"

# --- the verdict -------------------------------------------------------------

log=$work/console.txt
tr -d '\r' <"$console" >"$log" 2>/dev/null || : >"$log"

# What the VM said besides the guest programs' own lines: qemu's messages and
# the kernel's.
show_vm_messages() {
    echo "---- qemu ----"
    cat "$work/qemu.err"
    echo "---- guest console, other than the programs' lines (last 200) ----"
    grep -v -E '^(PASS |FAIL |info |-- |SUMMARY: |QUIET |LINTARA-HOST )' "$log" | tail -n 200
    echo "----"
}

if ! grep -q '^LINTARA-GUEST-BEGIN ' "$log"; then
    show_vm_messages
    if [[ $qemu_status -eq 124 ]]; then
        fail "the VM did not start the guest programs within ${vm_timeout} s"
    fi
    fail "the VM did not start the guest programs (qemu status $qemu_status)"
fi

# Each program's lines, its checks and its summary, on their own.
verdict=0
passed=0
failed=0
vm_messages_shown=0
for run in "${guest_runs[@]}"; do
    name=${run%% *}
    lines=$(sed -n "/^LINTARA-GUEST-BEGIN $name\$/,/^LINTARA-GUEST-EXIT $name /p" "$log")
    echo "---- $name ----"
    grep -v '^LINTARA-GUEST-' <<<"$lines"
    echo "----"

    program_passed=$(grep -c '^PASS ' <<<"$lines")
    program_failed=$(grep -c '^FAIL ' <<<"$lines")
    summary=$(grep -m 1 '^SUMMARY: ' <<<"$lines")
    exit_line=$(grep -m 1 "^LINTARA-GUEST-EXIT $name " <<<"$lines")
    status=${exit_line#LINTARA-GUEST-EXIT "$name" }
    passed=$((passed + program_passed))
    failed=$((failed + program_failed))

    if [[ -z $summary ]]; then
        echo "FAIL: $name ended without its summary (not started, crashed, blocked or the VM stopped)"
        if [[ $vm_messages_shown -eq 0 ]]; then
            [[ $qemu_status -eq 124 ]] && echo "FAIL: the VM did not power off within ${vm_timeout} s"
            show_vm_messages
            vm_messages_shown=1
        fi
        verdict=1
    elif [[ $summary != "SUMMARY: $program_passed passed, $program_failed failed" ]]; then
        echo "FAIL: $name's summary ($summary) does not match its check lines"
        verdict=1
    elif [[ $program_failed -ne 0 || $status != 0 ]]; then
        echo "FAIL: $program_failed check(s) of $name failed (exit status ${status:-none})"
        grep '^FAIL ' <<<"$lines"
        verdict=1
    elif [[ $program_passed -eq 0 ]]; then
        echo "FAIL: $name ran no check"
        verdict=1
    fi
done

# The host's part: the adapter's unplugging and plugging as the guest asked,
# and the register writes within the guest's quiet stretches.
echo "---- host ----"
"$python" "$here/vm_host.py" quiet "$trace" "$log" >"$work/quiet.log" 2>&1
quiet_status=$?
# A helper that broke without a verdict of its own fails the run too.
if [[ $driver_status -ne 0 ]] && ! grep -q '^FAIL host: ' "$work/host.log"; then
    echo "FAIL host: vm_host.py drive ended with status $driver_status" >>"$work/host.log"
fi
if [[ $quiet_status -ne 0 ]] && ! grep -q '^FAIL host: ' "$work/quiet.log"; then
    echo "FAIL host: vm_host.py quiet ended with status $quiet_status" >>"$work/quiet.log"
fi
cat "$work/host.log" "$work/quiet.log"
echo "----"
host_passed=$(cat "$work/host.log" "$work/quiet.log" | grep -c '^PASS host: ')
host_failed=$(cat "$work/host.log" "$work/quiet.log" | grep -c '^FAIL host: ')
if [[ $host_failed -ne 0 ]]; then
    echo "FAIL: $host_failed host check(s) failed"
    cat "$work/host.log" "$work/quiet.log" | grep '^FAIL host: '
    verdict=1
fi

# Checks that fail through a driver fault already reported: listed, not
# counted as failures.
echo "$((passed + host_passed)) passed, $((failed + host_failed)) failed"
exit "$verdict"
