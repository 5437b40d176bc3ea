// The Linux watch over a port whose system calls the test plays: a wait that
// blocks as TIOCMIWAIT does (until a change or a signal), counters and
// levels the test sets, and each kind of tty driver (waits and counts, waits
// only, counts only, neither). The ThreadSanitizer build runs the thread.
#include "core/edgewatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <poll.h>
#include <thread>
#include <unistd.h>

using namespace rscom;
using namespace std::chrono;

namespace
{

int threads()
{
    const auto tasks = std::filesystem::directory_iterator("/proc/self/task");
    return static_cast<int>(std::distance(begin(tasks), end(tasks)));
}

// A played port: a byte written into `change` is a line change that ends a
// wait; a signal ends it with EINTR, as for TIOCMIWAIT.
struct PlayedPort {
    int change[2] = {-1, -1};
    bool canWait = true;
    bool canCount = true;
    bool deaf = false;         // a wait that only a signal ends, as an 8250's at a hang-up
    std::atomic<int> error{0}; // every call fails with it, once the device is gone
    std::atomic<uint32_t> dcdCount{0};
    std::atomic<bool> dcd{false};

    PlayedPort() { EXPECT_EQ(::pipe(change), 0); }
    ~PlayedPort()
    {
        ::close(change[0]);
        ::close(change[1]);
    }

    ModemCalls calls()
    {
        ModemCalls c;
        c.wait = [this](int fd) {
            if (!canWait) return ENOTTY;
            if (deaf) return ::poll(nullptr, 0, -1) < 0 ? errno : 0;
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, -1) < 0) return errno;
            if (error != 0) return error.load();
            char byte = 0;
            return ::read(fd, &byte, 1) == 1 ? 0 : EIO;
        };
        c.counts = [this](int, std::array<uint32_t, 4> &counts) {
            if (!canCount) return EINVAL;
            if (error != 0) return error.load();
            counts = {dcdCount.load(), 0, 0, 0};
            return 0;
        };
        c.levels = [this](int, std::array<bool, 4> &levels) {
            if (error != 0) return error.load();
            levels = {dcd.load(), false, false, false};
            return 0;
        };
        return c;
    }

    // DCD changes `n` times; the kernel wakes the waiter once.
    void pulse(uint32_t n)
    {
        dcdCount += n;
        if (n % 2 != 0) dcd = !dcd;
        EXPECT_EQ(::write(change[1], "x", 1), 1);
    }
};

bool waitFor(const std::function<bool()> &done)
{
    const auto until = steady_clock::now() + seconds(5);
    while (!done()) {
        if (steady_clock::now() > until) return false;
        std::this_thread::sleep_for(milliseconds(1));
    }
    return true;
}

TEST(EdgeWatch, EachKindOfTtyDriver)
{
    // ThreadSanitizer starts a thread of its own at the first thread.
    std::thread([] {}).join();
    struct Row {
        const char *name;
        bool canWait, canCount;
        EdgeState state;
    };
    for (const Row &row : {Row{"waits and counts", true, true, EdgeState::Told},
                           Row{"waits only", true, false, EdgeState::Told},
                           Row{"counts only", false, true, EdgeState::Told},
                           Row{"neither", false, false, EdgeState::Untold}}) {
        PlayedPort port;
        port.canWait = row.canWait;
        port.canCount = row.canCount;
        const int before = threads();
        auto record = std::make_shared<EdgeRecord>();
        auto watch = watchEdges(port.change[0], record, port.calls());
        ASSERT_TRUE(watch) << row.name;
        EXPECT_EQ(watch->update(), row.state) << row.name;

        if (row.canWait) {
            // A wake tells the changes by itself, timed at the wake.
            const int64_t sent = edgeClock();
            port.pulse(row.canCount ? 3 : 1);
            ASSERT_TRUE(waitFor([&] { return record->size() > 0; })) << row.name;
            rscom_edge edge{};
            ASSERT_EQ(record->take(&edge, 1), 1u);
            EXPECT_EQ(edge.count, row.canCount ? 3 : 1) << row.name;
            EXPECT_EQ(edge.level, 1) << row.name;
            EXPECT_GE(edge.time, sent) << row.name;
        } else if (row.canCount) {
            // Found at the next EDGES call.
            port.dcdCount += 2;
            EXPECT_EQ(watch->update(), EdgeState::Told);
            rscom_edge edge{};
            ASSERT_EQ(record->take(&edge, 1), 1u);
            EXPECT_EQ(edge.count, 2);
        }
        // A read's level is told with no system call.
        port.dcd = !port.dcd;
        watch->seen({port.dcd, false, false, false});
        EXPECT_EQ(record->size(), 1u) << row.name;

        // Ending a pending wait: at once, and no thread is left.
        const auto start = steady_clock::now();
        watch.reset();
        // The kernel lets go of a joined thread's task a moment later.
        EXPECT_TRUE(waitFor([&] { return threads() == before; })) << row.name;
        EXPECT_LT(steady_clock::now() - start, milliseconds(100)) << row.name;
    }
}

// The device gone: the wait fails (an unplugged USB adapter), or the port
// hangs up and the wait goes on until the watch ends it (a UART removed).
TEST(EdgeWatch, AGoneDeviceEndsTheWait)
{
    for (const bool hangUp : {false, true}) {
        PlayedPort port;
        port.deaf = hangUp;
        auto record = std::make_shared<EdgeRecord>();
        auto watch = watchEdges(port.change[0], record, port.calls());
        ASSERT_TRUE(watch);
        if (hangUp) {
            ::close(port.change[1]); // poll tells a hang-up so
            port.change[1] = -1;
        } else {
            port.error = EIO;
            EXPECT_EQ(::write(port.change[1], "x", 1), 1);
        }
        EXPECT_TRUE(waitFor([&] { return watch->update() == EdgeState::Gone; })) << hangUp;
    }
}

// A program's own SIGURG handler is never replaced nor sent to: the port
// then counts without waiting. The driver's handler goes when its last
// waiting port closes.
void programsHandler(int) {}

TEST(EdgeWatch, TheProgramsSignalHandlerIsLeftAlone)
{
    struct sigaction mine {
    };
    mine.sa_handler = programsHandler;
    struct sigaction before {
    };
    ASSERT_EQ(::sigaction(SIGURG, &mine, &before), 0);
    {
        PlayedPort port;
        const int threadsBefore = threads();
        auto record = std::make_shared<EdgeRecord>();
        auto watch = watchEdges(port.change[0], record, port.calls());
        EXPECT_EQ(threads(), threadsBefore); // no waiting thread
        port.dcdCount += 1;
        port.dcd = true;
        EXPECT_EQ(watch->update(), EdgeState::Told);
        EXPECT_EQ(record->count(Input::Dcd), 1);
    }
    struct sigaction now {
    };
    ::sigaction(SIGURG, &before, &now);
    EXPECT_EQ(now.sa_handler, programsHandler);

    {
        PlayedPort port;
        auto watch = watchEdges(port.change[0], std::make_shared<EdgeRecord>(), port.calls());
        ::sigaction(SIGURG, nullptr, &now);
        EXPECT_NE(now.sa_handler, SIG_DFL); // the driver's, while it waits
    }
    ::sigaction(SIGURG, nullptr, &now);
    EXPECT_EQ(now.sa_handler, SIG_DFL);
}

} // namespace
