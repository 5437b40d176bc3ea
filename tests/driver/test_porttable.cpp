// The port table over devices the test controls: selection, re-open, failed
// opens, and ports whose device is unplugged and plugged in again.
#include "porttable.h"

#include <QTest>

#include <map>
#include <memory>

using namespace rscom;
using namespace std::chrono_literals;

namespace
{

// A device that can be unplugged and plugged in again, at one path.
struct Socket {
    bool present = true;
    int opens = 0; // attempts to open the path
    int live = 0;  // devices open now
    int configures = 0;
    int generation = 0; // which open reaches the device now
    bool refuseConfigure = false;
    std::array<bool, 3> outputs{};
    std::array<int, 4> inputs{};
    Settings settings;
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
        ++m_socket.configures;
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

private:
    // A device that was unplugged stays dead even when the socket is back:
    // only a new open reaches the new device.
    bool answers() const { return m_socket.present && m_generation == m_socket.generation; }

    Socket &m_socket;
    int m_generation;
};

} // namespace

class TestPortTable : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void freshOpenAppliesSettingsAndClearsOutputs();
    void reopenKeepsLinesAndSelectsAgain();
    void failedOpenKeepsCurrentAndLeavesNothingOpen();
    void withoutPortReadersSayMinusOneAndSettersDoNothing();
    void levelsOtherThanZeroAreActive();
    void unpluggedPortRecoversByItself();
    void opencomOfUnpluggedPortOpensAfresh();
    void remappedPortIsClosed();
    void closeLeavesNoCurrentPort();

private:
    Target targetOf(int port) const;
    std::unique_ptr<Device> open(const Target &target);
    void unplug(int port);
    void plugIn(int port);

    std::map<int, Socket> m_sockets;
    std::map<int, Target> m_mapping;
    PortTable::Clock::time_point m_now{};
    std::unique_ptr<PortTable> m_table;
};

Target TestPortTable::targetOf(int port) const
{
    const auto it = m_mapping.find(port);
    if (it != m_mapping.end()) return it->second;
    return {Target::Kind::Device, "/dev/fake" + std::to_string(port)};
}

std::unique_ptr<Device> TestPortTable::open(const Target &target)
{
    if (target.kind != Target::Kind::Device) return nullptr;
    const int port = std::stoi(target.path.substr(9));
    Socket &socket = m_sockets[port];
    ++socket.opens;
    if (!socket.present) return nullptr;
    socket.generation = socket.opens;
    return std::make_unique<FakeDevice>(socket);
}

void TestPortTable::unplug(int port)
{
    m_sockets[port].present = false;
    m_sockets[port].generation = 0;
}

void TestPortTable::plugIn(int port)
{
    m_sockets[port].present = true;
    m_sockets[port].outputs = {};
}

void TestPortTable::init()
{
    m_table.reset(); // its devices refer to the sockets
    m_sockets.clear();
    m_mapping.clear();
    m_now = {};
    m_table = std::make_unique<PortTable>([this](int port) { return targetOf(port); },
                                          [this](const Target &t) { return open(t); },
                                          [this] { return m_now; });
}

void TestPortTable::freshOpenAppliesSettingsAndClearsOutputs()
{
    m_sockets[1].outputs = {true, true, true}; // as the kernel leaves DTR and RTS on open
    QCOMPARE(m_table->open("COM1,9600,E,7,2"), int16_t(1));
    QCOMPARE(m_table->current(), 1);
    QCOMPARE(m_sockets[1].settings.baud, 9600);
    QCOMPARE(m_sockets[1].settings.parity, Parity::Even);
    QCOMPARE(m_sockets[1].settings.dataBits, 7);
    QCOMPARE(m_sockets[1].settings.stopBits, 2);
    QVERIFY(m_sockets[1].outputs == (std::array<bool, 3>{false, false, false}));
}

void TestPortTable::reopenKeepsLinesAndSelectsAgain()
{
    QCOMPARE(m_table->open("COM1,1200,N,8,1"), int16_t(1));
    m_table->set(Output::Dtr, 1);
    m_table->set(Output::Txd, 1);
    QCOMPARE(m_table->open("COM2,1200,N,8,1"), int16_t(1));
    QCOMPARE(m_table->current(), 2);
    m_sockets[1].inputs = {1, 0, 1, 0};

    QCOMPARE(m_table->open("COM1,4800,N,8,1"), int16_t(1));
    QCOMPARE(m_table->current(), 1);
    QCOMPARE(m_sockets[1].opens, 1); // held, not opened again
    QCOMPARE(m_sockets[1].live, 1);
    QCOMPARE(m_sockets[1].settings.baud, 4800);
    QVERIFY(m_sockets[1].outputs == (std::array<bool, 3>{true, true, false}));
    QCOMPARE(m_table->read(Input::Dcd), int16_t(1));
    QCOMPARE(m_table->read(Input::Dsr), int16_t(0));
    QCOMPARE(m_table->read(Input::Cts), int16_t(1));
    // The other port's lines were not touched by the switch.
    QVERIFY(m_sockets[2].outputs == (std::array<bool, 3>{false, false, false}));
}

void TestPortTable::failedOpenKeepsCurrentAndLeavesNothingOpen()
{
    QCOMPARE(m_table->open("COM1,1200,N,8,1"), int16_t(1));

    unplug(3); // no device at all
    QCOMPARE(m_table->open("COM3,1200,N,8,1"), int16_t(0));
    QCOMPARE(m_table->current(), 1);

    m_sockets[4].refuseConfigure = true; // opens, but refuses the settings
    QCOMPARE(m_table->open("COM4,1200,N,8,1"), int16_t(0));
    QCOMPARE(m_table->current(), 1);
    QCOMPARE(m_sockets[4].live, 0);

    m_mapping[5] = {Target::Kind::None, {}};
    QCOMPARE(m_table->open("COM5,1200,N,8,1"), int16_t(0));
    QCOMPARE(m_table->open("COM1,1200,X,8,1"), int16_t(0));
    QCOMPARE(m_table->open(nullptr), int16_t(0));
    QCOMPARE(m_table->current(), 1);

    // A failed re-open of a held port keeps its settings too.
    QCOMPARE(m_table->open("COM1,1200,N,8,1"), int16_t(1));
    unplug(1);
    QCOMPARE(m_table->open("COM1,300,N,8,1"), int16_t(0));
    plugIn(1);
    m_now += PortTable::kRetryPeriod;
    QCOMPARE(m_table->read(Input::Dcd), int16_t(0));
    QCOMPARE(m_sockets[1].settings.baud, 1200);
}

void TestPortTable::withoutPortReadersSayMinusOneAndSettersDoNothing()
{
    QCOMPARE(m_table->read(Input::Dcd), int16_t(-1));
    QCOMPARE(m_table->read(Input::Dsr), int16_t(-1));
    QCOMPARE(m_table->read(Input::Cts), int16_t(-1));
    QCOMPARE(m_table->read(Input::Ri), int16_t(-1));
    m_table->set(Output::Dtr, 1);
    QVERIFY(m_sockets.empty());
}

void TestPortTable::levelsOtherThanZeroAreActive()
{
    QCOMPARE(m_table->open("COM1,1200,N,8,1"), int16_t(1));
    m_table->set(Output::Rts, 7);
    m_table->set(Output::Dtr, -1);
    QVERIFY(m_sockets[1].outputs == (std::array<bool, 3>{false, true, true}));
    m_table->set(Output::Rts, 0);
    QCOMPARE(m_sockets[1].outputs[2], false);
}

void TestPortTable::unpluggedPortRecoversByItself()
{
    QCOMPARE(m_table->open("COM2,1200,N,8,1"), int16_t(1));
    m_table->set(Output::Dtr, 1);
    m_sockets[2].inputs = {1, 1, 1, 1};

    unplug(2);
    QCOMPARE(m_table->read(Input::Dcd), int16_t(-1));
    QCOMPARE(m_sockets[2].live, 0); // the dead device was let go
    m_table->set(Output::Rts, 1);   // remembered while gone
    plugIn(2);
    m_sockets[2].inputs = {1, 1, 1, 1};

    // Not tried again on every call: polling a thousand times within the
    // retry period opens nothing.
    const int opensBefore = m_sockets[2].opens;
    for (int i = 0; i < 1000; ++i)
        QCOMPARE(m_table->read(Input::Cts), int16_t(-1));
    QCOMPARE(m_sockets[2].opens, opensBefore);

    m_now += PortTable::kRetryPeriod;
    QCOMPARE(m_table->read(Input::Cts), int16_t(1));
    QCOMPARE(m_sockets[2].opens, opensBefore + 1);
    QCOMPARE(m_sockets[2].live, 1);
    QCOMPARE(m_sockets[2].settings.baud, 1200);
    // Back with the lines as last set, including the one set while gone.
    QVERIFY(m_sockets[2].outputs == (std::array<bool, 3>{false, true, true}));

    // A replug that fails is tried again later, a few times a second.
    unplug(2);
    QCOMPARE(m_table->read(Input::Ri), int16_t(-1));
    m_now += PortTable::kRetryPeriod;
    QCOMPARE(m_table->read(Input::Ri), int16_t(-1));
    const int opensWhileGone = m_sockets[2].opens;
    m_now += PortTable::kRetryPeriod / 2;
    QCOMPARE(m_table->read(Input::Ri), int16_t(-1));
    QCOMPARE(m_sockets[2].opens, opensWhileGone);
}

void TestPortTable::opencomOfUnpluggedPortOpensAfresh()
{
    QCOMPARE(m_table->open("COM1,1200,N,8,1"), int16_t(1));
    m_table->set(Output::Txd, 1);
    unplug(1);
    plugIn(1); // a quick replug: the held device is dead, the path is back
    QCOMPARE(m_table->open("COM1,1200,N,8,1"), int16_t(1));
    QCOMPARE(m_sockets[1].opens, 2);
    QCOMPARE(m_sockets[1].live, 1);
    QVERIFY(m_sockets[1].outputs == (std::array<bool, 3>{true, false, false}));
}

void TestPortTable::remappedPortIsClosed()
{
    QCOMPARE(m_table->open("COM1,1200,N,8,1"), int16_t(1));
    m_mapping[1] = {Target::Kind::None, {}};
    QCOMPARE(m_table->open("COM1,1200,N,8,1"), int16_t(0));
    QCOMPARE(m_sockets[1].live, 0);
    QCOMPARE(m_table->read(Input::Dcd), int16_t(-1));
}

void TestPortTable::closeLeavesNoCurrentPort()
{
    QCOMPARE(m_table->open("COM1,1200,N,8,1"), int16_t(1));
    m_table->closeCurrent();
    QCOMPARE(m_sockets[1].live, 0);
    QCOMPARE(m_table->current(), 0);
    QCOMPARE(m_table->read(Input::Dsr), int16_t(-1));
    // Opened afresh afterwards, outputs inactive again.
    m_table->set(Output::Dtr, 1);
    QCOMPARE(m_table->open("COM1,1200,N,8,1"), int16_t(1));
    QCOMPARE(m_sockets[1].opens, 2);
}

QTEST_APPLESS_MAIN(TestPortTable)
#include "test_porttable.moc"
