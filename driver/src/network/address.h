// Where a port on another machine is: RSCOM_COMn=rfc2217://host:port.
#pragma once

#include "core/device.h"

#include <cstdint>
#include <optional>
#include <string>

namespace rscom
{

constexpr const char *kRemoteScheme = "rfc2217://";

struct RemoteAddress {
    std::string host; // a name, an IPv4 address, or an IPv6 address (without its brackets)
    uint16_t port = 0;
    bool numeric = false; // an address: nothing to look up
};

// Whether an RSCOM_COMn value names a port on another machine, well formed
// or not.
bool isRemote(const std::string &value);

// rfc2217://host:port, the host a name, an IPv4 address or an IPv6 address
// in brackets, the port 1 to 65535; nothing else: no path, no options after
// a '?'.
std::optional<RemoteAddress> parseRemoteAddress(const std::string &value);

// The target an rfc2217:// value leads to: the port on another machine, its
// path the value as given; for a malformed one no port, with the value as its
// path.
Target remoteTarget(const std::string &value);

} // namespace rscom
