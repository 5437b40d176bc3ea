// Windows: COMn is a port Windows has, numbered into COM1 to COM5 as on
// Linux (win/ports.h); an RSCOM_COMn variable names another port by its
// Windows name.
#include "core/platform.h"
#include "win/ports.h"
#include "win/serial.h"

namespace rscom
{

namespace
{

WindowsPorts &ports()
{
    static WindowsPorts found(systemPortList());
    return found;
}

} // namespace

Target defaultTarget(int port)
{
    return ports().target(port);
}

Target namedTarget(const std::string &name)
{
    const std::string port = portName(name);
    // Kept as given, so that COMSTATUS shows it: it opens nothing.
    if (port.empty()) return {Target::Kind::Device, name, name};
    return portTarget(port, port);
}

PortStatus inspect(const Target &target)
{
    return inspectPort(target, ports(), systemCalls());
}

std::unique_ptr<Device> openDevice(const Target &target)
{
    return openPort(target, systemCalls());
}

} // namespace rscom
