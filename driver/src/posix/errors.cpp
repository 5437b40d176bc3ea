#include "posix/errors.h"

#include "core/diagnostics.h"

#include <cerrno>
#include <cstring>

namespace rscom
{

PortStatus statusAfter(int error, PortInfo info)
{
    Availability code = Availability::Missing;
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
        code = Availability::NoPermission;
        break;
    // TIOCEXCL of another program, or its lock.
    case EBUSY:
    case EWOULDBLOCK:
        code = Availability::InUse;
        break;
    // A device that knows no terminal calls.
    case ENOTTY:
        code = Availability::NotSerial;
        break;
    default:
        // ENOENT, ENODEV, ENXIO (a device that went away), EIO, and whatever
        // else keeps the device from being reached.
        break;
    }
    return {code, std::move(info)};
}

std::string reasonAfter(int error)
{
    return reasonOf(statusAfter(error, {}), std::strerror(error));
}

} // namespace rscom
