#include "linux/sysfs.h"

#include "core/decimal.h"
#include "core/portstatus.h"
#include "linux/system.h"

#include <cctype>
#include <dirent.h>
#include <sys/sysmacros.h>

namespace rscom
{

namespace
{

std::string parentOf(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

// The built-in UART's number: ttyS0 is 1.
int builtinNumber(const std::string &name)
{
    if (name.compare(0, 4, "ttyS") != 0) return 0;
    const std::optional<std::int64_t> k = decimal(std::string_view(name).substr(4), 9999);
    return k ? static_cast<int>(*k) + 1 : 0;
}

// The USB device above a tty's device, if any: walks up from the device
// until a folder has idVendor. `interface` becomes the folder just below it.
std::string usbDeviceAbove(const std::string &device, std::string &interface)
{
    const std::string top = systemPaths().sys() + "/devices";
    std::string below;
    std::string folder = device;
    for (int depth = 0; depth < 8 && folder.size() > top.size(); ++depth) {
        if (exists(folder + "/idVendor")) {
            interface = below;
            return folder;
        }
        below = folder;
        folder = parentOf(folder);
    }
    return {};
}

// Reads the class folder of the tty `name`: /sys/class/tty/NAME, or where
// /sys/dev/char leads.
std::optional<TtyDevice> readTty(const std::string &folder, const std::string &name)
{
    // A virtual tty has no device: one look tells, before any path is
    // resolved.
    if (linkTarget(folder + "/device").empty()) return std::nullopt;
    const std::string device = canonicalPath(folder + "/device");
    if (device.empty()) return std::nullopt;
    TtyDevice tty;
    tty.name = name;
    tty.builtin = builtinNumber(tty.name);
    tty.emptySlot = readAttribute(folder + "/type") == "0";
    tty.console = readAttribute(folder + "/console") == "Y";

    std::string interface;
    const std::string usb = usbDeviceAbove(device, interface);
    if (usb.empty()) {
        tty.identity = "tty " + tty.name;
        return tty;
    }
    tty.product = oneLine(readAttribute(usb + "/product"));
    tty.maker = oneLine(readAttribute(usb + "/manufacturer"));
    tty.serial = oneLine(readAttribute(usb + "/serial"));
    // Known by its serial number where it has one, else by its place on the
    // bus; a device with several ports tells them apart by interface and
    // port number.
    if (!tty.serial.empty()) {
        tty.identity = "usb " + oneLine(readAttribute(usb + "/idVendor")) + ":" +
                       oneLine(readAttribute(usb + "/idProduct")) + " serial " + tty.serial;
    } else {
        tty.identity = "usb port " + baseName(usb);
    }
    const std::string number =
        interface.empty() ? std::string() : oneLine(readAttribute(interface + "/bInterfaceNumber"));
    if (!number.empty()) tty.identity += " interface " + number;
    const std::string port = oneLine(readAttribute(device + "/port_number"));
    if (!port.empty() && port != "0") tty.identity += " port " + port;
    return tty;
}

} // namespace

std::vector<TtyDevice> findSerialDevices()
{
    std::vector<TtyDevice> found;
    const std::string classFolder = systemPaths().sys() + "/class/tty";
    DIR *dir = ::opendir(classFolder.c_str());
    if (dir == nullptr) return found;
    while (const dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        std::optional<TtyDevice> tty = readTty(classFolder + "/" + entry->d_name, entry->d_name);
        if (tty && !tty->emptySlot) found.push_back(*tty);
    }
    ::closedir(dir);
    return found;
}

std::optional<TtyDevice> serialDeviceOf(dev_t device)
{
    const std::string folder = systemPaths().sys() + "/dev/char/" + std::to_string(major(device)) +
                               ":" + std::to_string(minor(device));
    if (baseName(linkTarget(folder + "/subsystem")) != "tty") return std::nullopt;
    return readTty(folder, baseName(linkTarget(folder)));
}

bool sysfsKnowsDevices()
{
    return exists(systemPaths().sys() + "/dev/char");
}

} // namespace rscom
