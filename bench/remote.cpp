// What a port on another machine costs, against a server on 127.0.0.1 in
// this process that reports at once: how soon a change at the server is
// read, how soon a setter reaches the server, and the CPU of a held port
// while nothing moves; beside the same figures of a local virtual port
// (loopback, whose inputs follow its outputs in the call itself).
//
//   bench_remote [ROUNDS]
#include "rscom.h"

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

using Clock = std::chrono::steady_clock;

double cpuMs()
{
    rusage r{};
    getrusage(RUSAGE_SELF, &r);
    return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e3 +
           static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e3;
}

int64_t nowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(Clock::now().time_since_epoch())
        .count();
}

// A server of one port whose DSR follows DTR and CTS follows RTS, reporting
// each change the moment its command arrives; its CTS can also be moved by
// the benchmark. Speaks no more of RFC 2217 than that.
class Server
{
public:
    Server()
    {
        m_listen = ::socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (::bind(m_listen, reinterpret_cast<sockaddr *>(&address), size) != 0 ||
            ::listen(m_listen, 1) != 0 ||
            ::getsockname(m_listen, reinterpret_cast<sockaddr *>(&address), &size) != 0) {
            std::perror("bench_remote: server");
            std::exit(1);
        }
        port = ntohs(address.sin_port);
        m_thread = std::thread([this] { run(); });
    }

    ~Server()
    {
        ::shutdown(m_listen, SHUT_RDWR);
        ::shutdown(m_connection, SHUT_RDWR);
        m_thread.join();
        ::close(m_listen);
        ::close(m_connection);
    }

    // Moves CTS at the server and reports it; when.
    int64_t toggleCts()
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        m_state ^= 0x10;
        const int64_t at = nowUs();
        report(0x01);
        return at;
    }

    int port = 0;
    std::atomic<int64_t> lastCommand{0}; // when the last SET-CONTROL arrived

private:
    void run()
    {
        m_connection = ::accept(m_listen, nullptr, nullptr);
        if (m_connection < 0) return;
        const int on = 1;
        ::setsockopt(m_connection, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
        const unsigned char agree[] = {255, 253, 44};
        ::send(m_connection, agree, sizeof agree, MSG_NOSIGNAL);
        std::vector<unsigned char> pending;
        unsigned char buffer[4096];
        for (;;) {
            const ssize_t n = ::recv(m_connection, buffer, sizeof buffer, 0);
            if (n <= 0) return;
            const int64_t at = nowUs();
            pending.insert(pending.end(), buffer, buffer + n);
            // IAC SB 44 SET-CONTROL value IAC SE
            const unsigned char control[] = {255, 250, 44, 5};
            for (;;) {
                const auto it =
                    std::search(pending.begin(), pending.end(), control, control + sizeof control);
                if (pending.end() - it < 7) break;
                command(it[4], at);
                pending.erase(pending.begin(), it + 7);
            }
        }
    }

    void command(unsigned char value, int64_t at)
    {
        const std::lock_guard<std::mutex> guard(m_lock);
        const unsigned char before = m_state;
        if (value == 8) m_state |= 0x20;
        if (value == 9) m_state &= ~0x20;
        if (value == 11) m_state |= 0x10;
        if (value == 12) m_state &= ~0x10;
        lastCommand = at;
        if (m_state != before) report(static_cast<unsigned char>((m_state ^ before) >> 4));
    }

    void report(unsigned char deltas)
    {
        const unsigned char state = m_state | deltas;
        const unsigned char message[] = {255, 250, 44, 107, state, 255, 240};
        ::send(m_connection, message, sizeof message, MSG_NOSIGNAL);
    }

    int m_listen = -1;
    int m_connection = -1;
    std::mutex m_lock;
    unsigned char m_state = 0;
    std::thread m_thread;
};

struct Spread {
    double median, p99, max;
};

Spread spreadOf(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[v.size() * 99 / 100], v.back()};
}

void print(const char *what, const Spread &s)
{
    std::printf("  %-46s median %8.3f ms, 99%% %8.3f ms, max %8.3f ms\n", what, s.median / 1e3,
                s.p99 / 1e3, s.max / 1e3);
}

// Waits (spinning, 1 s at most) until `line` reads `level`; when, or -1.
int64_t readsAt(int16_t (*line)(), int level)
{
    const int64_t deadline = nowUs() + 1000000;
    while (nowUs() < deadline) {
        if (line() == level) return nowUs();
        std::this_thread::yield();
    }
    return -1;
}

double idleCpuPerSecond(double seconds)
{
    const double before = cpuMs();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    return (cpuMs() - before) / seconds;
}

// A setter's change seen at the other end: at the server for the remote
// port, at the port's own input for the loopback.
Spread setterLatency(int rounds, Server *server)
{
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const int level = (i + 1) % 2;
        const int64_t before = server ? server->lastCommand.load() : 0;
        const int64_t start = nowUs();
        DTR(static_cast<int16_t>(level));
        int64_t at = -1;
        if (server) {
            while (server->lastCommand.load() == before && nowUs() < start + 1000000)
                std::this_thread::yield();
            at = server->lastCommand.load();
        } else {
            at = readsAt(DSR, level);
        }
        times.push_back(static_cast<double>(at - start));
        // Let the report come back before the next round.
        readsAt(DSR, level);
    }
    return spreadOf(times);
}

} // namespace

int main(int argc, char **argv)
{
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 500;
    for (int n = 1; n <= 5; ++n)
        setenv(("RSCOM_COM" + std::to_string(n)).c_str(), "none", 1);

    std::printf("remote port (rfc2217 over 127.0.0.1, a server in this process that reports "
                "at once), %d rounds:\n",
                rounds);
    {
        Server server;
        setenv("RSCOM_COM1", ("rfc2217://127.0.0.1:" + std::to_string(server.port)).c_str(), 1);
        const int64_t opening = nowUs();
        if (OPENCOM("COM1,1200,N,8,1") == 0) {
            std::printf("  the port did not open\n");
            return 1;
        }
        std::printf("  OPENCOM                                        %8.3f ms\n",
                    static_cast<double>(nowUs() - opening) / 1e3);
        readsAt(CTS, 0);
        print("setter reaches the server", setterLatency(rounds, &server));
        std::vector<double> reads;
        for (int i = 0; i < rounds; ++i) {
            const int64_t at = server.toggleCts();
            const int64_t seen = readsAt(CTS, (i + 1) % 2);
            reads.push_back(static_cast<double>(seen - at));
        }
        print("change at the server read", spreadOf(reads));
        std::printf("  CPU of the held port, idle, 5 s:               %8.3f ms/s\n",
                    idleCpuPerSecond(5));
        CLOSECOM();
    }

    std::printf("local virtual port (loopback), %d rounds:\n", rounds);
    setenv("RSCOM_COM2", "loopback", 1);
    OPENCOM("COM2,1200,N,8,1");
    print("setter reaches the input", setterLatency(rounds, nullptr));
    std::printf("  CPU of the held port, idle, 5 s:               %8.3f ms/s\n",
                idleCpuPerSecond(5));
    CLOSECOM();
    return 0;
}
