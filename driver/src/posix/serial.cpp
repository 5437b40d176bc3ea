// Real serial ports on POSIX systems, through libserialport.
#include "posix/serial.h"

#include "core/diagnostics.h"
#include "core/edgewatch.h"
#include "posix/errors.h"

#include <libserialport.h>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

namespace rscom
{

namespace
{

// The port's lock, taken on our own first open before libserialport opens
// the port and touches its settings, and held until the port is closed: a
// port that another program holds with a lock, or that one is seen to hold
// after this open, is never configured. This open itself may raise DTR and
// RTS, as every open of a tty does.
class Reservation
{
public:
    explicit Reservation(const std::string &path);
    ~Reservation();
    Reservation(const Reservation &) = delete;
    Reservation &operator=(const Reservation &) = delete;

    // False when the port could not be opened or another program holds its
    // lock; error() tells why.
    bool held() const;
    int error() const { return m_error; }

    // Makes the open port ours alone and keeps it out of programs we start.
    bool claim(sp_port *port);

private:
    int m_fd = -1;
    int m_error = 0;
};

Reservation::Reservation(const std::string &path)
{
    m_fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_fd < 0) {
        m_error = errno;
    } else if (::flock(m_fd, LOCK_EX | LOCK_NB) != 0) {
        m_error = errno;
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

// The lock belongs to the open file of our first descriptor, which
// libserialport does not know. That open file takes the place of
// libserialport's own (dup2 closes libserialport's and puts a duplicate of
// ours under its number), so the lock is never let go: the port holds one
// open file, locked from our first open to its close. Its status flags are
// those libserialport opens with (read and write, non-blocking, no
// controlling terminal); the settings are the device's, not the open file's.
bool Reservation::claim(sp_port *port)
{
    int fd = -1;
    if (m_fd < 0 || sp_get_port_handle(port, &fd) != SP_OK) return false;
    if (::dup2(m_fd, fd) < 0 || !claimDescriptor(fd)) {
        explain(reasonAfter(errno));
        return false;
    }
    ::close(m_fd);
    m_fd = -1;
    return true;
}

// Settings libserialport leaves as the port had them: after this the port
// has no flow control of any kind.
bool clearFlowControl(sp_port *port)
{
    // libserialport looks for CRTSCTS in the wrong flag word when it turns
    // flow control off, so a port that another program left with hardware
    // flow control would keep it.
    int fd = -1;
    termios settings{};
    if (sp_get_port_handle(port, &fd) != SP_OK) return false;
    if (::tcgetattr(fd, &settings) == 0) {
        if ((settings.c_cflag & CRTSCTS) == 0) return true;
        settings.c_cflag &= ~static_cast<tcflag_t>(CRTSCTS);
        if (::tcsetattr(fd, TCSANOW, &settings) == 0) return true;
    }
    explain(std::string("cannot turn hardware flow control off: ") + std::strerror(errno));
    return false;
}

// The one place where a libserialport result becomes the driver's: any
// failure of an open port means the port no longer answers. The failure is
// told, in the system's words where the system refused; errno stays the
// system's answer, for callers that tell one refusal from another.
bool succeeded(sp_return result)
{
    if (result == SP_OK) return true;
    if (!debugging()) return false;
    const int error = errno;
    switch (result) {
    case SP_ERR_FAIL: {
        char *message = sp_last_error_message();
        explain(message != nullptr ? message : "failed");
        sp_free_error_message(message);
        break;
    }
    case SP_ERR_SUPP:
        explain("not supported by this port");
        break;
    case SP_ERR_MEM:
        explain("out of memory");
        break;
    default:
        explain("refused by libserialport");
        break;
    }
    errno = error;
    return false;
}

sp_parity parityOf(Parity parity)
{
    switch (parity) {
    case Parity::None:
        return SP_PARITY_NONE;
    case Parity::Even:
        return SP_PARITY_EVEN;
    case Parity::Odd:
        return SP_PARITY_ODD;
    case Parity::Mark:
        return SP_PARITY_MARK;
    case Parity::Space:
        return SP_PARITY_SPACE;
    }
    return SP_PARITY_NONE;
}

class SerialPort final : public Device
{
public:
    explicit SerialPort(sp_port *port) : m_port(port) {}

    ~SerialPort() override
    {
        // The thread that waits on the descriptor ends first.
        const bool handedOver = m_edges && m_edges->stop();
        m_edges.reset();
        if (!handedOver) sp_close(m_port);
        sp_free_port(m_port);
    }

    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    bool configure(const Settings &s) override
    {
        sp_port_config *config = nullptr;
        if (!succeeded(sp_new_config(&config))) return false;
        // A new configuration leaves every field it does not set (DTR, RTS)
        // as the port has it.
        const bool ok = succeeded(sp_set_config_baudrate(config, s.baud)) &&
                        succeeded(sp_set_config_bits(config, s.dataBits)) &&
                        succeeded(sp_set_config_parity(config, parityOf(s.parity))) &&
                        succeeded(sp_set_config_stopbits(config, s.stopBits)) &&
                        succeeded(sp_set_config_flowcontrol(config, SP_FLOWCONTROL_NONE)) &&
                        succeeded(sp_set_config(m_port, config)) && clearFlowControl(m_port);
        sp_free_config(config);
        return ok;
    }

    bool setOutput(Output line, bool active) override
    {
        switch (line) {
        case Output::Txd:
            return setBreak(active);
        case Output::Dtr:
            return succeeded(sp_set_dtr(m_port, active ? SP_DTR_ON : SP_DTR_OFF));
        case Output::Rts:
            return succeeded(sp_set_rts(m_port, active ? SP_RTS_ON : SP_RTS_OFF));
        }
        return false;
    }

    int readInput(Input line) override
    {
        sp_signal signals{};
        if (!succeeded(sp_get_signals(m_port, &signals))) return -1;
        if (m_edges) {
            m_edges->seen({(signals & SP_SIG_DCD) != 0, (signals & SP_SIG_DSR) != 0,
                           (signals & SP_SIG_CTS) != 0, (signals & SP_SIG_RI) != 0});
        }
        return (signals & maskOf(line)) != 0 ? 1 : 0;
    }

    void recordEdges(const std::shared_ptr<EdgeRecord> &record) override
    {
        int fd = -1;
        if (sp_get_port_handle(m_port, &fd) == SP_OK) m_edges = watchEdges(fd, record);
    }

    EdgeState updateEdges() override { return m_edges ? m_edges->update() : EdgeState::Untold; }

private:
    // A device that cannot send a break (many CDC-ACM devices) still opens:
    // on it TxD changes nothing, and the level is only remembered.
    bool setBreak(bool active)
    {
        if (m_noBreak) return true;
        if (succeeded(active ? sp_start_break(m_port) : sp_end_break(m_port))) return true;
        m_noBreak = errno == EOPNOTSUPP || errno == ENOTTY;
        return m_noBreak;
    }

    static int maskOf(Input line)
    {
        switch (line) {
        case Input::Dcd:
            return SP_SIG_DCD;
        case Input::Dsr:
            return SP_SIG_DSR;
        case Input::Cts:
            return SP_SIG_CTS;
        case Input::Ri:
            return SP_SIG_RI;
        }
        return 0;
    }

    sp_port *m_port;
    bool m_noBreak = false;
    std::unique_ptr<EdgeWatch> m_edges;
};

} // namespace

std::unique_ptr<Device> openSerialPort(const std::string &path, const HolderCheck &stillFree)
{
    sp_port *port = nullptr;
    if (!succeeded(sp_get_port_by_name(path.c_str(), &port))) return nullptr;
    Reservation reservation(path);
    if (!reservation.held()) {
        explain(reasonAfter(reservation.error()));
        sp_free_port(port);
        return nullptr;
    }
    // A program that opened the port between the caller's check and our
    // open is seen now, before libserialport touches the settings.
    if (stillFree && !stillFree()) {
        sp_free_port(port);
        return nullptr;
    }
    // sp_open closes what it opened when it fails; from here on the
    // SerialPort closes and frees the port on every way out.
    if (!succeeded(sp_open(port, SP_MODE_READ_WRITE))) {
        sp_free_port(port);
        return nullptr;
    }
    auto device = std::make_unique<SerialPort>(port);
    if (!reservation.claim(port)) return nullptr;
    return device;
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
