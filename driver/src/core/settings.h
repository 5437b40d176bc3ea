// Port settings strings: "COMn,baud,parity,databits,stopbits".
#pragma once

#include <optional>

namespace rscom
{

enum class Parity { None, Even, Odd, Mark, Space };

struct Settings {
    int port = 0; // 1 ... 255
    int baud = 0; // > 0
    Parity parity = Parity::None;
    int dataBits = 8; // 5 ... 8
    int stopBits = 1; // 1 or 2

    bool operator==(const Settings &o) const
    {
        return port == o.port && baud == o.baud && parity == o.parity && dataBits == o.dataBits &&
               stopBits == o.stopBits;
    }
};

// Longest settings string accepted, without the terminating zero.
constexpr int kMaxSettingsLength = 63;

// Parses a settings string; nullopt for anything that is not exactly of the
// form above (no spaces, upper-case letters, no leading zeros).
std::optional<Settings> parseSettings(const char *text);

} // namespace rscom
