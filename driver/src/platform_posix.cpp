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
#include <unistd.h>

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

Reservation::Reservation(const std::string &path)
{
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd >= 0 && ::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

Reservation::~Reservation()
{
    if (m_fd >= 0) ::close(m_fd);
}

bool Reservation::held() const
{
    return m_fd >= 0;
}

// The lock belongs to our first descriptor, which libserialport does not
// know; it moves to the descriptor libserialport opened, so that the port
// holds one descriptor only.
bool Reservation::claim(sp_port *port)
{
    int fd = -1;
    if (m_fd < 0 || sp_get_port_handle(port, &fd) != SP_OK) return false;
    ::close(m_fd);
    m_fd = -1;
    return claimDescriptor(fd);
}

bool clearFlowControl(sp_port *port)
{
    // libserialport looks for CRTSCTS in the wrong flag word when it turns
    // flow control off, so a port that another program left with hardware
    // flow control would keep it.
    int fd = -1;
    termios settings{};
    if (sp_get_port_handle(port, &fd) != SP_OK || ::tcgetattr(fd, &settings) != 0) return false;
    if ((settings.c_cflag & CRTSCTS) == 0) return true;
    settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
    return ::tcsetattr(fd, TCSANOW, &settings) == 0;
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
