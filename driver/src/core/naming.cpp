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

// The first two ports mapped to "nullmodem" are the cable's two ends, in
// the order of their numbers; any further one has no partner.
int cableEnd(int port)
{
    int end = 0;
    for (int other = 1; other < port; ++other) {
        const char *value = variable(other);
        if (value != nullptr && std::string(value) == "nullmodem") ++end;
    }
    return end < 2 ? end : -1;
}

} // namespace

std::optional<Target> mappedTarget(int port)
{
    const char *value = variable(port);
    if (value == nullptr) return std::nullopt;
    const std::string mapped = value;
    if (mapped == "loopback") return Target{Target::Kind::Loopback, {}, {}};
    if (mapped == "generator") return Target{Target::Kind::Generator, {}, {}};
    if (mapped == "nullmodem") return Target{Target::Kind::NullModem, {}, {}, cableEnd(port)};
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
