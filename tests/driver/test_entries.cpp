// The driver's C entries as a program calls them, on virtual ports and on
// ports that are not there: the test plug's wiring, selection, COMSTATUS, and
// calls from many threads.
#include "testenv.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
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
