// Windows' ports numbered into COM1 to COM5 as on Linux: ports that Windows
// numbers COM1 to COM5 keep their numbers, every other port takes the lowest
// free one and keeps it, remembered in %LOCALAPPDATA%\rscom\ports. Ports are
// known to the user by their Windows names ("COM7"), which is also what
// COMSTATUS reports as their path.
#pragma once

#include "core/device.h"
#include "core/keptnumbers.h"
#include "core/portstatus.h"
#include "win/portlist.h"
#include "win/serial.h"

#include <chrono>
#include <functional>
#include <optional>

namespace rscom
{

// A port's name as a user gives it, "COM7", "com7" or "\\.\COM7", made
// "COM7"; empty for anything that is no device name: a path, a drive, a file
// name, an empty text.
std::string portName(const std::string &given);

// The port `name` ("COM7"), opened at \\.\COM7 and known by `identity`.
Target portTarget(const std::string &name, const std::string &identity);

// The ports found now and their numbers, looked for again when the last look
// is older than kFreshFor: a probe of five ports looks once.
class WindowsPorts
{
public:
    using Clock = std::chrono::steady_clock;
    static constexpr std::chrono::seconds kFreshFor{2};

    explicit WindowsPorts(PortListCalls &calls, std::function<Clock::time_point()> now = Clock::now,
                          std::function<std::int64_t()> seconds = nullptr);

    // COMn as numbered now; a remembered port that is out has no path.
    Target target(int port);
    // What is known of the port `name` now; nothing when it was not found.
    std::optional<FoundPort> find(const std::string &name);

private:
    void look();

    PortListCalls &m_calls;
    std::function<Clock::time_point()> m_now;
    std::function<std::int64_t()> m_seconds;
    std::optional<Clock::time_point> m_lookedAt;
    std::vector<FoundPort> m_found;
    std::map<int, FoundDevice> m_numbers;
    KeptNumbers m_kept;
};

// What COMSTATUS tells of a device target: the port's own description, and
// whether it could be opened now. A Bluetooth port is not opened: opening one
// makes Windows connect to its device, which may take many seconds.
PortStatus inspectPort(const Target &target, WindowsPorts &ports, CommCalls &calls);

// Opens the port behind a target; nullptr for a target that is no port.
std::unique_ptr<Device> openPort(const Target &target, CommCalls &calls);

} // namespace rscom
