// The driver's C entries as a program calls them, on virtual ports and on
// ports that are not there: the test plug's wiring, selection, COMSTATUS, and
// calls from many threads.
#include "core/edgerecord.h"
#include "testenv.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace
{

class Entries : public testing::Test
{
protected:
    static void SetUpTestSuite()
    {
        // Numbers the driver gives to devices of this machine are never
        // written to the user's own state folder.
        const std::filesystem::path state =
            std::filesystem::temp_directory_path() / "rscom-test-entries-state";
        setVariable("XDG_STATE_HOME", state.string());
    }

    void SetUp() override { mapNoPorts(); }

    void TearDown() override { closePorts(); }
};

TEST_F(Entries, LoopbackPlugWiring)
{
    EXPECT_EQ(lines(), (Lines{-1, -1, -1, -1})); // no current port
    mapPort(1, "loopback");
    ASSERT_EQ(OPENCOM("COM1,1200,N,8,1"), 1);
    EXPECT_EQ(lines(), (Lines{0, 0, 0, 0})); // outputs start inactive

    RTS(1);
    EXPECT_EQ(lines(), (Lines{0, 0, 1, 0}));
    DTR(1);
    EXPECT_EQ(lines(), (Lines{1, 1, 1, 0}));
    TXD(1);
    EXPECT_EQ(lines(), (Lines{1, 1, 1, 1}));
    RTS(0);
    DTR(0);
    EXPECT_EQ(lines(), (Lines{0, 0, 0, 1}));
    TXD(2); // any value but 0 is active
    EXPECT_EQ(RI(), 1);
    TXD(0);
    EXPECT_EQ(lines(), (Lines{0, 0, 0, 0}));

    CLOSECOM();
    EXPECT_EQ(lines(), (Lines{-1, -1, -1, -1}));
    DTR(1); // nothing to set
}

TEST_F(Entries, EachVirtualPortHasItsOwnLines)
{
    mapPort(1, "loopback");
    mapPort(2, "loopback");
    ASSERT_EQ(OPENCOM("COM1,1200,N,8,1"), 1);
    DTR(1);
    ASSERT_EQ(OPENCOM("COM2,1200,N,8,1"), 1);
    EXPECT_EQ(lines(), (Lines{0, 0, 0, 0}));
    RTS(1);
    ASSERT_EQ(OPENCOM("COM1,1200,N,8,1"), 1);
    EXPECT_EQ(lines(), (Lines{1, 1, 0, 0}));
}

TEST_F(Entries, ReopenKeepsLinesFailedOpenKeepsCurrent)
{
    mapPort(3, "loopback");
    ASSERT_EQ(OPENCOM("COM3,1200,N,8,1"), 1);
    RTS(1);
    EXPECT_EQ(OPENCOM("COM3,9600,N,8,1"), 1);
    EXPECT_EQ(CTS(), 1);

    EXPECT_EQ(OPENCOM("COM4,1200,N,8,1"), 0); // mapped to none
    EXPECT_EQ(OPENCOM("COM3,1200,Q,8,1"), 0);
    EXPECT_EQ(OPENCOM(nullptr), 0);
    EXPECT_EQ(CTS(), 1); // still COM3
}

TEST_F(Entries, AbsentDevicesAreRefusedAndKeepTheCurrentPort)
{
    mapPort(1, "loopback");
    ASSERT_EQ(OPENCOM("COM1,1200,N,8,1"), 1);
    DTR(1);
    // No such device, by any name a user might give.
    for (const char *device : {"/dev/lintara-no-such-port", "COM0", "relative/x"}) {
        mapPort(2, device);
        EXPECT_EQ(OPENCOM("COM2,1200,N,8,1"), 0) << device;
        EXPECT_EQ(comStatus(2).code, RSCOM_MISSING) << device;
    }
    EXPECT_EQ(DSR(), 1); // COM1 is still current
}

TEST_F(Entries, ComstatusOfVirtualAndMissingPorts)
{
    mapPort(1, "loopback");
    EXPECT_EQ(comStatus(1).code, RSCOM_AVAILABLE);
    EXPECT_EQ(comStatus(1).detail, "loopback\t\t\t\t\t\t");
    EXPECT_EQ(comStatus(2).code, RSCOM_MISSING); // mapped to none
    EXPECT_EQ(comStatus(2).detail, "\t\t\t\t\t\t");
    for (int port : {0, -1, 256, -32768, 32767})
        EXPECT_EQ(comStatus(port).code, RSCOM_MISSING) << port;

    // Without room for the detail only the result comes back.
    char detail[16] = "untouched";
    EXPECT_EQ(COMSTATUS(1, nullptr, 100), RSCOM_AVAILABLE);
    EXPECT_EQ(COMSTATUS(1, detail, 0), RSCOM_AVAILABLE);
    EXPECT_STREQ(detail, "untouched");
    EXPECT_EQ(COMSTATUS(1, detail, -5), RSCOM_AVAILABLE);
    EXPECT_STREQ(detail, "untouched");
    EXPECT_EQ(COMSTATUS(1, detail, 1), RSCOM_AVAILABLE);
    EXPECT_STREQ(detail, "");
    EXPECT_EQ(COMSTATUS(1, detail, 5), RSCOM_AVAILABLE);
    EXPECT_STREQ(detail, "loop");
}

TEST_F(Entries, ComstatusLeavesTheCurrentPortAndItsLines)
{
    mapPort(1, "loopback");
    mapPort(2, "loopback");
    ASSERT_EQ(OPENCOM("COM1,1200,N,8,1"), 1);
    RTS(1);
    for (int n = 1; n <= 5; ++n)
        comStatus(n);
    EXPECT_EQ(lines(), (Lines{0, 0, 1, 0}));
    // COM2 was not opened by being asked about: opening it now starts it
    // with its own lines, all inactive.
    ASSERT_EQ(OPENCOM("COM2,1200,N,8,1"), 1);
    EXPECT_EQ(lines(), (Lines{0, 0, 0, 0}));
}

// The clock edges are timed by.
int64_t micros()
{
    return rscom::edgeClock();
}

// Edges as "line:count:level".
std::vector<std::string> takeEdges(int16_t max, std::vector<int64_t> *times = nullptr)
{
    std::vector<rscom_edge> edges(static_cast<size_t>(max));
    const int16_t n = EDGES(edges.data(), max);
    std::vector<std::string> texts;
    for (int16_t i = 0; i < n; ++i) {
        const rscom_edge &e = edges[static_cast<size_t>(i)];
        texts.push_back(std::to_string(e.line) + ":" + std::to_string(e.count) + ":" +
                        std::to_string(e.level));
        if (times) times->push_back(e.time);
    }
    return texts;
}

using Texts = std::vector<std::string>;

TEST_F(Entries, LoopbackTellsTheChangesItsSettersCause)
{
    rscom_edge edges[4];
    EXPECT_EQ(EDGES(edges, 4), RSCOM_EDGES_NO_PORT);
    mapPort(1, "loopback");
    mapPort(2, "loopback");
    ASSERT_EQ(OPENCOM("COM1,1200,N,8,1"), 1);
    EXPECT_EQ(EDGES(edges, 4), 0); // opening changes nothing

    const int64_t before = micros();
    DTR(1);
    DTR(5); // active already: no change
    RTS(1);
    TXD(1);
    RTS(0);
    const int64_t after = micros();
    std::vector<int64_t> times;
    EXPECT_EQ(takeEdges(3, &times), (Texts{"1:1:1", "2:1:1", "3:1:1"}));
    EXPECT_EQ(takeEdges(8, &times), (Texts{"4:1:1", "3:2:0"}));
    for (size_t i = 0; i < times.size(); ++i) {
        EXPECT_TRUE(times[i] >= before && times[i] <= after) << i;
        if (i > 0) {
            EXPECT_GE(times[i], times[i - 1]);
        }
    }
    EXPECT_EQ(times[0], times[1]); // one setter: one time

    // Bad arguments take nothing.
    TXD(0);
    EXPECT_EQ(EDGES(nullptr, 4), 0);
    EXPECT_EQ(EDGES(edges, 0), 0);
    EXPECT_EQ(EDGES(edges, -3), 0);
    EXPECT_EQ(takeEdges(8), (Texts{"4:2:0"}));

    // Each held port keeps its record; selecting it again continues it.
    DTR(0);
    ASSERT_EQ(OPENCOM("COM2,1200,N,8,1"), 1);
    DTR(1);
    EXPECT_EQ(takeEdges(8), (Texts{"1:1:1", "2:1:1"}));
    ASSERT_EQ(OPENCOM("COM1,9600,N,8,1"), 1);
    DTR(1);
    EXPECT_EQ(takeEdges(8), (Texts{"1:2:0", "2:2:0", "1:3:1", "2:3:1"}));

    // Closed: a new opening counts from nothing.
    CLOSECOM();
    EXPECT_EQ(EDGES(edges, 4), RSCOM_EDGES_NO_PORT);
    ASSERT_EQ(OPENCOM("COM1,1200,N,8,1"), 1);
    DTR(1);
    EXPECT_EQ(takeEdges(8), (Texts{"1:1:1", "2:1:1"}));
}

// COM3 and COM4 are the cable's ends, COM5 a third "nullmodem" without a
// partner; the ports between are mapped elsewhere.
TEST_F(Entries, NullModemCableJoinsTheFirstTwo)
{
    mapPort(3, "nullmodem");
    mapPort(4, "nullmodem");
    mapPort(5, "nullmodem");
    ASSERT_EQ(OPENCOM("COM3,1200,N,8,1"), 1);
    EXPECT_EQ(comStatus(3).detail, "nullmodem\t\t\t\t\t\t");
    DTR(1); // the other end is not open: nothing to see, nothing recorded
    ASSERT_EQ(OPENCOM("COM4,1200,N,8,1"), 1);
    EXPECT_EQ(lines(), (Lines{1, 1, 0, 0}));
    RTS(1);
    TXD(1); // to the other's RxD: no line
    ASSERT_EQ(OPENCOM("COM3,1200,N,8,1"), 1);
    EXPECT_EQ(lines(), (Lines{0, 0, 1, 0}));
    const int64_t before = micros();
    DTR(0);
    ASSERT_EQ(OPENCOM("COM4,1200,N,8,1"), 1);
    std::vector<int64_t> times;
    EXPECT_EQ(takeEdges(8, &times), (Texts{"1:1:0", "2:1:0"}));
    EXPECT_GE(times[0], before);
    EXPECT_EQ(lines(), (Lines{0, 0, 0, 0}));
    EXPECT_EQ(OPENCOM("COM3,1200,N,8,1"), 1);
    EXPECT_EQ(takeEdges(8), (Texts{"3:1:1"}));

    // Closing an end drops what it drove.
    ASSERT_EQ(OPENCOM("COM4,1200,N,8,1"), 1);
    CLOSECOM();
    ASSERT_EQ(OPENCOM("COM3,1200,N,8,1"), 1);
    EXPECT_EQ(lines(), (Lines{0, 0, 0, 0}));
    EXPECT_EQ(takeEdges(8), (Texts{"3:2:0"}));

    ASSERT_EQ(OPENCOM("COM5,1200,N,8,1"), 1); // no partner
    DTR(1);
    EXPECT_EQ(lines(), (Lines{0, 0, 0, 0}));
}

TEST_F(Entries, GeneratorFollowsItsPatternFromTheOpening)
{
    mapPort(2, "generator");
    EXPECT_EQ(comStatus(2).code, RSCOM_AVAILABLE);
    EXPECT_EQ(comStatus(2).detail, "generator\t\t\t\t\t\t");
    const int64_t before = micros();
    ASSERT_EQ(OPENCOM("COM2,1200,N,8,1"), 1);
    const int64_t after = micros();
    EXPECT_EQ(lines(), (Lines{1, 1, 1, 1}));
    DTR(0); // its outputs change nothing
    TXD(1);
    std::this_thread::sleep_for(std::chrono::milliseconds(650));

    // CTS every 100 ms, DCD's 2 ms drop at 0.5 s, at their exact times.
    std::vector<int64_t> times;
    EXPECT_EQ(takeEdges(8, &times),
              (Texts{"3:1:0", "3:2:1", "3:3:0", "3:4:1", "1:1:0", "3:5:0", "1:2:1", "3:6:1"}));
    ASSERT_EQ(times.size(), 8u);
    const int64_t start = times[0] - 100000;
    EXPECT_TRUE(start >= before && start <= after);
    const int64_t offsets[] = {100, 200, 300, 400, 500, 500, 502, 600};
    for (size_t i = 0; i < times.size(); ++i)
        EXPECT_EQ(times[i] - start, offsets[i] * 1000) << i;
}

// The entries share one port table: threads that open, close, set, read and
// ask at once see only whole answers. The ThreadSanitizer build checks that
// no two of them touch the table at once.
TEST_F(Entries, CallsFromManyThreads)
{
    mapPort(1, "loopback");
    mapPort(2, "loopback");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &wrong] {
            const char *settings = t % 2 == 0 ? "COM1,1200,N,8,1" : "COM2,1200,N,8,1";
            for (int i = 0; i < 5000; ++i) {
                if (OPENCOM(settings) != 1) ++wrong;
                DTR(static_cast<int16_t>(i & 1));
                const int16_t level = DSR();
                if (level < -1 || level > 1) ++wrong;
                if (t == 3 && i % 100 == 0) CLOSECOM();
                if (t == 2 && i % 50 == 0 && COMSTATUS(1, nullptr, 0) != RSCOM_AVAILABLE) ++wrong;
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    EXPECT_EQ(wrong.load(), 0);
}

} // namespace
