// What sysfs tells of the serial devices, read without opening any of them.
#pragma once

#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace rscom
{

struct TtyDevice {
    std::string name;     // the kernel's name, "ttyUSB0"
    std::string identity; // USB serial number or place, else the kernel's name
    std::string product, maker, serial;
    int builtin = 0;        // ttySk: k + 1
    bool emptySlot = false; // a UART slot with no UART behind it (type 0)
    bool console = false;   // the kernel's console attribute says so
};

// Every tty in /sys/class/tty with a device behind it, but UART slots with
// no UART.
std::vector<TtyDevice> findSerialDevices();

// The tty behind a character device number, when it is one with a device
// behind it (a serial line); nothing for anything else, pseudo-terminals and
// virtual consoles included.
std::optional<TtyDevice> serialDeviceOf(dev_t device);

// Whether sysfs is there to ask at all.
bool sysfsKnowsDevices();

} // namespace rscom
