#include "network/address.h"

#include "core/decimal.h"

#include <cstring>

namespace rscom
{

namespace
{

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

bool isHex(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

bool isNameCharacter(char c)
{
    return isDigit(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '-' || c == '.' ||
           c == '_';
}

// An IPv6 address as it stands between brackets: hex digits, colons and an
// IPv4 tail's dots, and a zone after a '%' ("fe80::1%eth0"). The system's
// look-up judges the rest.
bool isIpv6(const std::string &text)
{
    const size_t zone = text.find('%');
    const std::string address = text.substr(0, zone);
    if (address.find(':') == std::string::npos) return false;
    for (char c : address) {
        if (!isHex(c) && c != ':' && c != '.') return false;
    }
    if (zone == std::string::npos) return true;
    const std::string name = text.substr(zone + 1);
    if (name.empty()) return false;
    for (char c : name) {
        if (!isNameCharacter(c)) return false;
    }
    return true;
}

bool isIpv4(const std::string &text)
{
    int parts = 0;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('.', start);
        if (end == std::string::npos) end = text.size();
        if (!decimal(std::string_view(text).substr(start, end - start), 255)) return false;
        ++parts;
        start = end + 1;
    }
    return parts == 4;
}

bool isHostName(const std::string &text)
{
    if (text.empty() || text.size() > 253) return false;
    for (char c : text) {
        if (!isNameCharacter(c)) return false;
    }
    return true;
}

} // namespace

bool isRemote(const std::string &value)
{
    return value.compare(0, std::strlen(kRemoteScheme), kRemoteScheme) == 0;
}

std::optional<RemoteAddress> parseRemoteAddress(const std::string &value)
{
    if (!isRemote(value)) return std::nullopt;
    const std::string rest = value.substr(std::strlen(kRemoteScheme));
    RemoteAddress address;
    std::string port;
    if (!rest.empty() && rest[0] == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos || rest.compare(close + 1, 1, ":") != 0) return std::nullopt;
        address.host = rest.substr(1, close - 1);
        port = rest.substr(close + 2);
        if (!isIpv6(address.host)) return std::nullopt;
        address.numeric = true;
    } else {
        // A second colon is an IPv6 address without its brackets.
        const size_t colon = rest.find(':');
        if (colon == std::string::npos) return std::nullopt;
        address.host = rest.substr(0, colon);
        port = rest.substr(colon + 1);
        address.numeric = isIpv4(address.host);
        if (!address.numeric && !isHostName(address.host)) return std::nullopt;
    }
    const std::optional<int64_t> number = decimal(port, 65535);
    if (!number || *number == 0) return std::nullopt;
    address.port = static_cast<uint16_t>(*number);
    return address;
}

Target remoteTarget(const std::string &value)
{
    Target target;
    target.path = value;
    if (parseRemoteAddress(value)) {
        target.kind = Target::Kind::Remote;
        target.identity = value;
    }
    return target;
}

} // namespace rscom
