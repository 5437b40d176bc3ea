// POSIX: device paths from RSCOM_COMn, and the claim that libserialport does
// not make (close-on-exec, exclusive mode, lock).
#include "platform_posix.h"
#include "device.h"
#include "platform.h"

#include <cstdlib>
#include <fcntl.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>

namespace rscom
{

Target resolveTarget(int port)
{
    const std::string name = "RSCOM_COM" + std::to_string(port);
    const char *value = std::getenv(name.c_str());
    if (value == nullptr) return {Target::Kind::Device, "/dev/ttyS" + std::to_string(port - 1)};

    const std::string mapped = value;
    if (mapped == "loopback") return {Target::Kind::Loopback, {}};
    if (mapped.empty() || mapped == "none") return {Target::Kind::None, {}};
    return {Target::Kind::Device, mapped};
}

bool mayBeSerialLine(const std::string &path)
{
    struct stat st {
    };
    return ::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode);
}

bool claimPort(sp_port *port)
{
    int fd = -1;
    return sp_get_port_handle(port, &fd) == SP_OK && claimDescriptor(fd);
}

bool claimDescriptor(int fd)
{
    if (fd < 0) return false;
    if (::fcntl(fd, F_SETFD, FD_CLOEXEC) != 0) return false;
    // The lock keeps out programs that lock as well, TIOCEXCL every other
    // opener that is not privileged.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return false;
    return ::ioctl(fd, TIOCEXCL) == 0;
}

} // namespace rscom
