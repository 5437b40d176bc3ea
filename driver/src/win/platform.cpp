// Windows: COMn is the port COMn, \\.\COMn; an RSCOM_COMn variable names
// another port by its Windows name. Ports are known by that name ("COM7"),
// which is also what COMSTATUS reports as their path.
#include "core/platform.h"
#include "core/diagnostics.h"
#include "win/serial.h"

#include <string_view>

namespace rscom
{

namespace
{

// Where Windows keeps its devices for CreateFile.
const std::string kDevices = "\\\\.\\";

// A port's name as a user gives it, "COM7", "com7" or "\\.\COM7", made
// "COM7"; empty for anything that is no device name: a path, a drive, a file
// name, an empty text.
std::string portName(const std::string &given)
{
    std::string name =
        given.compare(0, kDevices.size(), kDevices) == 0 ? given.substr(kDevices.size()) : given;
    if (name.empty() || name.size() > 64) return {};
    for (char &c : name) {
        const auto byte = static_cast<unsigned char>(c);
        // Printable ASCII, without what Windows keeps for paths.
        if (byte <= ' ' || byte >= 0x7F) return {};
        if (std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) return {};
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return name;
}

Target portTarget(const std::string &name)
{
    return {Target::Kind::Device, kDevices + name, name};
}

// Only a target made by portTarget leads to a port; anything else was given
// as no device name.
bool isPort(const Target &target)
{
    return !target.identity.empty() && portName(target.identity) == target.identity &&
           target.path == kDevices + target.identity;
}

// Port names are ASCII.
std::wstring wide(const std::string &ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

} // namespace

Target defaultTarget(int port)
{
    return portTarget("COM" + std::to_string(port));
}

Target namedTarget(const std::string &name)
{
    const std::string port = portName(name);
    // Kept as given, so that COMSTATUS shows it: it opens nothing.
    if (port.empty()) return {Target::Kind::Device, name, name};
    return portTarget(port);
}

PortStatus inspect(const Target &target)
{
    PortStatus status;
    status.info.path = target.identity;
    if (!isPort(target)) {
        explain("no port of that name: give a Windows port name such as COM7");
        return status;
    }
    status.code = serialPortState(wide(target.identity), wide(target.path), systemCalls());
    return status;
}

std::unique_ptr<Device> openDevice(const Target &target)
{
    if (!isPort(target)) {
        explain("no port of that name: give a Windows port name such as COM7");
        return nullptr;
    }
    return openSerialPort(wide(target.path), systemCalls());
}

} // namespace rscom
