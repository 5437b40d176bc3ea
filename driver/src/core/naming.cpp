#include "core/naming.h"

#include "core/platform.h"
#include "network/address.h"

#include <cstdlib>
#include <string>

namespace rscom
{

namespace
{

const char *variable(int port)
{
    const std::string name = "RSCOM_COM" + std::to_string(port);
    return std::getenv(name.c_str());
}

} // namespace

std::optional<Target> mappedTarget(int port)
{
    const char *value = variable(port);
    if (value == nullptr) return std::nullopt;
    const std::string mapped = value;
    if (mapped == "loopback") return Target{Target::Kind::Loopback, {}, {}};
    if (mapped == "generator") return Target{Target::Kind::Generator, {}, {}};
    if (mapped.empty() || mapped == "none") return Target{};
    if (isRemote(mapped)) return remoteTarget(mapped);
    return namedTarget(mapped);
}

std::vector<int> mappedPorts()
{
    std::vector<int> ports;
    for (int port = 1; port <= 255; ++port) {
        if (variable(port) != nullptr) ports.push_back(port);
    }
    return ports;
}

Target resolveTarget(int port)
{
    if (std::optional<Target> mapped = mappedTarget(port)) return *mapped;
    return defaultTarget(port);
}

} // namespace rscom
