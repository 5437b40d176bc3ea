// The port table over devices the test controls: selection, re-open, failed
// opens, ports whose device is unplugged and plugged in again (also under a
// new name), and what it tells of a port without opening it.
#include "core/porttable.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>

using namespace rscom;

namespace
{

using Lines = std::array<bool, 3>; // TxD, DTR, RTS

// A device that can be unplugged and plugged in again.
struct Socket {
    bool present = true;
    int opens = 0;      // attempts to open it
    int live = 0;       // devices open now
    int generation = 0; // which open reaches the device now
    bool refuseConfigure = false;
    Lines outputs{};
    std::array<int, 4> inputs{};
    Settings settings;
    std::shared_ptr<EdgeRecord> record; // where the open device tells its changes
    EdgeState edges = EdgeState::Told;
};

class FakeDevice final : public Device
{
public:
    explicit FakeDevice(Socket &socket) : m_socket(socket), m_generation(socket.opens)
    {
        ++m_socket.live;
    }
    ~FakeDevice() override { --m_socket.live; }

    bool configure(const Settings &s) override
    {
        if (!answers() || m_socket.refuseConfigure) return false;
        m_socket.settings = s;
        return true;
    }
    bool setOutput(Output line, bool active) override
    {
        if (!answers()) return false;
        m_socket.outputs[static_cast<size_t>(line)] = active;
        return true;
    }
    int readInput(Input line) override
    {
        return answers() ? m_socket.inputs[static_cast<size_t>(line)] : -1;
    }
    void recordEdges(const std::shared_ptr<EdgeRecord> &record) override
    {
        m_socket.record = record;
    }
    EdgeState updateEdges() override { return answers() ? m_socket.edges : EdgeState::Gone; }

private:
    // A device that was unplugged stays dead even when the socket is back:
    // only a new open reaches the new device.
    bool answers() const { return m_socket.present && m_generation == m_socket.generation; }

    Socket &m_socket;
    int m_generation;
};

class PortTableTest : public testing::Test
{
protected:
    PortTableTest()
        : table([this](int port) { return targetOf(port); },
                [this](const Target &t) { return open(t); },
                [this](const Target &t) { return inspect(t); }, [this] { return now; })
    {
    }

    // COMn is the device "dev-n" at "/dev/fake-n" unless the test maps it.
    Target targetOf(int port) const
    {
        const auto it = mapping.find(port);
        if (it != mapping.end()) return it->second;
        const std::string device = "dev-" + std::to_string(port);
        return {Target::Kind::Device, "/dev/fake-" + std::to_string(port), device};
    }

    std::unique_ptr<Device> open(const Target &target)
    {
        if (target.kind != Target::Kind::Device || target.path.empty()) return nullptr;
        opened.push_back(target.path);
        Socket &socket = sockets[target.identity];
        ++socket.opens;
        if (!socket.present) return nullptr;
        socket.generation = socket.opens;
        return std::make_unique<FakeDevice>(socket);
    }

    PortStatus inspect(const Target &target)
    {
        inspected.push_back(target.path);
        if (target.path.empty()) return {}; // a device that is out
        PortStatus status = answers[target.identity];
        status.info.path = target.path;
        return status;
    }

    Socket &socket(int port) { return sockets["dev-" + std::to_string(port)]; }

    void unplug(int port)
    {
        socket(port).present = false;
        socket(port).generation = 0;
    }

    void plugIn(int port)
    {
        socket(port).present = true;
        socket(port).outputs = {};
    }

    std::map<std::string, Socket> sockets; // by identity
    std::map<int, Target> mapping;
    std::map<std::string, PortStatus> answers; // what inspecting a device says
    std::vector<std::string> opened, inspected;
    PortTable::Clock::time_point now{};
    // Declared last: its devices refer to the sockets.
    PortTable table;
};

TEST_F(PortTableTest, FreshOpenAppliesSettingsAndClearsOutputs)
{
    socket(1).outputs = {true, true, true}; // as the kernel leaves DTR and RTS on open
    EXPECT_EQ(table.open("COM1,9600,E,7,2"), 1);
    EXPECT_EQ(table.current(), 1);
    EXPECT_EQ(socket(1).settings, (Settings{1, 9600, Parity::Even, 7, 2}));
    EXPECT_EQ(socket(1).outputs, (Lines{false, false, false}));
}

TEST_F(PortTableTest, ReopenKeepsLinesAndSelectsAgain)
{
    ASSERT_EQ(table.open("COM1,1200,N,8,1"), 1);
    table.set(Output::Dtr, 1);
    table.set(Output::Txd, 1);
    ASSERT_EQ(table.open("COM2,1200,N,8,1"), 1);
    EXPECT_EQ(table.current(), 2);
    socket(1).inputs = {1, 0, 1, 0};

    EXPECT_EQ(table.open("COM1,4800,N,8,1"), 1);
    EXPECT_EQ(table.current(), 1);
    EXPECT_EQ(socket(1).opens, 1); // held, not opened again
    EXPECT_EQ(socket(1).live, 1);
    EXPECT_EQ(socket(1).settings.baud, 4800);
    EXPECT_EQ(socket(1).outputs, (Lines{true, true, false}));
    EXPECT_EQ(table.read(Input::Dcd), 1);
    EXPECT_EQ(table.read(Input::Dsr), 0);
    EXPECT_EQ(table.read(Input::Cts), 1);
    // The other port's lines were not touched by the switch.
    EXPECT_EQ(socket(2).outputs, (Lines{false, false, false}));
}

TEST_F(PortTableTest, FailedOpenKeepsCurrentAndLeavesNothingOpen)
{
    ASSERT_EQ(table.open("COM1,1200,N,8,1"), 1);

    unplug(3); // no device at all
    EXPECT_EQ(table.open("COM3,1200,N,8,1"), 0);
    EXPECT_EQ(table.current(), 1);

    socket(4).refuseConfigure = true; // opens, but refuses the settings
    EXPECT_EQ(table.open("COM4,1200,N,8,1"), 0);
    EXPECT_EQ(table.current(), 1);
    EXPECT_EQ(socket(4).live, 0);

    mapping[5] = Target{};
    EXPECT_EQ(table.open("COM5,1200,N,8,1"), 0);
    EXPECT_EQ(table.open("COM1,1200,X,8,1"), 0);
    EXPECT_EQ(table.open(nullptr), 0);
    EXPECT_EQ(table.current(), 1);

    // A failed re-open of a held port keeps its settings too.
    unplug(1);
    EXPECT_EQ(table.open("COM1,300,N,8,1"), 0);
    plugIn(1);
    now += PortTable::kRetryPeriod;
    EXPECT_EQ(table.read(Input::Dcd), 0);
    EXPECT_EQ(socket(1).settings.baud, 1200);
}

TEST_F(PortTableTest, WithoutPortReadersSayMinusOneAndSettersDoNothing)
{
    for (Input line : {Input::Dcd, Input::Dsr, Input::Cts, Input::Ri})
        EXPECT_EQ(table.read(line), -1);
    table.set(Output::Dtr, 1);
    EXPECT_TRUE(opened.empty());
}

TEST_F(PortTableTest, LevelsOtherThanZeroAreActive)
{
    ASSERT_EQ(table.open("COM1,1200,N,8,1"), 1);
    table.set(Output::Rts, 7);
    table.set(Output::Dtr, -1);
    EXPECT_EQ(socket(1).outputs, (Lines{false, true, true}));
    table.set(Output::Rts, 0);
    EXPECT_FALSE(socket(1).outputs[2]);
}

TEST_F(PortTableTest, UnpluggedPortRecoversByItself)
{
    ASSERT_EQ(table.open("COM2,1200,N,8,1"), 1);
    table.set(Output::Dtr, 1);
    socket(2).inputs = {1, 1, 1, 1};

    unplug(2);
    EXPECT_EQ(table.read(Input::Dcd), -1);
    EXPECT_EQ(socket(2).live, 0); // the dead device was let go
    table.set(Output::Rts, 1);    // remembered while gone
    plugIn(2);
    socket(2).inputs = {1, 1, 1, 1};

    // Not tried again on every call: polling a thousand times within the
    // retry period opens nothing.
    const int opensBefore = socket(2).opens;
    for (int i = 0; i < 1000; ++i)
        ASSERT_EQ(table.read(Input::Cts), -1);
    EXPECT_EQ(socket(2).opens, opensBefore);

    now += PortTable::kRetryPeriod;
    EXPECT_EQ(table.read(Input::Cts), 1);
    EXPECT_EQ(socket(2).opens, opensBefore + 1);
    EXPECT_EQ(socket(2).live, 1);
    EXPECT_EQ(socket(2).settings.baud, 1200);
    // Back with the lines as last set, including the one set while gone.
    EXPECT_EQ(socket(2).outputs, (Lines{false, true, true}));

    // A replug that fails is tried again later, a few times a second.
    unplug(2);
    EXPECT_EQ(table.read(Input::Ri), -1);
    now += PortTable::kRetryPeriod;
    EXPECT_EQ(table.read(Input::Ri), -1);
    const int opensWhileGone = socket(2).opens;
    now += PortTable::kRetryPeriod / 2;
    EXPECT_EQ(table.read(Input::Ri), -1);
    EXPECT_EQ(socket(2).opens, opensWhileGone);
}

// A USB adapter replugged while its old name is still taken comes back under
// another name; the port follows the device, not the path.
TEST_F(PortTableTest, HeldPortFollowsItsDeviceToANewPath)
{
    ASSERT_EQ(table.open("COM3,1200,N,8,1"), 1);
    table.set(Output::Dtr, 1);
    unplug(3);
    EXPECT_EQ(table.read(Input::Dsr), -1);
    plugIn(3);
    mapping[3] = {Target::Kind::Device, "/dev/fake-3-renamed", "dev-3"};
    now += PortTable::kRetryPeriod;
    socket(3).inputs = {0, 1, 0, 0};
    EXPECT_EQ(table.read(Input::Dsr), 1);
    EXPECT_EQ(opened.back(), "/dev/fake-3-renamed");
    EXPECT_EQ(socket(3).outputs, (Lines{false, true, false}));
    EXPECT_EQ(table.status(3).info.path, "/dev/fake-3-renamed");

    // Asked for again while it is out, with nowhere to open: refused, and the
    // port stays held and current, its lines remembered.
    table.set(Output::Rts, 1);
    unplug(3);
    mapping[3] = {Target::Kind::Device, "", "dev-3"};
    EXPECT_EQ(table.open("COM3,1200,N,8,1"), 0);
    EXPECT_EQ(table.current(), 3);
    EXPECT_EQ(table.status(3).code, Availability::Missing);
    plugIn(3);
    mapping[3] = {Target::Kind::Device, "/dev/fake-3-again", "dev-3"};
    now += PortTable::kRetryPeriod;
    EXPECT_EQ(table.read(Input::Dsr), 1);
    EXPECT_EQ(socket(3).outputs, (Lines{false, true, true}));

    // Another device behind COM3 is another port: the held one is let go.
    mapping[3] = {Target::Kind::Device, "/dev/fake-3-renamed", "another device"};
    EXPECT_EQ(table.open("COM3,1200,N,8,1"), 1);
    EXPECT_EQ(socket(3).live, 0);
    EXPECT_EQ(sockets["another device"].outputs, (Lines{false, false, false}));
}

// A port's record goes on across an unplug and the recovery, whose device
// counts from nothing again, and across selecting another port.
TEST_F(PortTableTest, RecordOutlivesTheDevicesOfItsPort)
{
    rscom_edge edges[4];
    ASSERT_EQ(table.open("COM1,1200,N,8,1"), 1);
    socket(1).record->add(Input::Dcd, 3, true, 10);
    unplug(1);
    EXPECT_EQ(table.edges(edges, 4), RSCOM_EDGES_NO_PORT);
    plugIn(1);
    now += PortTable::kRetryPeriod;
    ASSERT_EQ(table.read(Input::Dcd), 0);
    EXPECT_EQ(socket(1).opens, 2);
    socket(1).record->add(Input::Dcd, 1, false, 20);
    ASSERT_EQ(table.open("COM2,1200,N,8,1"), 1);
    socket(2).edges = EdgeState::Untold;
    EXPECT_EQ(table.edges(edges, 4), RSCOM_EDGES_UNTOLD);

    ASSERT_EQ(table.open("COM1,1200,N,8,1"), 1);
    ASSERT_EQ(table.edges(edges, 4), 2);
    EXPECT_EQ(edges[0].count, 3);
    EXPECT_EQ(edges[1].count, 4);
    EXPECT_EQ(edges[1].time, 20);
    // Gone as EDGES finds out: the device is let go as a read would.
    socket(1).record->add(Input::Dcd, 1, true, 30);
    unplug(1);
    EXPECT_EQ(table.edges(edges, 4), RSCOM_EDGES_NO_PORT);
    EXPECT_EQ(socket(1).live, 0);
}

// A port that comes back by itself (on another machine, its connection down)
// reads -1 and tells no changes meanwhile, and is kept: never opened again.
TEST_F(PortTableTest, AwayPortIsKept)
{
    rscom_edge edges[4];
    ASSERT_EQ(table.open("COM1,1200,N,8,1"), 1);
    ASSERT_EQ(table.open("COM2,1200,N,8,1"), 1);
    socket(1).inputs = {kAway, kAway, kAway, kAway};
    socket(1).edges = EdgeState::Away;
    ASSERT_EQ(table.open("COM1,1200,N,8,1"), 1);
    EXPECT_EQ(table.read(Input::Cts), -1);
    EXPECT_EQ(table.edges(edges, 4), RSCOM_EDGES_NO_PORT);
    now += PortTable::kRetryPeriod;
    EXPECT_EQ(table.read(Input::Cts), -1);
    EXPECT_EQ(socket(1).opens, 1);
    EXPECT_EQ(socket(1).live, 1);
}

TEST_F(PortTableTest, OpencomOfUnpluggedPortOpensAfresh)
{
    ASSERT_EQ(table.open("COM1,1200,N,8,1"), 1);
    table.set(Output::Txd, 1);
    unplug(1);
    plugIn(1); // a quick replug: the held device is dead, the device is back
    EXPECT_EQ(table.open("COM1,1200,N,8,1"), 1);
    EXPECT_EQ(socket(1).opens, 2);
    EXPECT_EQ(socket(1).live, 1);
    EXPECT_EQ(socket(1).outputs, (Lines{true, false, false}));
}

// A held port that is not current and whose device is gone is let go at the
// next OPENCOM or COMSTATUS: its old descriptor must not keep its name taken.
TEST_F(PortTableTest, DeadDevicesAreLetGoAtTheNextOpen)
{
    ASSERT_EQ(table.open("COM1,1200,N,8,1"), 1);
    ASSERT_EQ(table.open("COM2,1200,N,8,1"), 1);
    unplug(1);
    EXPECT_EQ(socket(1).live, 1);
    EXPECT_EQ(table.open("COM2,1200,N,8,1"), 1);
    EXPECT_EQ(socket(1).live, 0);
    EXPECT_EQ(socket(2).live, 1);
}

TEST_F(PortTableTest, RemappedPortIsClosed)
{
    ASSERT_EQ(table.open("COM1,1200,N,8,1"), 1);
    mapping[1] = Target{};
    EXPECT_EQ(table.open("COM1,1200,N,8,1"), 0);
    EXPECT_EQ(socket(1).live, 0);
    EXPECT_EQ(table.read(Input::Dcd), -1);
}

TEST_F(PortTableTest, CloseLeavesNoCurrentPort)
{
    ASSERT_EQ(table.open("COM1,1200,N,8,1"), 1);
    table.closeCurrent();
    EXPECT_EQ(socket(1).live, 0);
    EXPECT_EQ(table.current(), 0);
    EXPECT_EQ(table.read(Input::Dsr), -1);
    // Opened afresh afterwards.
    EXPECT_EQ(table.open("COM1,1200,N,8,1"), 1);
    EXPECT_EQ(socket(1).opens, 2);
}

TEST_F(PortTableTest, StatusOpensNothingAndKeepsTheCurrentPort)
{
    mapping[1] = {Target::Kind::Loopback, {}, {}};
    mapping[2] = Target{};
    answers["dev-3"] = {Availability::InUse, {"", "", "", "", "", "minicom", "4242"}};
    answers["dev-4"] = {Availability::Console, {}};
    ASSERT_EQ(table.open("COM5,1200,N,8,1"), 1);
    opened.clear();

    EXPECT_EQ(table.status(1).code, Availability::Available);
    EXPECT_EQ(table.status(1).info.path, "loopback");
    EXPECT_EQ(table.status(2).code, Availability::Missing);
    EXPECT_EQ(table.status(2).info.path, "");
    const PortStatus inUse = table.status(3);
    EXPECT_EQ(inUse.code, Availability::InUse);
    EXPECT_EQ(inUse.info.path, "/dev/fake-3");
    EXPECT_EQ(inUse.info.program, "minicom");
    EXPECT_EQ(table.status(4).code, Availability::Console);
    EXPECT_EQ(table.status(0).code, Availability::Missing);
    EXPECT_EQ(table.status(256).code, Availability::Missing);
    EXPECT_EQ(table.status(-3).code, Availability::Missing);
    EXPECT_TRUE(opened.empty());
    EXPECT_EQ(table.current(), 5);
}

// What stands between another program and a port the driver holds is the
// driver itself: that port is available to it.
TEST_F(PortTableTest, HeldPortIsAvailable)
{
    ASSERT_EQ(table.open("COM2,1200,N,8,1"), 1);
    answers["dev-2"] = {Availability::InUse, {"", "", "", "", "", "lintara", "77"}};
    const PortStatus held = table.status(2);
    EXPECT_EQ(held.code, Availability::Available);
    EXPECT_EQ(held.info.program, "");
    EXPECT_EQ(held.info.pid, "");

    // Once its device is gone, the port is what inspecting it says.
    unplug(2);
    answers["dev-2"] = {Availability::Missing, {}};
    EXPECT_EQ(table.status(2).code, Availability::Missing);
}

} // namespace
