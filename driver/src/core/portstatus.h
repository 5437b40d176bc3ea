// Whether a port could be opened now, and what is known of its device: the
// answer of COMSTATUS, told without opening anything.
#pragma once

#include <cstdint>
#include <string>

namespace rscom
{

// The values are those of rscom.h's RSCOM_ result codes.
enum class Availability : std::int16_t {
    Available = 1,
    Missing = 0,
    NoPermission = -1,
    InUse = -2,
    Console = -3,
    NotSerial = -4,
};

// What can be told of a port's device; empty where unknown.
struct PortInfo {
    std::string path; // device path, or "loopback"
    std::string product, maker, serial;
    std::string group;   // NoPermission: the device's group
    std::string program; // InUse: the other program's name
    std::string pid;     // InUse: its process id
};

struct PortStatus {
    Availability code = Availability::Missing;
    PortInfo info;
};

// The seven fields of `info` joined by tabs, each with its tabs and control
// characters made spaces and any byte that is not UTF-8 made '?'.
std::string detailText(const PortInfo &info);

// A value read from a device or the system as one line: control characters
// made spaces, no surrounding blanks.
std::string oneLine(std::string value);

// Copies `text` into `out` as a NUL-terminated string of at most `size`
// bytes, cut before a character that would not fit whole. Nothing for a null
// `out` or a size below 1.
void copyText(const std::string &text, char *out, std::int16_t size);

} // namespace rscom
