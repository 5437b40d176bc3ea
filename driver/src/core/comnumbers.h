// COM numbers for serial devices that have none of their own, given as
// Windows gives them: the lowest free number, kept by the device for good.
// Pure: the caller finds the devices and keeps the memory.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace rscom
{

// A serial device the system has now.
struct FoundDevice {
    std::string name;     // the kernel's name, "ttyUSB0"
    std::string path;     // where it is, "/dev/ttyUSB0"
    std::string identity; // what it is known by across renames and replugs
    int builtin = 0;      // a built-in UART's own number (ttyS1 is 2), else 0
};

// A number given to a device, present or not.
struct Remembered {
    int number = 0;
    std::int64_t lastSeen = 0; // seconds since 1970
    std::string identity;

    bool operator==(const Remembered &o) const
    {
        return number == o.number && lastSeen == o.lastSeen && identity == o.identity;
    }
};

constexpr int kHighestNumber = 255;
// COM1 to COM5: the numbers the program offers, kept free for new devices.
constexpr int kOfferedNumbers = 5;
// A present device's last sighting is written down again once it is this old.
constexpr std::int64_t kSightingPeriod = 3600;

struct Numbering {
    std::map<int, FoundDevice> ports; // by number
    bool memoryChanged = false;
};

// Numbers the devices found now. Built-in UARTs have their own numbers;
// every other device keeps the number `memory` has for it, or takes the
// lowest number that neither a present device, nor an absent one in
// `memory`, nor `reserved` has; when none of COM1 to COM5 is free, it takes
// the one of the absent device seen longest ago. `memory` is updated: new
// numbers, numbers taken over, and present devices seen `now`.
Numbering assignNumbers(const std::vector<FoundDevice> &found, std::vector<Remembered> &memory,
                        const std::set<int> &reserved, std::int64_t now);

// The memory as its file holds it, one device a line:
//   number <tab> last seen <tab> identity
// with '#' comment lines. `damaged` tells whether any line had to be dropped.
std::vector<Remembered> readMemory(const std::string &text, bool &damaged);
std::string memoryText(const std::vector<Remembered> &memory);

// Orders kernel names as people do: ttyUSB2 before ttyUSB10.
bool namedBefore(const std::string &a, const std::string &b);

} // namespace rscom
