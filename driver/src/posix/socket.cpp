// A server's connection on POSIX systems: a non-blocking socket, waited on
// with poll() together with a pipe that wakes the waiting thread.
#include "network/socket.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace rscom
{

namespace
{

// A closed connection answers a send with EPIPE, not with SIGPIPE: Linux
// takes MSG_NOSIGNAL at each send, macOS SO_NOSIGPIPE once on the socket.
#if defined(MSG_NOSIGNAL)
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif /* MSG_NOSIGNAL */

// Close-on-exec from the start where the system can (Linux); elsewhere (macOS)
// just after, which leaves a moment in which a fork elsewhere in the program
// would take the descriptor along.
#if defined(SOCK_CLOEXEC)
int cloexecSocket(int family)
{
    return ::socket(family, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
}

bool cloexecPipe(int fds[2])
{
    return ::pipe2(fds, O_CLOEXEC | O_NONBLOCK) == 0;
}
#else
bool closeOnExecNonBlocking(int fd)
{
    return ::fcntl(fd, F_SETFD, FD_CLOEXEC) == 0 &&
           ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK) == 0;
}

int cloexecSocket(int family)
{
    const int fd = ::socket(family, SOCK_STREAM, 0);
    if (fd >= 0 && !closeOnExecNonBlocking(fd)) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool cloexecPipe(int fds[2])
{
    if (::pipe(fds) != 0) return false;
    if (closeOnExecNonBlocking(fds[0]) && closeOnExecNonBlocking(fds[1])) return true;
    ::close(fds[0]);
    ::close(fds[1]);
    return false;
}
#endif /* SOCK_CLOEXEC */

int newSocket(int family)
{
    const int fd = cloexecSocket(family);
    if (fd < 0) return -1;
#if defined(SO_NOSIGPIPE)
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &on, sizeof on);
#endif /* SO_NOSIGPIPE */
    // Each command goes out at once, not held back for the next one.
    const int noDelay = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
    return fd;
}

// Milliseconds from now to `deadline`, rounded up; -1 for no deadline.
int millisecondsTo(Deadline deadline)
{
    if (deadline == Deadline::max()) return -1;
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= Deadline::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
}

class PosixSocket final : public Socket
{
public:
    PosixSocket(int wakeRead, int wakeWrite) : m_wakeRead(wakeRead), m_wakeWrite(wakeWrite) {}

    ~PosixSocket() override
    {
        disconnect();
        ::close(m_wakeRead);
        ::close(m_wakeWrite);
    }

    bool connect(const std::vector<Endpoint> &endpoints, Deadline deadline,
                 std::string &error) override
    {
        disconnect();
        error = "no address";
        for (const Endpoint &endpoint : endpoints) {
            const auto *address = reinterpret_cast<const sockaddr *>(endpoint.address.data());
            const int fd = newSocket(address->sa_family);
            if (fd < 0) {
                error = std::strerror(errno);
                continue;
            }
            if (reached(fd, address, static_cast<socklen_t>(endpoint.size), deadline, error)) {
                const std::lock_guard<std::mutex> guard(m_lock);
                m_fd = fd;
                return true;
            }
            ::close(fd);
            if (error == kWoken || error == kTimedOut) return false;
        }
        return false;
    }

    bool send(const std::string &bytes) override
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (m_fd < 0) return false;
        ssize_t sent = -1;
        do {
            sent = ::send(m_fd, bytes.data(), bytes.size(), kSendFlags);
        } while (sent < 0 && errno == EINTR);
        return sent == static_cast<ssize_t>(bytes.size());
    }

    long receive(uint8_t *buffer, size_t size, Deadline deadline) override
    {
        for (;;) {
            const ssize_t n = ::recv(m_fd, buffer, size, 0);
            if (n > 0) return static_cast<long>(n);
            if (n == 0) return -1;
            if (errno == EINTR) continue;
            if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
            const int ready = wait(m_fd, POLLIN, deadline);
            if (ready <= 0) return 0;
        }
    }

    void pause(Deadline deadline) override { wait(-1, 0, deadline); }

    void wake() override
    {
        const char byte = 1;
        // A full pipe wakes as well as one more byte would.
        [[maybe_unused]] const ssize_t written = ::write(m_wakeWrite, &byte, 1);
    }

    void disconnect() override
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (m_fd >= 0) ::close(m_fd);
        m_fd = -1;
    }

private:
    static constexpr const char *kWoken = "stopped";
    static constexpr const char *kTimedOut = "no answer in time";

    bool reached(int fd, const sockaddr *address, socklen_t size, Deadline deadline,
                 std::string &error)
    {
        if (::connect(fd, address, size) == 0) return true;
        if (errno != EINPROGRESS && errno != EINTR) {
            error = std::strerror(errno);
            return false;
        }
        const int ready = wait(fd, POLLOUT, deadline);
        if (ready <= 0) {
            error = ready < 0 ? kWoken : kTimedOut;
            return false;
        }
        int failure = 0;
        socklen_t length = sizeof failure;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &failure, &length) != 0) failure = errno;
        if (failure == 0) return true;
        error = std::strerror(failure);
        return false;
    }

    // Waits for `events` on `fd` (none for -1) until `deadline`: 1 ready, 0
    // the deadline passed, -1 woken. A wake is used up here.
    int wait(int fd, short events, Deadline deadline)
    {
        pollfd fds[2] = {{m_wakeRead, POLLIN, 0}, {fd, events, 0}};
        const nfds_t count = fd >= 0 ? 2 : 1;
        for (;;) {
            const int n = ::poll(fds, count, millisecondsTo(deadline));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) return n == 0 ? 0 : -1;
            if (fds[0].revents != 0) {
                char drain[64];
                while (::read(m_wakeRead, drain, sizeof drain) > 0) {
                }
                return -1;
            }
            return 1;
        }
    }

    std::mutex m_lock; // m_fd, for the threads that send
    int m_fd = -1;
    int m_wakeRead;
    int m_wakeWrite;
};

} // namespace

std::vector<Endpoint> lookUp(const std::string &host, uint16_t port, bool numeric,
                             std::string &error)
{
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | (numeric ? AI_NUMERICHOST : 0);
    addrinfo *found = nullptr;
    const int result = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    std::vector<Endpoint> endpoints;
    if (result != 0) {
        error = ::gai_strerror(result);
        return endpoints;
    }
    for (const addrinfo *a = found; a != nullptr; a = a->ai_next) {
        Endpoint endpoint;
        if (a->ai_addrlen > endpoint.address.size()) continue;
        std::memcpy(endpoint.address.data(), a->ai_addr, a->ai_addrlen);
        endpoint.size = a->ai_addrlen;
        endpoints.push_back(endpoint);
    }
    ::freeaddrinfo(found);
    return endpoints;
}

std::unique_ptr<Socket> Socket::create()
{
    int fds[2] = {-1, -1};
    if (!cloexecPipe(fds)) return nullptr;
    return std::make_unique<PosixSocket>(fds[0], fds[1]);
}

} // namespace rscom
