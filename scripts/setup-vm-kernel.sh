#!/usr/bin/env bash
# Fetches the kernel that the real-UART test boots in its VM, Debian's stock
# amd64 kernel, with the few modules of the same package that its USB checks
# load, and keeps them in a cache folder. The test reads only that folder: it
# never downloads anything itself. Quick when the cache is complete.
#
# usage: setup-vm-kernel.sh [--refresh]
#
#   --refresh   fetch again even when the cache is complete (for a newer
#               kernel package)
#
# The cache folder is $LINTARA_VM_KERNEL, by default
# ${XDG_CACHE_HOME:-$HOME/.cache}/lintara/vm-kernel. It holds
#   package          the kernel package's name, e.g. linux-image-6.1.0-57-amd64
#   vmlinux          the kernel, unpacked (qemu boots it directly)
#   modules/NAME.ko  the modules, uncompressed
#   modules/order    their names, one a line, in the order they are loaded
#   modules/gadget   the same for the USB gadget's modules, loaded after them
#
# Run by scripts/setup.sh --tests. Needs apt-get and dpkg-deb; refreshes the
# package lists once (as root) when the package cannot be had.
set -u -o pipefail

# The USB serial adapter's stack, each after the modules it depends on.
readonly MODULES=(usb-common usbcore xhci-hcd xhci-pci usbserial ftdi_sio)
# A USB serial adapter inside the guest: the host side on cdc_acm, the gadget
# side on a dummy UDC. usb_f_acm by name: g_serial asks for it through
# request_module, which fails without modprobe.
readonly GADGET_MODULES=(cdc-acm udc-core dummy_hcd u_serial configfs libcomposite usb_f_acm g_serial)

home=${HOME:-$(getent passwd "$(id -u)" | cut -d: -f6)}
cache=${LINTARA_VM_KERNEL:-${XDG_CACHE_HOME:-$home/.cache}/lintara/vm-kernel}

complete() {
    local m
    [[ -s $cache/package && -s $cache/vmlinux && -s $cache/modules/order ]] || return 1
    [[ $(cat "$cache/modules/order") == "$(printf '%s\n' "${MODULES[@]}")" ]] || return 1
    [[ -s $cache/modules/gadget ]] || return 1
    [[ $(cat "$cache/modules/gadget") == "$(printf '%s\n' "${GADGET_MODULES[@]}")" ]] || return 1
    for m in "${MODULES[@]}" "${GADGET_MODULES[@]}"; do
        [[ -s $cache/modules/$m.ko ]] || return 1
    done
}

if [[ ${1:-} != --refresh ]] && complete; then
    exit 0
fi

for tool in apt-get dpkg-deb; do
    command -v "$tool" >/dev/null || {
        echo "setup-vm-kernel: $tool not found" >&2
        exit 1
    }
done

mkdir -p "$(dirname "$cache")" || exit 1
work=$(mktemp -d "$cache.new.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT

# The uncompressed kernel inside a vmlinuz: qemu boots it directly (PVH),
# which takes half the time of booting the vmlinuz. Tries every place where a
# compressed stream may start until one unpacks to an ELF image.
unpack_vmlinux() {
    local in=$1 out=$2 pattern command offset format
    local -a formats=(
        '\xFD7zXZ\x00|xz -dcq'
        '\x1F\x8B\x08|gzip -dcq'
        '\x28\xB5\x2F\xFD|zstd -dcq'
    )
    for format in "${formats[@]}"; do
        pattern=${format%%|*}
        command=${format#*|}
        command -v "${command%% *}" >/dev/null || continue
        while IFS=: read -r offset _; do
            # Trailing data after the stream makes the decompressor complain;
            # what counts is whether an ELF image came out.
            tail -c +"$((offset + 1))" "$in" | $command >"$out.part" 2>/dev/null
            if [[ $(head -c 4 "$out.part" | od -An -tx1 | tr -d ' \n') == 7f454c46 ]]; then
                mv "$out.part" "$out"
                return 0
            fi
        done < <(LC_ALL=C grep -obUaP "$pattern" "$in")
    done
    rm -f "$out.part"
    return 1
}

# A module as the package has it, uncompressed or not.
copy_module() {
    local name=$1 to=$2 found
    found=$(find "$work/unpacked/lib/modules" -name "$name.ko" -o -name "$name.ko.xz" \
        -o -name "$name.ko.zst" -o -name "$name.ko.gz" | head -n 1)
    case $found in
    *.ko) cp "$found" "$to" ;;
    *.xz) xz -dc "$found" >"$to" ;;
    *.zst) zstd -dcq "$found" >"$to" ;;
    *.gz) gzip -dc "$found" >"$to" ;;
    *) return 1 ;;
    esac
}

# copy_modules LIST MODULE...: copies the modules into the cache, in their
# order, and names them in the cache's list LIST, which the guest loads.
copy_modules() {
    local list=$1 m
    shift
    for m in "$@"; do
        if ! copy_module "$m" "$work/cache/modules/$m.ko"; then
            echo "setup-vm-kernel: $package has no module $m" >&2
            return 1
        fi
        echo "$m" >>"$work/cache/modules/$list"
    done
}

fetch() {
    local depends package vmlinuz m
    local -a found
    rm -rf "$work/download" "$work/unpacked" "$work/cache"
    mkdir -p "$work/download" "$work/unpacked" "$work/cache/modules" || return 1
    # The metapackage names the current kernel package.
    (cd "$work/download" && apt-get download -q linux-image-amd64) >"$work/apt.log" 2>&1 || return 1
    found=("$work"/download/linux-image-amd64_*.deb)
    [[ -f ${found[0]} ]] || return 1
    depends=$(dpkg-deb -f "${found[0]}" Depends)
    package=${depends%%[ ,]*}
    [[ $package == linux-image-* ]] || return 1
    (cd "$work/download" && apt-get download -q "$package") >>"$work/apt.log" 2>&1 || return 1
    found=("$work/download/${package}"_*.deb)
    [[ -f ${found[0]} ]] || return 1
    dpkg-deb -x "${found[0]}" "$work/unpacked" || return 1

    found=("$work"/unpacked/boot/vmlinuz-*)
    vmlinuz=${found[0]}
    [[ -f $vmlinuz ]] || return 1
    if ! unpack_vmlinux "$vmlinuz" "$work/cache/vmlinux"; then
        echo "setup-vm-kernel: cannot unpack the kernel image; the VM boots the compressed one"
        cp "$vmlinuz" "$work/cache/vmlinux" || return 1
    fi
    copy_modules order "${MODULES[@]}" || return 1
    copy_modules gadget "${GADGET_MODULES[@]}" || return 1
    echo "$package" >"$work/cache/package"
}

echo "setup-vm-kernel: fetching Debian's kernel for the VM test into $cache"
if ! fetch; then
    # The package lists may be missing or old: refresh them once.
    if [[ $(id -u) -eq 0 ]] && apt-get update -q >"$work/apt-update.log" 2>&1 && fetch; then
        :
    else
        tail -n 5 "$work/apt.log" 2>/dev/null >&2
        echo "setup-vm-kernel: cannot fetch linux-image-amd64 with apt-get download" >&2
        exit 1
    fi
fi

# Replaced whole, so that a test running meanwhile sees the old cache or the
# new one, never half of one.
old=$work/old
[[ -e $cache ]] && mv "$cache" "$old"
mv "$work/cache" "$cache" || exit 1
echo "setup-vm-kernel: $(cat "$cache/package"), modules: ${MODULES[*]} ${GADGET_MODULES[*]}"
