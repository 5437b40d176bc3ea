// A TCP connection to a server: the system's socket calls, in one file per
// system (posix/socket.cpp, win/socket.cpp). The socket is close-on-exec, and
// a connection the server closed never raises SIGPIPE.
#pragma once

#include <array>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace rscom
{

using Deadline = std::chrono::steady_clock::time_point;

// One address of a server, as the system's look-up gave it.
struct Endpoint {
    std::array<unsigned char, 128> address{}; // a sockaddr
    size_t size = 0;
};

// The server's addresses (blocking, as long as the system's look-up takes);
// empty when there is none, with the system's words in `error`.
std::vector<Endpoint> lookUp(const std::string &host, uint16_t port, bool numeric,
                             std::string &error);

// One thread owns the connection: it connects, receives and disconnects.
// Any thread may send and wake it.
class Socket
{
public:
    // nullptr when the system gives no socket.
    static std::unique_ptr<Socket> create();
    virtual ~Socket() = default;

    // Connects to the first of `endpoints` that accepts, by `deadline`;
    // false (with the system's words in `error`) when none does, or when
    // woken meanwhile.
    virtual bool connect(const std::vector<Endpoint> &endpoints, Deadline deadline,
                         std::string &error) = 0;
    // Sends all of `bytes` at once without waiting; false when the connection
    // cannot take them (it is broken, or the server reads nothing).
    virtual bool send(const std::string &bytes) = 0;
    // Waits for bytes until `deadline` or a wake, and reads what is there:
    // how many; 0 when the wait ended with none; -1 when the connection ended.
    virtual long receive(uint8_t *buffer, size_t size, Deadline deadline) = 0;
    // Waits until `deadline` or a wake.
    virtual void pause(Deadline deadline) = 0;
    // Ends the owner's current or next wait at once.
    virtual void wake() = 0;
    // Closes the connection, if there is one.
    virtual void disconnect() = 0;
};

} // namespace rscom
