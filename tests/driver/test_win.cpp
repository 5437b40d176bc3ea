// The Windows backend: how a port is named, what Windows' error codes mean,
// the settings and lines a port gets (over a port the test plays, since no
// real one is at hand), a port that is unplugged and comes back, and what
// Windows itself answers for ports that are not there.
#include "core/naming.h"
#include "core/platform.h"
#include "core/porttable.h"
#include "testenv.h"
#include "win/ports.h"
#include "win/serial.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

using namespace rscom;

namespace
{

// A port as Windows' serial driver keeps it: the DCB, the lines, the modem
// status. Every call is logged. Like some USB adapters' drivers, it applies
// fDtrControl and fRtsControl at every SetCommState, and raises DTR and RTS
// when the port is opened: a backend that left them to chance would move them.
class PlayedPort final : public CommCalls
{
public:
    PlayedPort()
    {
        // As another program left it: hardware flow control, every line on.
        dcb.DCBlength = sizeof dcb;
        dcb.BaudRate = 115200;
        dcb.ByteSize = 8;
        dcb.fOutxCtsFlow = TRUE;
        dcb.fOutxDsrFlow = TRUE;
        dcb.fDsrSensitivity = TRUE;
        dcb.fOutX = TRUE;
        dcb.fInX = TRUE;
        dcb.fDtrControl = DTR_CONTROL_HANDSHAKE;
        dcb.fRtsControl = RTS_CONTROL_TOGGLE;
        dcb.XonChar = 0x11;
        dcb.XoffChar = 0x13;
        dcb.EofChar = 0x1A;
    }

    DWORD queryDevice(const std::wstring &) override
    {
        log.push_back("query");
        return present ? ERROR_SUCCESS : ERROR_FILE_NOT_FOUND;
    }

    DWORD open(const std::wstring &path, HANDLE &handle) override
    {
        log.push_back("open " + std::string(path.begin(), path.end()));
        if (!present) return ERROR_FILE_NOT_FOUND;
        if (openError != ERROR_SUCCESS) return openError;
        ++handles;
        handle = reinterpret_cast<HANDLE>(static_cast<INT_PTR>(++generation));
        if (raisesLinesOnOpen) dtr = rts = true;
        return ERROR_SUCCESS;
    }

    void close(HANDLE handle) override
    {
        log.push_back("close");
        if (handle == INVALID_HANDLE_VALUE) ++badCloses;
        --handles;
    }

    DWORD getState(HANDLE handle, DCB &out) override
    {
        log.push_back("get state");
        if (const DWORD error = answer(handle, stateError)) return error;
        out = dcb;
        return ERROR_SUCCESS;
    }

    DWORD setState(HANDLE handle, const DCB &in) override
    {
        log.push_back("set state");
        if (const DWORD error = answer(handle, ERROR_SUCCESS)) return error;
        dcb = in;
        dtr = in.fDtrControl == DTR_CONTROL_ENABLE;
        rts = in.fRtsControl == RTS_CONTROL_ENABLE;
        return ERROR_SUCCESS;
    }

    DWORD escape(HANDLE handle, DWORD function) override
    {
        const char *names[] = {"", "SETXOFF", "SETXON", "SETRTS", "CLRRTS", "SETDTR", "CLRDTR"};
        log.push_back(function < 7 ? names[function] : "escape ?");
        if (const DWORD error = answer(handle, lineError)) return error;
        if (function == SETDTR || function == CLRDTR) dtr = function == SETDTR;
        if (function == SETRTS || function == CLRRTS) rts = function == SETRTS;
        return ERROR_SUCCESS;
    }

    DWORD setBreak(HANDLE handle, bool on) override
    {
        log.push_back(on ? "break on" : "break off");
        if (const DWORD error = answer(handle, lineError)) return error;
        brk = on;
        return ERROR_SUCCESS;
    }

    DWORD setMask(HANDLE handle, DWORD mask) override
    {
        log.push_back("mask " + std::to_string(mask));
        return answer(handle, maskError);
    }

    // As an overlapped WaitCommEvent waited for: until the test sends events
    // (or the device goes) or the driver stops the wait. From the port's
    // thread: it logs nothing.
    DWORD waitEvent(HANDLE handle, HANDLE stop, DWORD &events) override
    {
        ++waits;
        const HANDLE both[] = {change, stop};
        const DWORD woken = ::WaitForMultipleObjects(2, both, FALSE, INFINITE);
        --waits;
        if (woken != WAIT_OBJECT_0) return ERROR_OPERATION_ABORTED;
        events = sent.exchange(0);
        return answer(handle, waitError);
    }

    // Line changes as the port's driver signals them, `status` the modem
    // status from now on.
    void send(DWORD eventMask, DWORD status)
    {
        modem = status;
        sent = eventMask;
        ::SetEvent(change);
    }

    DWORD modemStatus(HANDLE handle, DWORD &status) override
    {
        log.push_back("modem status");
        if (const DWORD error = answer(handle, lineError)) return error;
        status = modem;
        return ERROR_SUCCESS;
    }

    // The adapter is pulled out: every open handle fails with `error` from
    // now on, and the port is not there to open.
    void unplug(DWORD error)
    {
        present = false;
        removedWith = error;
    }

    // Plugged in again, with its lines down: a new open reaches it; old
    // handles stay dead.
    void plugIn()
    {
        present = true;
        deadBelow = generation + 1;
        dtr = rts = brk = false;
    }

    bool present = true;
    bool raisesLinesOnOpen = true;
    DWORD maskError = ERROR_SUCCESS; // SetCommMask
    DWORD waitError = ERROR_SUCCESS; // what a wait that ends answers
    HANDLE change = ::CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::atomic<DWORD> sent{0};
    std::atomic<int> waits{0}; // pending now
    DWORD openError = ERROR_SUCCESS;
    DWORD stateError = ERROR_SUCCESS; // GetCommState
    DWORD lineError = ERROR_SUCCESS;  // EscapeCommFunction, breaks, modem status
    DCB dcb{};
    std::atomic<DWORD> modem{0};
    bool dtr = false, rts = false, brk = false;
    int handles = 0; // open now
    int badCloses = 0;
    std::vector<std::string> log;

private:
    DWORD answer(HANDLE handle, DWORD error) const
    {
        const auto number = static_cast<int>(reinterpret_cast<INT_PTR>(handle));
        if (!present || number < deadBelow) return removedWith;
        return error;
    }

    int generation = 0;
    int deadBelow = 0;
    DWORD removedWith = ERROR_SUCCESS;
};

Settings settings(int baud, Parity parity, int dataBits, int stopBits)
{
    return {1, baud, parity, dataBits, stopBits};
}

const std::wstring kPath = L"\\\\.\\COM3";

TEST(WindowsNames, PortsAreKnownByTheirWindowsName)
{
    for (const char *given : {"COM12", "com12", "\\\\.\\COM12", "\\\\.\\cOm12"}) {
        const Target named = namedTarget(given);
        EXPECT_EQ(named.path, "\\\\.\\COM12") << given;
        EXPECT_EQ(named.identity, "COM12") << given;
        EXPECT_TRUE(named.sameAs(namedTarget("COM12"))) << given;
    }
    // Ports that are not called COMn, as some drivers name theirs.
    EXPECT_EQ(namedTarget("CNCA0").path, "\\\\.\\CNCA0");
}

TEST(WindowsNames, WhatIsNoDeviceNameOpensNothing)
{
    // Under wine \\.\C:\windows\win.ini opens the file: refused before that.
    for (const char *given :
         {"/dev/ttyS9", "relative/x", "C:\\windows\\win.ini", "\\\\.\\C:\\windows\\win.ini",
          "\\\\.\\", "COM1:", "COM 1", "\\\\?\\COM1", "COM\xc5\xbd"}) {
        const Target target = namedTarget(given);
        EXPECT_EQ(target.identity, given);
        EXPECT_EQ(openDevice(target), nullptr) << given;
        const PortStatus status = inspect(target);
        EXPECT_EQ(status.code, Availability::Missing) << given;
        EXPECT_EQ(status.info.path, given);
    }
}

TEST(WindowsErrors, EachCodeMeansWhatWindowsMeansByIt)
{
    struct Case {
        Step step;
        DWORD error;
        Availability answer;
    };
    const Case cases[] = {
        {Step::Open, ERROR_SUCCESS, Availability::Available},
        // Another program has the port: Windows opens a port once.
        {Step::Open, ERROR_ACCESS_DENIED, Availability::InUse},
        {Step::Open, ERROR_SHARING_VIOLATION, Availability::InUse},
        {Step::Open, ERROR_FILE_NOT_FOUND, Availability::Missing},
        {Step::Open, ERROR_PATH_NOT_FOUND, Availability::Missing},
        {Step::Open, ERROR_INVALID_NAME, Availability::Missing},
        {Step::Open, ERROR_DEVICE_REMOVED, Availability::Missing},
        {Step::Open, ERROR_GEN_FAILURE, Availability::Missing},
        // Open, but GetCommState refused: no serial port (NUL, a printer)...
        {Step::Ask, ERROR_INVALID_FUNCTION, Availability::NotSerial},
        {Step::Ask, ERROR_NOT_SUPPORTED, Availability::NotSerial},
        {Step::Ask, ERROR_INVALID_HANDLE, Availability::NotSerial},
        // ... or a USB port unplugged in between, as its driver says it.
        {Step::Ask, ERROR_ACCESS_DENIED, Availability::Missing},
        {Step::Ask, ERROR_BAD_COMMAND, Availability::Missing},
        {Step::Ask, ERROR_DEVICE_REMOVED, Availability::Missing},
        {Step::Ask, ERROR_OPERATION_ABORTED, Availability::Missing},
        {Step::Ask, ERROR_SUCCESS, Availability::Available},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(availabilityAfter(c.step, c.error), c.answer)
            << "step " << static_cast<int>(c.step) << ", error " << c.error;
    }
}

TEST(WindowsPort, FreshOpenSetsTheSettingsWithoutFlowControlAndDropsTheLines)
{
    PlayedPort port;
    std::unique_ptr<Device> device = openSerialPort(kPath, port);
    ASSERT_NE(device, nullptr);
    EXPECT_EQ(port.log, (std::vector<std::string>{"open \\\\.\\COM3", "get state"}));
    EXPECT_TRUE(port.dtr); // as the port's driver raised them on open

    ASSERT_TRUE(device->configure(settings(9600, Parity::Even, 7, 2)));
    const DCB &dcb = port.dcb;
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.Parity, EVENPARITY);
    EXPECT_TRUE(dcb.fParity);
    EXPECT_EQ(dcb.ByteSize, 7);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_TRUE(dcb.fBinary);
    EXPECT_FALSE(dcb.fOutxCtsFlow || dcb.fOutxDsrFlow || dcb.fDsrSensitivity || dcb.fOutX ||
                 dcb.fInX);
    EXPECT_EQ(dcb.fDtrControl, static_cast<DWORD>(DTR_CONTROL_DISABLE));
    EXPECT_EQ(dcb.fRtsControl, static_cast<DWORD>(RTS_CONTROL_DISABLE));
    EXPECT_FALSE(port.dtr || port.rts);
    // What the driver does not set stays as the port had it.
    EXPECT_EQ(dcb.XonChar, 0x11);
    EXPECT_EQ(dcb.XoffChar, 0x13);
    EXPECT_EQ(dcb.EofChar, 0x1A);
}

TEST(WindowsPort, EveryParityAndFrameReachesTheDcb)
{
    struct Case {
        Settings settings;
        BYTE parity;
        BYTE stopBits;
    };
    const Case cases[] = {
        {settings(1200, Parity::None, 8, 1), NOPARITY, ONESTOPBIT},
        {settings(300, Parity::Odd, 5, 1), ODDPARITY, ONESTOPBIT},
        {settings(2400, Parity::Mark, 6, 2), MARKPARITY, TWOSTOPBITS},
        {settings(4800, Parity::Space, 8, 2), SPACEPARITY, TWOSTOPBITS},
        // Windows refuses two stop bits with five data bits; a UART sends
        // one and a half there when asked for two.
        {settings(110, Parity::Even, 5, 2), EVENPARITY, ONE5STOPBITS},
        {settings(2147483647, Parity::None, 8, 1), NOPARITY, ONESTOPBIT},
    };
    for (const Case &c : cases) {
        DCB dcb{};
        dcb.fParity = c.settings.parity == Parity::None; // the opposite, to be overwritten
        applySettings(dcb, c.settings, false, false);
        EXPECT_EQ(dcb.BaudRate, static_cast<DWORD>(c.settings.baud));
        EXPECT_EQ(dcb.ByteSize, c.settings.dataBits);
        EXPECT_EQ(dcb.Parity, c.parity);
        EXPECT_EQ(dcb.fParity != 0, c.settings.parity != Parity::None);
        EXPECT_EQ(dcb.StopBits, c.stopBits) << c.settings.dataBits << " data bits";
    }
}

TEST(WindowsPort, ConfiguringAgainNeverMovesALine)
{
    PlayedPort port;
    std::unique_ptr<Device> device = openSerialPort(kPath, port);
    ASSERT_NE(device, nullptr);
    ASSERT_TRUE(device->configure(settings(1200, Parity::None, 8, 1)));
    ASSERT_TRUE(device->setOutput(Output::Dtr, true));
    ASSERT_TRUE(device->setOutput(Output::Rts, false));
    ASSERT_TRUE(device->setOutput(Output::Txd, true));

    port.log.clear();
    ASSERT_TRUE(device->configure(settings(9600, Parity::None, 8, 1)));
    EXPECT_EQ(port.log, (std::vector<std::string>{"get state", "set state"}));
    EXPECT_EQ(port.dcb.BaudRate, 9600u);
    EXPECT_TRUE(port.dtr);
    EXPECT_FALSE(port.rts);
    EXPECT_TRUE(port.brk);

    ASSERT_TRUE(device->setOutput(Output::Dtr, false));
    ASSERT_TRUE(device->setOutput(Output::Rts, true));
    ASSERT_TRUE(device->configure(settings(300, Parity::None, 8, 1)));
    EXPECT_FALSE(port.dtr);
    EXPECT_TRUE(port.rts);
}

TEST(WindowsPort, LinesThroughEscapeBreakAndModemStatus)
{
    PlayedPort port;
    std::unique_ptr<Device> device = openSerialPort(kPath, port);
    ASSERT_NE(device, nullptr);
    port.log.clear();
    EXPECT_TRUE(device->setOutput(Output::Txd, true));
    EXPECT_TRUE(device->setOutput(Output::Txd, false));
    EXPECT_TRUE(device->setOutput(Output::Dtr, true));
    EXPECT_TRUE(device->setOutput(Output::Dtr, false));
    EXPECT_TRUE(device->setOutput(Output::Rts, true));
    EXPECT_TRUE(device->setOutput(Output::Rts, false));
    EXPECT_EQ(port.log, (std::vector<std::string>{"break on", "break off", "SETDTR", "CLRDTR",
                                                  "SETRTS", "CLRRTS"}));

    const std::pair<DWORD, Input> bits[] = {{MS_RLSD_ON, Input::Dcd},
                                            {MS_DSR_ON, Input::Dsr},
                                            {MS_CTS_ON, Input::Cts},
                                            {MS_RING_ON, Input::Ri}};
    for (const auto &[bit, line] : bits) {
        port.modem = bit;
        for (const auto &[other, input] : bits)
            EXPECT_EQ(device->readInput(input), other == bit ? 1 : 0) << "status " << bit;
        port.modem = (MS_RLSD_ON | MS_DSR_ON | MS_CTS_ON | MS_RING_ON) & ~bit;
        EXPECT_EQ(device->readInput(line), 0);
    }
}

TEST(WindowsPort, AnUnpluggedPortNoLongerAnswersWhateverItsDriverSays)
{
    for (DWORD error : {ERROR_ACCESS_DENIED, ERROR_BAD_COMMAND, ERROR_DEVICE_REMOVED,
                        ERROR_OPERATION_ABORTED, ERROR_GEN_FAILURE}) {
        PlayedPort port;
        std::unique_ptr<Device> device = openSerialPort(kPath, port);
        ASSERT_NE(device, nullptr);
        port.unplug(error);
        EXPECT_EQ(device->readInput(Input::Dcd), -1) << error;
        EXPECT_FALSE(device->setOutput(Output::Dtr, true)) << error;
        EXPECT_FALSE(device->setOutput(Output::Txd, true)) << error;
        EXPECT_FALSE(device->configure(settings(1200, Parity::None, 8, 1))) << error;
        device.reset();
        EXPECT_EQ(port.handles, 0);
    }
}

TEST(WindowsPort, AFailedOpenLeavesNothingOpen)
{
    PlayedPort missing;
    missing.present = false;
    EXPECT_EQ(openSerialPort(kPath, missing), nullptr);

    PlayedPort held; // by another program
    held.openError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(openSerialPort(kPath, held), nullptr);
    EXPECT_EQ(held.handles, 0);

    PlayedPort printer; // opens, but is no serial port
    printer.stateError = ERROR_INVALID_FUNCTION;
    EXPECT_EQ(openSerialPort(kPath, printer), nullptr);
    EXPECT_EQ(printer.handles, 0);
    EXPECT_EQ(printer.log.back(), "close");

    for (const PlayedPort *port : {&missing, &held, &printer}) {
        for (const std::string &call : port->log)
            EXPECT_TRUE(call.rfind("open", 0) == 0 || call == "get state" || call == "close")
                << call;
        EXPECT_EQ(port->badCloses, 0);
    }

    PlayedPort good;
    openSerialPort(kPath, good).reset();
    EXPECT_EQ(good.handles, 0); // closed with its device, once
}

TEST(WindowsStatus, ToldWithoutChangingAnySettingOrLine)
{
    PlayedPort absent;
    absent.present = false;
    EXPECT_EQ(serialPortState(L"COM3", kPath, absent), Availability::Missing);
    EXPECT_EQ(absent.log, (std::vector<std::string>{"query"})); // not even opened

    PlayedPort held;
    held.openError = ERROR_ACCESS_DENIED;
    EXPECT_EQ(serialPortState(L"COM3", kPath, held), Availability::InUse);

    PlayedPort idle;
    const DCB before = idle.dcb;
    EXPECT_EQ(serialPortState(L"COM3", kPath, idle), Availability::Available);
    EXPECT_EQ(idle.log,
              (std::vector<std::string>{"query", "open \\\\.\\COM3", "get state", "close"}));
    EXPECT_EQ(idle.handles, 0);
    EXPECT_EQ(idle.dcb.fDtrControl, before.fDtrControl);

    PlayedPort printer;
    printer.stateError = ERROR_INVALID_FUNCTION;
    EXPECT_EQ(serialPortState(L"COM3", kPath, printer), Availability::NotSerial);
    EXPECT_EQ(printer.handles, 0);
}

// With RSCOM_DEBUG=1 a refusal says why, in Windows' own words
// (FormatMessage), on one line.
TEST(WindowsStatus, RscomDebugGivesWindowsReasons)
{
    PlayedPort held;
    held.openError = ERROR_ACCESS_DENIED;
    PlayedPort printer;
    printer.stateError = ERROR_INVALID_FUNCTION;
    setVariable("RSCOM_DEBUG", "1");
    testing::internal::CaptureStderr();
    serialPortState(L"COM3", kPath, held);
    serialPortState(L"COM3", kPath, printer);
    const std::string told = testing::internal::GetCapturedStderr();
    unsetVariable("RSCOM_DEBUG");
    const std::string inUse = "rscom: in use by another program: ";
    const std::string notSerial = "rscom: not a serial line with modem-control lines: ";
    const size_t second = told.find('\n') + 1;
    EXPECT_EQ(told.compare(0, inUse.size(), inUse), 0) << told;
    EXPECT_GT(second, inUse.size() + 1) << told;
    EXPECT_EQ(told.compare(second, notSerial.size(), notSerial), 0) << told;
    EXPECT_GT(told.size(), second + notSerial.size() + 1) << told;
    EXPECT_EQ(told.back(), '\n');
    EXPECT_EQ(told.find('\r'), std::string::npos) << told;
}

// The port table over the Windows backend: an adapter pulled out reads -1,
// and is opened again by itself once it is back, with its lines as last set.
// The port's thread: a wait per event, the levels from the modem status, an
// RI edge from EV_RING itself where the status never shows RI, and the wait
// ended at once when the port closes.
TEST(WindowsPort, AThreadWaitsForTheLinesChanges)
{
    const auto waitFor = [](const std::function<bool()> &done) {
        for (int i = 0; i < 5000 && !done(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return done();
    };
    PlayedPort port;
    std::unique_ptr<Device> device = openSerialPort(kPath, port);
    ASSERT_NE(device, nullptr);
    auto record = std::make_shared<EdgeRecord>();
    device->recordEdges(record);
    EXPECT_EQ(port.log.back(), "modem status");
    EXPECT_EQ(port.log[port.log.size() - 2],
              "mask " + std::to_string(EV_CTS | EV_DSR | EV_RLSD | EV_RING));
    ASSERT_TRUE(waitFor([&] { return port.waits == 1; }));

    const int64_t sent = edgeClock();
    port.send(EV_RLSD | EV_CTS, MS_RLSD_ON | MS_CTS_ON);
    ASSERT_TRUE(waitFor([&] { return record->size() == 2; }));
    port.send(EV_RING, MS_RLSD_ON | MS_CTS_ON); // RI never in the status
    ASSERT_TRUE(waitFor([&] { return record->size() == 3; }));
    rscom_edge edges[4];
    ASSERT_EQ(record->take(edges, 4), 3u);
    const int expected[3][3] = {
        {RSCOM_LINE_DCD, 1, 1}, {RSCOM_LINE_CTS, 1, 1}, {RSCOM_LINE_RI, 2, 0}};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(edges[i].line, expected[i][0]) << i;
        EXPECT_EQ(edges[i].count, expected[i][1]) << i;
        EXPECT_EQ(edges[i].level, expected[i][2]) << i;
        EXPECT_GE(edges[i].time, sent) << i;
    }
    EXPECT_EQ(device->updateEdges(), EdgeState::Told);

    // A wait that fails: the device is gone.
    port.waitError = ERROR_DEVICE_REMOVED;
    ASSERT_TRUE(waitFor([&] { return port.waits == 1; }));
    port.send(EV_DSR, MS_DSR_ON);
    EXPECT_TRUE(waitFor([&] { return device->updateEdges() == EdgeState::Gone; }));

    // Closing ends a pending wait at once; a port whose driver refuses the
    // mask opens, and does not tell its changes.
    port.waitError = ERROR_SUCCESS;
    device = openSerialPort(kPath, port);
    device->recordEdges(record);
    ASSERT_TRUE(waitFor([&] { return port.waits == 1; }));
    const auto start = std::chrono::steady_clock::now();
    device.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    EXPECT_EQ(port.waits, 0);
    EXPECT_EQ(port.handles, 0);
    port.maskError = ERROR_INVALID_FUNCTION;
    device = openSerialPort(kPath, port);
    device->recordEdges(record);
    EXPECT_EQ(device->updateEdges(), EdgeState::Untold);
}

TEST(WindowsPort, UnpluggedAndBackThroughThePortTable)
{
    PlayedPort port;
    port.raisesLinesOnOpen = false; // what comes back is what the table sets
    PortTable::Clock::time_point now{};
    PortTable table([](int n) { return namedTarget("COM" + std::to_string(n)); },
                    [&](const Target &target) {
                        const std::wstring path(target.path.begin(), target.path.end());
                        return openSerialPort(path, port);
                    },
                    [](const Target &) { return PortStatus{}; }, [&] { return now; });

    ASSERT_EQ(table.open("COM3,1200,N,8,1"), 1);
    EXPECT_FALSE(port.dtr || port.rts || port.brk);
    table.set(Output::Dtr, 1);
    port.modem = MS_CTS_ON;
    EXPECT_EQ(table.read(Input::Cts), 1);

    port.unplug(ERROR_BAD_COMMAND);
    EXPECT_EQ(table.read(Input::Cts), -1);
    EXPECT_EQ(port.handles, 0); // the dead handle was let go
    table.set(Output::Rts, 1);  // remembered while gone

    port.plugIn();
    now += PortTable::kRetryPeriod;
    EXPECT_EQ(table.read(Input::Cts), 1);
    EXPECT_EQ(port.handles, 1);
    EXPECT_TRUE(port.dtr);
    EXPECT_TRUE(port.rts);
    EXPECT_EQ(port.dcb.BaudRate, 1200u);
}

// A machine's ports as SetupAPI lists them, plugged in and out step by step;
// SERIALCOMM lists them all, and virtual ports of its own.
class PlayedMachine final : public PortListCalls
{
public:
    std::vector<PnpPort> plugAndPlayPorts() override
    {
        ++looks;
        return devices;
    }
    std::vector<std::string> serialComm() override
    {
        std::vector<std::string> names = virtualPorts;
        for (const PnpPort &device : devices)
            names.push_back(device.name);
        return names;
    }

    std::vector<PnpPort> devices;
    std::vector<std::string> virtualPorts;
    int looks = 0;
};

// A device of the Ports class, its friendly name ending in " (COM7)".
PnpPort device(const std::string &name, const std::string &product, const std::string &maker,
               std::vector<std::string> ids)
{
    return {name, product + " (" + name + ")", maker, std::move(ids)};
}

// The numbers with each port's detail fields as COMSTATUS gives them (path,
// product, maker, serial: what the tooltip shows), and the numbers' file,
// after each step of a user's week.
TEST(WindowsNumbers, PortsAreFoundNumberedDescribedAndRemembered)
{
    wchar_t temp[MAX_PATH];
    ASSERT_GT(::GetTempPathW(MAX_PATH, temp), 0u);
    const std::wstring local =
        temp + std::wstring(L"lintara-") + std::to_wstring(::GetCurrentProcessId());
    ::CreateDirectoryW(local.c_str(), nullptr);
    setVariable("LOCALAPPDATA", std::string(local.begin(), local.end()));
    for (int n = 1; n <= 9; ++n)
        unsetVariable("RSCOM_COM" + std::to_string(n));
    PlayedMachine machine;
    PlayedPort port;
    PortTable::Clock::time_point now{};
    std::int64_t seconds = 0;
    WindowsPorts ports(
        machine, [&] { return now; }, [&] { return seconds; });
    PortTable table(
        [&](int n) {
            const std::optional<Target> mapped = mappedTarget(n);
            return mapped ? *mapped : ports.target(n);
        },
        [&](const Target &target) { return openPort(target, port); },
        [&](const Target &target) { return inspectPort(target, ports, port); });

    const PnpPort com1{"COM1",
                       "Communications Port (COM1)",
                       "(Standard port types)",
                       {"ACPI\\PNP0501\\0", "ACPI\\PNP0A08\\0"}};
    const std::string serial = "FTDIBUS\\VID_0403+PID_6001+A12345A\\0000";
    const PnpPort ftdi = device("COM7", "USB Serial Port", "FTDI",
                                {serial, "USB\\VID_0403&PID_6001\\A12345", "USB\\ROOT_HUB30\\1"});
    const PnpPort replugged = device("COM7", "USB Serial Port", "FTDI",
                                     {serial, "USB\\VID_0403&PID_6001\\A12345", "USB\\HUB\\4"});
    const std::string ch = "USB\\VID_1A86&PID_7523\\5&2C3D4E5F&0&";
    const PnpPort ch12 = device("COM12", "USB-SERIAL CH340", "wch.cn", {ch + "1"});
    const PnpPort ch13 = device("COM13", "USB-SERIAL CH340", "wch.cn", {ch + "2"});
    const std::string bt =
        "BTHENUM\\{00001101-0000-1000-8000-00805F9B34FB}_LOCALMFG&0002\\7&1D80B34A&0&";
    const std::string link = "Standard Serial over Bluetooth link";
    const PnpPort bt8 = device("COM8", link, "Microsoft", {bt + "001A7DDA7113_C00000000"});
    const PnpPort bt9 = device("COM9", link, "Microsoft", {bt + "000000000000_00000000"});
    const PnpPort cp2102 = device("COM3", "CP210x USB to UART Bridge", "Silicon Labs",
                                  {"USB\\VID_10C4&PID_EA60\\0001"});
    const PnpPort pl2303 = device("COM14", "Prolific USB-to-Serial Comm Port", "Prolific",
                                  {"USB\\VID_067B&PID_2303\\6&1A2B3C&0&4"});
    const PnpPort acm =
        device("COM15", "USB Serial Device", "Microsoft",
               {"USB\\VID_2341&PID_0043&MI_00\\7&11A2&0&0000", "USB\\VID_2341&PID_0043\\95530343"});
    const std::vector<PnpPort> six{com1, ftdi, ch12, ch13, cp2102, pl2303, acm};
    // The file's line: number, last seen at step `seen`, identity.
    const auto line = [](int number, int seen, const std::string &identity) {
        return std::to_string(number) + "\t" + std::to_string(seen * 10000) + "\t" + identity +
               "\n";
    };
    const std::string own = "1=COM1|Communications Port",
                      com7 = " 2=COM7|USB Serial Port|FTDI|A12345";
    const std::string chs = " 3=COM12|USB-SERIAL CH340|wch.cn 4=COM13|USB-SERIAL CH340|wch.cn";
    const std::string blue = " 5=COM8|" + link + "|Bluetooth 6=COM9|" + link + "|Bluetooth";
    const std::string adapters = " 3=COM3|CP210x USB to UART Bridge|Silicon Labs|0001 4=COM12|"
                                 "USB-SERIAL CH340|wch.cn 5=COM13|USB-SERIAL CH340|wch.cn";
    const std::string last = " 8=COM15|USB Serial Device|Microsoft|95530343";
    const std::string usb = "usb 0403:6001 serial A12345",
                      acmId = "usb 2341:0043 serial 95530343 interface 00";
    const std::string plId = "device USB\\VID_067B&PID_2303\\6&1A2B3C&0&4";
    struct Step {
        std::string what;
        std::vector<PnpPort> devices;
        std::vector<std::string> virtualPorts;
        std::string numbers;
        std::string file; // without its comment lines; step k's clock is k * 10000 s
    } steps[] = {
        {"Windows' own COM1", {com1}, {}, own, ""},
        {"an FTDI adapter at COM7", {com1, ftdi}, {}, own + com7, line(2, 1, usb)},
        {"unplugged", {com1}, {}, own, line(2, 1, usb)},
        {"in another socket, COM7 again", {com1, replugged}, {}, own + com7, line(2, 3, usb)},
        {"two CH340 without serial numbers at COM12 and COM13",
         {com1, ftdi, ch13, ch12},
         {},
         own + com7 + chs,
         line(2, 4, usb) + line(3, 4, "device " + ch + "1") + line(4, 4, "device " + ch + "2")},
        {"a Bluetooth pair at COM8 and COM9: COM6 beyond the full COM1 to COM5",
         {com1, ftdi, ch12, ch13, bt8, bt9},
         {},
         own + com7 + chs + blue,
         line(2, 5, usb) + line(3, 5, "device " + ch + "1") + line(4, 5, "device " + ch + "2") +
             line(5, 5, "device " + bt8.instanceIds[0]) +
             line(6, 5, "device " + bt9.instanceIds[0])},
        {"the CH340s out, a virtual pair only SERIALCOMM lists takes their numbers",
         {com1, ftdi, bt8, bt9},
         {"CNCB0", "CNCA0"},
         own + com7 + " 3=CNCA0 4=CNCB0" + blue,
         line(2, 6, usb) + line(3, 6, "port CNCA0") + line(4, 6, "port CNCB0") +
             line(5, 6, "device " + bt8.instanceIds[0]) +
             line(6, 6, "device " + bt9.instanceIds[0])},
        {"six adapters at once, one of them at Windows' COM3",
         six,
         {},
         own + com7 + adapters + " 7=COM14|Prolific USB-to-Serial Comm Port|Prolific" + last,
         line(2, 7, usb) + line(3, 6, "port CNCA0") + line(4, 7, "device " + ch + "1") +
             line(5, 7, "device " + ch + "2") + line(6, 6, "device " + bt9.instanceIds[0]) +
             line(7, 7, plId) + line(8, 7, acmId)},
        {"RSCOM_COM1=COM14: COM1 and COM14 left out, the file keeps COM14's line",
         six,
         {},
         "1=COM14|Prolific USB-to-Serial Comm Port|Prolific" + com7 + adapters + last,
         line(2, 8, usb) + line(3, 6, "port CNCA0") + line(4, 8, "device " + ch + "1") +
             line(5, 8, "device " + ch + "2") + line(6, 6, "device " + bt9.instanceIds[0]) +
             line(7, 7, plId) + line(8, 8, acmId)},
    };
    for (const Step &step : steps) {
        machine.devices = step.devices;
        machine.virtualPorts = step.virtualPorts;
        if (&step == &steps[std::size(steps) - 1]) mapPort(1, "COM14");
        now += std::chrono::seconds(3);
        port.log.clear();
        const int looks = machine.looks;
        std::string numbers;
        for (int n = 1; n <= 9; ++n) {
            const PortStatus status = table.status(n);
            if (status.code != Availability::Available) continue;
            std::string fields = detailText(status.info);
            fields.erase(fields.find_last_not_of('\t') + 1);
            std::replace(fields.begin(), fields.end(), '\t', '|');
            numbers += (numbers.empty() ? "" : " ") + std::to_string(n) + "=" + fields;
        }
        EXPECT_EQ(numbers, step.numbers) << step.what;
        EXPECT_EQ(machine.looks, looks + 1) << step.what << ": one look for the probe";
        std::ifstream in(std::string(local.begin(), local.end()) + "\\rscom\\ports");
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        text.erase(0, text.empty() ? 0 : text.find("identity\n") + 9);
        EXPECT_EQ(text, step.file) << step.what;
        seconds += 10000;
        // A Bluetooth port is never opened to be asked.
        for (const std::string &call : port.log)
            EXPECT_TRUE(call.find("COM8") == std::string::npos &&
                        call.find("COM9") == std::string::npos)
                << call;
    }
    unsetVariable("RSCOM_COM1");
    port.log.clear();
    EXPECT_EQ(table.open("COM5,1200,N,8,1"), 1); // where Windows has it now
    EXPECT_EQ(port.log.at(0), "open \\\\.\\COM13");
    EXPECT_EQ(table.open("COM6,1200,N,8,1"), 0); // out
    for (const wchar_t *file : {L"\\rscom\\ports", L"\\rscom\\ports.lock"})
        ::DeleteFileW((local + file).c_str());
    ::RemoveDirectoryW((local + L"\\rscom").c_str());
    ::RemoveDirectoryW(local.c_str());
}

// What Windows itself answers (wine on the build machine): devices that are
// not there, and one that is no serial port.
class WindowsSystem : public testing::Test
{
protected:
    void SetUp() override
    {
        for (int n = 1; n <= 10; ++n)
            mapPort(n, "none");
    }
    void TearDown() override
    {
        CLOSECOM();
        for (int n = 1; n <= 10; ++n)
            unsetVariable("RSCOM_COM" + std::to_string(n));
    }
};

TEST_F(WindowsSystem, AbsentPortsAreMissingAndOpenNothing)
{
    for (const char *name : {"LINTARA0", "\\\\.\\LINTARA-ABSENT"}) {
        const Target target = namedTarget(name);
        EXPECT_EQ(inspect(target).code, Availability::Missing) << name;
        EXPECT_EQ(openDevice(target), nullptr) << name;
    }
    mapPort(2, "\\\\.\\lintara7");
    const Answer answer = comStatus(2);
    EXPECT_EQ(answer.code, RSCOM_MISSING);
    EXPECT_EQ(answer.detail, "LINTARA7\t\t\t\t\t\t"); // the name a Windows user knows
}

TEST_F(WindowsSystem, NulIsNoSerialPort)
{
    mapPort(1, "loopback");
    ASSERT_EQ(OPENCOM("COM1,1200,N,8,1"), 1);
    DTR(1);
    mapPort(2, "NUL");
    EXPECT_EQ(comStatus(2).code, RSCOM_NOT_SERIAL);
    EXPECT_EQ(comStatus(2).detail, "NUL\t\t\t\t\t\t");
    EXPECT_EQ(OPENCOM("COM2,1200,N,8,1"), 0);
    EXPECT_EQ(DSR(), 1); // COM1 is still current
}

// COM1 to COM9 as the driver finds them unmapped. Only where the machine's
// serial ports are out of reach (tests/windows/wine_tests.sh hides them from
// wine and says so): elsewhere this would open real ports.
TEST_F(WindowsSystem, WithoutSerialPortsNothingOpens)
{
    const char *hidden = std::getenv("LINTARA_NO_SERIAL_PORTS");
    if (hidden == nullptr || std::string(hidden) != "1")
        GTEST_SKIP() << "would open this machine's COM1 to COM9; run under "
                        "tests/windows/wine_tests.sh, which hides them";
    for (int n = 1; n <= 9; ++n) {
        const std::wstring name = L"COM" + std::to_wstring(n);
        wchar_t target[256];
        ASSERT_EQ(QueryDosDeviceW(name.c_str(), target, 256), 0u)
            << "COM" << n << " exists here: not opening it";
    }
    mapPort(10, "loopback");
    ASSERT_EQ(OPENCOM("COM10,1200,N,8,1"), 1);
    RTS(1);
    for (int n = 1; n <= 9; ++n) {
        unsetVariable("RSCOM_COM" + std::to_string(n));
        EXPECT_EQ(comStatus(n).code, RSCOM_MISSING) << n;
        EXPECT_EQ(comStatus(n).detail, "\t\t\t\t\t\t"); // no port has the number
        EXPECT_EQ(OPENCOM(settingsOf(n).c_str()), 0) << n;
    }
    EXPECT_EQ(CTS(), 1); // COM10 is still current
}

} // namespace
