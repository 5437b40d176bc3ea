// Other POSIX systems: COMn is /dev/ttyS(n-1) unless RSCOM_COMn says
// otherwise, and a device's state is what its node tells.
#include "core/platform.h"
#include "core/diagnostics.h"
#include "posix/errors.h"
#include "posix/serial.h"

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rscom
{

Target defaultTarget(int port)
{
    const std::string path = "/dev/ttyS" + std::to_string(port - 1);
    return {Target::Kind::Device, path, path};
}

Target namedTarget(const std::string &name)
{
    return {Target::Kind::Device, name, name};
}

PortStatus inspect(const Target &target)
{
    PortStatus status{Availability::Available, {}};
    status.info.path = target.path;
    struct stat node {
    };
    int error = 0;
    if (::stat(target.path.c_str(), &node) != 0) {
        error = errno;
        status = statusAfter(error, status.info);
    } else if (!S_ISCHR(node.st_mode)) {
        status.code = Availability::NotSerial;
    } else if (::access(target.path.c_str(), R_OK | W_OK) != 0) {
        status.code = Availability::NoPermission;
        const group *owner = ::getgrgid(node.st_gid);
        if (owner != nullptr && (node.st_mode & S_IRGRP) && (node.st_mode & S_IWGRP))
            status.info.group = owner->gr_name;
    }
    if (status.code != Availability::Available)
        explain(error != 0 ? reasonAfter(error) : reasonOf(status));
    return status;
}

std::unique_ptr<Device> openDevice(const Target &target)
{
    // Only a character device can be a serial line: a FIFO or a regular
    // file is never opened.
    struct stat node {
    };
    if (::stat(target.path.c_str(), &node) != 0) {
        explain(reasonAfter(errno));
        return nullptr;
    }
    if (!S_ISCHR(node.st_mode)) {
        explain(reasonOf({Availability::NotSerial, {}}));
        return nullptr;
    }
    return openSerialPort(target.path);
}

} // namespace rscom
