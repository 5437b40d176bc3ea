// A server's connection on Windows: Winsock, the socket's events and a wake
// event waited on together (WSAEventSelect, WSAWaitForMultipleEvents).
// Windows sockets are not inherited by programs started later unless asked
// (WSA_FLAG_NO_HANDLE_INHERIT), and raise no signal on a closed connection.
#include "network/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <climits>
#include <cstring>
#include <mutex>

namespace rscom
{

namespace
{

bool started()
{
    static const bool ok = [] {
        WSADATA data{};
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return ok;
}

std::string words(int code)
{
    char *text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(code), 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string result = length > 0 ? std::string(text, length) : "error " + std::to_string(code);
    if (text != nullptr) ::LocalFree(text);
    while (!result.empty() &&
           (result.back() == '\n' || result.back() == '\r' || result.back() == '.'))
        result.pop_back();
    return result;
}

DWORD millisecondsTo(Deadline deadline)
{
    if (deadline == Deadline::max()) return WSA_INFINITE;
    const auto left = deadline - std::chrono::steady_clock::now();
    if (left <= Deadline::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return ms > LONG_MAX ? static_cast<DWORD>(LONG_MAX) : static_cast<DWORD>(ms);
}

class WinSocket final : public Socket
{
public:
    WinSocket(WSAEVENT wake, WSAEVENT network) : m_wake(wake), m_network(network) {}

    ~WinSocket() override
    {
        disconnect();
        ::WSACloseEvent(m_wake);
        ::WSACloseEvent(m_network);
    }

    bool connect(const std::vector<Endpoint> &endpoints, Deadline deadline,
                 std::string &error) override
    {
        disconnect();
        error = "no address";
        for (const Endpoint &endpoint : endpoints) {
            const auto *address = reinterpret_cast<const sockaddr *>(endpoint.address.data());
            const SOCKET s = ::WSASocketW(address->sa_family, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                          WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
            if (s == INVALID_SOCKET) {
                error = words(::WSAGetLastError());
                continue;
            }
            const BOOL noDelay = TRUE;
            ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&noDelay),
                         sizeof noDelay);
            // Also makes the socket non-blocking.
            if (::WSAEventSelect(s, m_network, FD_CONNECT | FD_READ | FD_CLOSE) != 0) {
                error = words(::WSAGetLastError());
                ::closesocket(s);
                continue;
            }
            if (reached(s, address, static_cast<int>(endpoint.size), deadline, error)) {
                const std::lock_guard<std::mutex> guard(m_lock);
                m_socket = s;
                return true;
            }
            ::closesocket(s);
            if (error == kWoken || error == kTimedOut) return false;
        }
        return false;
    }

    bool send(const std::string &bytes) override
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (m_socket == INVALID_SOCKET) return false;
        const int sent = ::send(m_socket, bytes.data(), static_cast<int>(bytes.size()), 0);
        return sent == static_cast<int>(bytes.size());
    }

    long receive(uint8_t *buffer, size_t size, Deadline deadline) override
    {
        for (;;) {
            const int n =
                ::recv(m_socket, reinterpret_cast<char *>(buffer), static_cast<int>(size), 0);
            if (n > 0) return n;
            if (n == 0 || ::WSAGetLastError() != WSAEWOULDBLOCK) return -1;
            const int ready = wait(m_socket, deadline, FD_READ | FD_CLOSE);
            if (ready <= 0) return 0;
        }
    }

    void pause(Deadline deadline) override { wait(INVALID_SOCKET, deadline, 0); }

    void wake() override { ::WSASetEvent(m_wake); }

    void disconnect() override
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        if (m_socket != INVALID_SOCKET) ::closesocket(m_socket);
        m_socket = INVALID_SOCKET;
    }

private:
    static constexpr const char *kWoken = "stopped";
    static constexpr const char *kTimedOut = "no answer in time";

    bool reached(SOCKET s, const sockaddr *address, int size, Deadline deadline, std::string &error)
    {
        if (::connect(s, address, size) == 0) return true;
        if (::WSAGetLastError() != WSAEWOULDBLOCK) {
            error = words(::WSAGetLastError());
            return false;
        }
        WSANETWORKEVENTS events{};
        const int ready = wait(s, deadline, FD_CONNECT, &events);
        if (ready <= 0) {
            error = ready < 0 ? kWoken : kTimedOut;
            return false;
        }
        const int failure = events.iErrorCode[FD_CONNECT_BIT];
        if (failure == 0) return true;
        error = words(failure);
        return false;
    }

    // Waits for one of `wanted` on `s` (none for INVALID_SOCKET) until
    // `deadline`: 1 there, 0 the deadline passed, -1 woken. The wake event
    // resets itself as the wait takes it.
    int wait(SOCKET s, Deadline deadline, long wanted, WSANETWORKEVENTS *seen = nullptr)
    {
        const WSAEVENT events[2] = {m_wake, m_network};
        for (;;) {
            const DWORD count = s == INVALID_SOCKET ? 1 : 2;
            const DWORD which =
                ::WSAWaitForMultipleEvents(count, events, FALSE, millisecondsTo(deadline), FALSE);
            if (which == WSA_WAIT_EVENT_0) {
                ::WSAResetEvent(m_wake);
                return -1;
            }
            if (which != WSA_WAIT_EVENT_0 + 1) return 0;
            WSANETWORKEVENTS happened{};
            if (::WSAEnumNetworkEvents(s, m_network, &happened) != 0) return 1;
            if (seen != nullptr) *seen = happened;
            if ((happened.lNetworkEvents & wanted) != 0) return 1;
        }
    }

    std::mutex m_lock; // m_socket, for the threads that send
    SOCKET m_socket = INVALID_SOCKET;
    WSAEVENT m_wake;
    WSAEVENT m_network;
};

} // namespace

std::vector<Endpoint> lookUp(const std::string &host, uint16_t port, bool numeric,
                             std::string &error)
{
    std::vector<Endpoint> endpoints;
    if (!started()) {
        error = "Winsock did not start";
        return endpoints;
    }
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV | (numeric ? AI_NUMERICHOST : 0);
    addrinfo *found = nullptr;
    const int result = ::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found);
    if (result != 0) {
        error = words(result);
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
    if (!started()) return nullptr;
    const WSAEVENT wake = ::WSACreateEvent();
    const WSAEVENT network = ::WSACreateEvent();
    if (wake == WSA_INVALID_EVENT || network == WSA_INVALID_EVENT) {
        if (wake != WSA_INVALID_EVENT) ::WSACloseEvent(wake);
        if (network != WSA_INVALID_EVENT) ::WSACloseEvent(network);
        return nullptr;
    }
    return std::make_unique<WinSocket>(wake, network);
}

} // namespace rscom
