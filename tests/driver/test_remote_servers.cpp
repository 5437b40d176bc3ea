// Ports on another machine against servers on 127.0.0.1: pyserial's own RFC
// 2217 server over its loop:// port (CTS follows RTS, DSR follows DTR, DCD is
// always on), and servers that fail (rfc2217_server.py
// plays them all). Each test starts its server and ends it by its PID.
#include "testenv.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <csignal>
#include <dirent.h>
#include <functional>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace
{

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// A server of the script, on a port of its choice or the one given.
class Server
{
public:
    Server(const std::string &mode, int port = 0)
    {
        int out[2];
        if (::pipe(out) != 0) return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string portText = std::to_string(port);
        const char *argv[] = {LINTARA_PYTHON, LINTARA_SERVER_SCRIPT, mode.c_str(), portText.c_str(),
                              nullptr};
        if (::posix_spawn(&m_pid, LINTARA_PYTHON, &actions, nullptr, const_cast<char **>(argv),
                          environ) != 0)
            m_pid = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        m_out = out[0];
        const std::string first = line(milliseconds(5000));
        if (first.rfind("port ", 0) == 0)
            m_port = std::stoi(first.substr(5));
        else
            m_why = first.empty() ? "the server did not start" : first;
    }

    ~Server()
    {
        stop();
        ::close(m_out);
    }

    void stop()
    {
        if (m_pid <= 0) return;
        ::kill(m_pid, SIGTERM);
        int status = 0;
        ::waitpid(m_pid, &status, 0);
        m_pid = -1;
    }

    int port() const { return m_port; }
    const std::string &why() const { return m_why; }
    std::string address() const { return "rfc2217://127.0.0.1:" + std::to_string(m_port); }

    // The next line the server printed, waiting `within` at most; empty when
    // there is none.
    std::string line(milliseconds within)
    {
        const auto deadline = Clock::now() + within;
        for (;;) {
            const size_t end = m_buffer.find('\n');
            if (end != std::string::npos) {
                std::string text = m_buffer.substr(0, end);
                m_buffer.erase(0, end + 1);
                return text;
            }
            const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
            pollfd fd{m_out, POLLIN, 0};
            if (left.count() <= 0 || ::poll(&fd, 1, static_cast<int>(left.count())) <= 0) return {};
            char chunk[256];
            const ssize_t n = ::read(m_out, chunk, sizeof chunk);
            if (n <= 0) return {};
            m_buffer.append(chunk, static_cast<size_t>(n));
        }
    }

    // Every line printed until none comes for `quiet`.
    std::vector<std::string> lines(milliseconds quiet = milliseconds(300))
    {
        std::vector<std::string> all;
        for (std::string text = line(quiet); !text.empty(); text = line(quiet))
            all.push_back(text);
        return all;
    }

private:
    pid_t m_pid = -1;
    int m_out = -1;
    int m_port = 0;
    std::string m_why;
    std::string m_buffer;
};

bool eventually(const std::function<bool()> &holds, milliseconds within)
{
    const auto deadline = Clock::now() + within;
    while (!holds()) {
        if (Clock::now() > deadline) return false;
        std::this_thread::sleep_for(milliseconds(5));
    }
    return true;
}

int openDescriptors()
{
    int count = 0;
    DIR *dir = ::opendir("/proc/self/fd");
    while (dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    ::closedir(dir);
    return count - 1;
}

class RemoteServers : public testing::Test
{
protected:
    void SetUp() override { mapNoPorts(); }
    void TearDown() override { closePorts(); }

    // Maps COM1 to the server and opens it.
    int16_t open(const Server &server)
    {
        mapPort(1, server.address());
        return OPENCOM("COM1,9600,E,7,2");
    }
};

#define START(server, ...)                                                                         \
    Server server(__VA_ARGS__);                                                                    \
    if (server.port() == 0) GTEST_SKIP() << server.why();

TEST_F(RemoteServers, OutputsComeBackAsInputs)
{
    START(server, "pyserial");
    ASSERT_NE(open(server), 0);
    // The port starts as a local one does: break, DTR and RTS off.
    EXPECT_EQ(server.lines(),
              (std::vector<std::string>{"control 1", "control 6", "control 9", "control 12"}));
    EXPECT_TRUE(eventually([] { return lines() == Lines{1, 0, 0, 0}; }, milliseconds(2000)));
    rscom_edge edges[8];
    EDGES(edges, 8); // the opening's own
    const struct {
        void (*set)(int16_t);
        int16_t level;
        Lines expected;
    } steps[] = {{DTR, 1, {1, 1, 0, 0}},
                 {RTS, 1, {1, 1, 1, 0}},
                 {DTR, 0, {1, 0, 1, 0}},
                 {RTS, 0, {1, 0, 0, 0}}};
    for (const auto &step : steps) {
        step.set(step.level);
        EXPECT_TRUE(eventually([&] { return lines() == step.expected; }, milliseconds(2000)));
    }
    ASSERT_EQ(EDGES(edges, 8), 4);
    EXPECT_EQ(edges[0].line, RSCOM_LINE_DSR);
    EXPECT_EQ(edges[0].level, 1);
    EXPECT_EQ(edges[3].line, RSCOM_LINE_CTS);
    EXPECT_EQ(edges[3].level, 0);
    EXPECT_EQ(edges[3].count, edges[1].count + 1);
    // Opened again: the settings again, over the same connection, and the
    // outputs as they are.
    DTR(1);
    server.lines();
    ASSERT_NE(open(server), 0);
    EXPECT_EQ(server.lines(), std::vector<std::string>{"control 1"});
    EXPECT_EQ(lines(), (Lines{1, 1, 0, 0}));
}

TEST_F(RemoteServers, LostConnectionBringsOutputsBack)
{
    auto server = std::make_unique<Server>("pyserial");
    if (server->port() == 0) GTEST_SKIP() << server->why();
    const int port = server->port();
    ASSERT_NE(open(*server), 0);
    DTR(1);
    ASSERT_TRUE(eventually([] { return lines() == Lines{1, 1, 0, 0}; }, milliseconds(2000)));
    rscom_edge edges[8];
    std::array<int, 5> counts{}; // each line's count as last told
    for (int i = 0, n = EDGES(edges, 8); i < n; ++i)
        counts[static_cast<size_t>(edges[i].line)] = edges[i].count;

    server.reset();
    EXPECT_TRUE(eventually([] { return lines() == Lines{-1, -1, -1, -1}; }, milliseconds(2000)));
    EXPECT_EQ(EDGES(edges, 8), RSCOM_EDGES_NO_PORT);

    // loop:// starts with DTR and RTS on: RTS off comes back from the driver.
    server = std::make_unique<Server>("pyserial", port);
    ASSERT_EQ(server->port(), port) << server->why();
    EXPECT_TRUE(eventually([] { return lines() == Lines{1, 1, 0, 0}; }, milliseconds(3000)));
    // The outputs as last set, with no off and on between.
    EXPECT_EQ(server->lines(),
              (std::vector<std::string>{"control 1", "control 6", "control 8", "control 12"}));
    DTR(0);
    EXPECT_TRUE(eventually([] { return lines() == Lines{1, 0, 0, 0}; }, milliseconds(2000)));
    // The counts go on from before the loss. (The new server's CTS came up
    // with its port and went at the driver's RTS off: a change.)
    const int n = EDGES(edges, 8);
    ASSERT_GE(n, 1);
    for (int i = 0; i < n; ++i) {
        int &count = counts[static_cast<size_t>(edges[i].line)];
        EXPECT_EQ(edges[i].count, count + 1) << "line " << edges[i].line;
        count = edges[i].count;
    }
    EXPECT_EQ(edges[n - 1].line, RSCOM_LINE_DSR);
    EXPECT_EQ(edges[n - 1].level, 0);
}

TEST_F(RemoteServers, SilentServerIsNotOpenedWithinTwoSeconds)
{
    START(server, "silent");
    mapPort(1, "loopback");
    ASSERT_EQ(OPENCOM("COM1,1200,N,8,1"), 1);
    DTR(1);
    const int before = openDescriptors();
    mapPort(2, server.address());
    const auto start = Clock::now();
    EXPECT_EQ(OPENCOM("COM2,1200,N,8,1"), 0);
    EXPECT_LT(Clock::now() - start, milliseconds(2500));
    EXPECT_EQ(openDescriptors(), before);
    // The current port is as it was.
    EXPECT_EQ(DSR(), 1);
}

TEST_F(RemoteServers, DroppedConnectionReadsMinusOneAndComesBack)
{
    START(server, "drop");
    ASSERT_NE(open(server), 0);
    EXPECT_TRUE(eventually([] { return lines() == Lines{0, 1, 1, 0}; }, milliseconds(2000)));
    EXPECT_TRUE(eventually([] { return lines() == Lines{-1, -1, -1, -1}; }, milliseconds(2000)));
    EXPECT_TRUE(eventually([] { return lines() == Lines{0, 1, 1, 0}; }, milliseconds(3000)));
}

TEST_F(RemoteServers, GarbageLeavesTheNextReportReadRight)
{
    START(server, "garbage");
    ASSERT_NE(open(server), 0);
    EXPECT_TRUE(eventually([] { return lines() == Lines{1, 0, 0, 1}; }, milliseconds(10000)));
    EXPECT_EQ(OPENCOM("COM1,1200,N,8,1"), 1);
}

} // namespace
