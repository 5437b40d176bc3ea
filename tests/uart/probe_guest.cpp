// The program's port probe in the VM that run_uart_test.sh boots, on the real
// driver and the kernel's own 8250 and USB serial drivers: Port::probe
// through the program's binding, as the chooser and the settings run it
// when they open, with librscom.so.1 found as the installed program finds it,
// in the library folder beside the program's own.
//
// With COMSTATUS the probe must open no device, write no register of any
// UART and leave no descriptor behind. This program watches /dev for opens
// and its own descriptors; the host finds in qemu's trace whether a UART
// register was written between the markers. Two controls show that both
// would see it: an OPENCOM of ttyS1 through the same binding, and, with
// --without-status, the same probe on the driver built without COMSTATUS
// (put in front with LD_LIBRARY_PATH), which opens the ports to test them.
//
// The VM's ports: ttyS0 is its console, ttyS1 and ttyS2 are 16550As with
// nothing attached, ttyS3 a slot with no UART behind it, and ttyUSB0 qemu's
// USB serial adapter (an FTDI chip with the serial number AAA111).
//
// This program drives real ports. It refuses to start anywhere but in that VM.

#include "descriptors.h"
#include "driverlines.h"
#include "guest.h"
#include "modul1.h"
#include "ports.h"

#include <QString>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace
{

using guest::check;
using guest::errnoText;
using guest::info;

// The guest's console, named without the literal path.
const std::string kConsole = std::string("/dev/tty") + "S0";
constexpr const char *kPort = "/dev/ttyS1";
constexpr const char *kSecond = "/dev/ttyS2";
constexpr const char *kEmpty = "/dev/ttyS3";
constexpr const char *kAdapter = "/dev/ttyUSB0";

// Stretch numbers of their own: the driver's guest test numbers its
// stretches from 1.
constexpr int kFirstStretch = 101;
constexpr int kFirstStretchWithoutStatus = 121;

// The probe's COM numbers of its own, not the driver's guest test's.
constexpr const char *kStateFolder = "/state-probe";

// Where run_uart_test.sh puts the drivers.
constexpr const char *kDriver = "/lintara/lib/librscom.so.1";
constexpr const char *kDriverWithoutStatus = "/lintara/without-status/librscom.so.1";

std::string utf8(const QString &text)
{
    return text.toUtf8().toStdString();
}

// A tooltip on one line.
std::string oneLine(const std::string &text)
{
    std::string line = text;
    for (size_t at = line.find('\n'); at != std::string::npos; at = line.find('\n', at))
        line.replace(at, 1, " / ");
    return line;
}

// --- what the probe leaves behind -----------------------------------------------

// This process's descriptors on anything in /dev, as "fd -> path".
std::set<std::string> devDescriptors()
{
    std::set<std::string> found;
    for (const auto &[fd, target] : openDescriptors()) {
        if (target.compare(0, 5, "/dev/") == 0) found.insert(std::to_string(fd) + " -> " + target);
    }
    return found;
}

std::string listing(const std::set<std::string> &items)
{
    std::string text;
    for (const std::string &item : items)
        text += (text.empty() ? "" : ", ") + item;
    return text.empty() ? "none" : text;
}

// The descriptors in `after` that were not in `before`.
std::set<std::string> added(const std::set<std::string> &before, const std::set<std::string> &after)
{
    std::set<std::string> more;
    for (const std::string &item : after) {
        if (!before.count(item)) more.insert(item);
    }
    return more;
}

// Every open of a node in /dev, by anyone, as inotify reports it; opening a
// device raises its DTR and RTS, so there must be none while the probe asks.
class DevOpens
{
public:
    DevOpens()
    {
        m_fd = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
        if (m_fd >= 0 && inotify_add_watch(m_fd, "/dev", IN_OPEN) < 0) {
            ::close(m_fd);
            m_fd = -1;
        }
    }
    ~DevOpens()
    {
        if (m_fd >= 0) ::close(m_fd);
    }
    DevOpens(const DevOpens &) = delete;
    DevOpens &operator=(const DevOpens &) = delete;

    bool watching() const { return m_fd >= 0; }

    // The nodes opened since the last call, "/dev/<name>".
    std::set<std::string> take()
    {
        std::set<std::string> names;
        alignas(inotify_event) char buffer[4096];
        ssize_t n;
        while (m_fd >= 0 && (n = ::read(m_fd, buffer, sizeof buffer)) > 0) {
            for (ssize_t at = 0; at < n;) {
                const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
                names.insert(event->len > 0 ? std::string("/dev/") + event->name : "/dev");
                at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
            }
        }
        return names;
    }

private:
    int m_fd = -1;
};

// The driver library this process loaded, as its memory map names it.
std::string loadedDriver()
{
    std::ifstream maps("/proc/self/maps");
    for (std::string line; std::getline(maps, line);) {
        const size_t at = line.find('/');
        if (at != std::string::npos && line.find("librscom.so") != std::string::npos)
            return line.substr(at);
    }
    return "none";
}

// --- the probe, as the windows run it ---------------------------------------------

struct Probe {
    std::set<int> disabled;
    std::map<int, std::string> tooltips;
    std::string message; // what the settings show
};

Probe probe()
{
    Probe result;
    QString unavailablePorts;
    Port::probe([&](int port) { result.disabled.insert(port); },
                [&](int port, const QString &text) { result.tooltips[port] = utf8(text); },
                unavailablePorts);
    result.message = utf8(Port::unavailableMessage(unavailablePorts));
    return result;
}

std::string text(const std::set<int> &ports)
{
    std::string out;
    for (int port : ports)
        out += (out.empty() ? "COM" : ", COM") + std::to_string(port);
    return out.empty() ? "none" : out;
}

// What each option says, for the log, and the checks of each tooltip.
void expectTooltips(const std::string &name, const Probe &got,
                    const std::map<int, std::string> &want)
{
    for (int port = Port::kFirst; port <= Port::kLast; ++port) {
        const auto found = got.tooltips.find(port);
        const std::string tooltip = found != got.tooltips.end() ? found->second : "<none>";
        info(name + "COM" + std::to_string(port) + ": " + oneLine(tooltip));
        check(name + "COM" + std::to_string(port) + "'s tooltip", tooltip == want.at(port),
              "\"" + oneLine(tooltip) + "\", want \"" + oneLine(want.at(port)) + "\"");
    }
}

// Everything that must hold of a probe that only asked: it opened nothing in
// /dev, left nothing open, and the binding reported nothing.
void expectOnlyAsked(const std::string &name, const std::set<std::string> &opened,
                     const std::set<std::string> &fdsBefore, int failures)
{
    check(name + "nothing in /dev opened", opened.empty(), "opened " + listing(opened));
    const std::set<std::string> left = added(fdsBefore, devDescriptors());
    check(name + "no descriptor on any device left open", left.empty(), listing(left));
    check(name + "the binding reported no failure", failures == 0,
          std::to_string(failures) + " reports");
}

// --- the environment ----------------------------------------------------------------

int g_failures = 0;

void unmapAll()
{
    for (int port = 1; port <= 255; ++port)
        unsetenv(("RSCOM_COM" + std::to_string(port)).c_str());
}

bool setupEnvironment(int firstStretch)
{
    guest::group("probe-environment");
    bool ok = check("probe-environment: ttyS1's scratch register can take markers",
                    guest::enableMarkers(firstStretch), "ioperm: " + errnoText(errno));
    ::mkdir(kStateFolder, 0700);
    setenv("XDG_STATE_HOME", kStateFolder, 1);
    unmapAll();
    // The driver's guest test has loaded the adapter's modules already, and
    // left it plugged in; this program does not count on it.
    if (access(kAdapter, F_OK) != 0) guest::loadModules("probe-environment: ");
    ok &= check("probe-environment: the USB adapter is ttyUSB0",
                guest::waitForNode(kAdapter, true, 10) >= 0, "not within 10 s");
    Modul1::setFailureHandler([](const QString &library, const QString &reason) {
        ++g_failures;
        info("the binding reports: " + utf8(library) + ": " + utf8(reason));
    });
    return ok;
}

// A program that holds ttyS2 open, as a terminal program would, until its
// input ends; pid -1 when it could not.
guest::Child holdSecond()
{
    guest::Child child = guest::startChild([]() {
        // It may not outlive this program, should the watchdog end it.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        prctl(PR_SET_NAME, "porthog");
        const int fd = ::open(kSecond, O_RDWR | O_NOCTTY | O_NONBLOCK);
        guest::reply(fd >= 0 ? "holding" : "open: " + guest::errnoText(errno));
        guest::waitForEnd();
        return 0;
    });
    if (guest::readReply(child) != "holding") guest::finishChild(child);
    return child;
}

// --- the checks ---------------------------------------------------------------------

// What the options say of the VM's ports as the driver numbers them.
std::map<int, std::string> numberedTooltips()
{
    return {{1, kConsole + "\nPort je systémová konzole."},
            {2, kPort},
            {3, kSecond},
            {4, std::string(kAdapter) + " – QEMU USB SERIAL (QEMU, AAA111)"},
            {5, "Port neexistuje."}};
}

// The ports as the driver numbers them by itself, as at the program's start.
void checkAutomatic(DevOpens &opens)
{
    guest::group("probe");
    const std::set<std::string> fds = devDescriptors();
    opens.take();
    Probe got;
    guest::quietly("the program's probe, COM1 to COM5 numbered by the driver",
                   [&]() { got = probe(); });
    const std::set<std::string> opened = opens.take();
    check("probe: the driver is the one beside the program", loadedDriver() == kDriver,
          loadedDriver());
    expectTooltips("probe: ", got, numberedTooltips());
    check("probe: COM1 and COM5 disabled", got.disabled == std::set<int>{1, 5}, text(got.disabled));
    info("probe: the settings say: " + got.message);
    check("probe: the settings name COM1 and COM5",
          got.message == "Port(y) 1, 5  nelze otevřít - jsou nepřístupné, nebo neexistují",
          got.message);
    expectOnlyAsked("probe: ", opened, fds, g_failures);
}

// The ports named by RSCOM_COMn, one of them held by another program.
void checkMapped(DevOpens &opens)
{
    guest::group("probe-mapped");
    guest::Child holder = holdSecond();
    if (!check("probe-mapped: another program holds ttyS2 open", holder.pid > 0)) return;
    setenv("RSCOM_COM1", "/dev/console", 1);
    setenv("RSCOM_COM2", kPort, 1);
    setenv("RSCOM_COM3", kSecond, 1);
    setenv("RSCOM_COM4", kEmpty, 1);
    setenv("RSCOM_COM5", "loopback", 1);
    const std::set<std::string> fds = devDescriptors();
    opens.take();
    Probe got;
    guest::quietly("the program's probe, COM1 to COM5 named by RSCOM_COMn",
                   [&]() { got = probe(); });
    const std::set<std::string> opened = opens.take();
    const std::string pid = std::to_string(holder.pid);
    guest::finishChild(holder);
    unmapAll();

    expectTooltips(
        "probe-mapped: ", got,
        {{1, "/dev/console\nPort je systémová konzole."},
         {2, kPort},
         {3, std::string(kSecond) + "\nPort používá jiný program: porthog (PID " + pid + ")."},
         {4, std::string(kEmpty) + "\nNení to sériový port s řídicími signály."},
         {5, "virtuální port se zkušební zástrčkou"}});
    check("probe-mapped: COM1, COM3 and COM4 disabled", got.disabled == std::set<int>{1, 3, 4},
          text(got.disabled));
    info("probe-mapped: the settings say: " + got.message);
    expectOnlyAsked("probe-mapped: ", opened, fds, g_failures);
}

// The proof that both the trace and the watch on /dev would see an open.
void checkControl(DevOpens &opens)
{
    guest::group("probe-control");
    opens.take();
    int opened = -1;
    guest::quietly(
        "control: OPENCOM(COM2), ttyS1, through the binding",
        [&]() { opened = Modul1::OPENCOM(Port::settings(2)); }, true);
    const std::set<std::string> seen = opens.take();
    check("probe-control: OPENCOM(COM2) returns 1", opened == 1,
          "returned " + std::to_string(opened));
    check("probe-control: the watch on /dev saw ttyS1 opened", seen == std::set<std::string>{kPort},
          "saw " + listing(seen));
    const std::set<std::string> fds = devDescriptors();
    check("probe-control: the driver holds ttyS1",
          listing(fds).find(std::string(" -> ") + kPort) != std::string::npos, listing(fds));
}

// The settings probe again while the monitor has its port open: the port the
// driver holds is available, and asking about it touches it no more than
// the others.
void checkWhileHeld(DevOpens &opens)
{
    guest::group("probe-while-held");
    const std::set<std::string> fds = devDescriptors();
    opens.take();
    Probe got;
    guest::quietly("the program's probe while it holds COM2", [&]() { got = probe(); });
    const std::set<std::string> opened = opens.take();
    expectTooltips("probe-while-held: ", got, numberedTooltips());
    check("probe-while-held: COM1 and COM5 disabled, COM2 offered",
          got.disabled == std::set<int>{1, 5}, text(got.disabled));
    expectOnlyAsked("probe-while-held: ", opened, fds, g_failures);
    check("probe-while-held: the driver still holds ttyS1", devDescriptors() == fds,
          listing(devDescriptors()));
}

// The wiring test's clock without an event loop: each wait is a sleep, and
// the steps run in turn.
class Sleeping final : public WiringTest::Clock
{
public:
    void after(int milliseconds, std::function<void()> then) override
    {
        m_next.emplace_back(milliseconds, std::move(then));
    }
    void run()
    {
        for (std::size_t i = 0; i < m_next.size(); ++i) {
            guest::sleepMs(m_next[i].first);
            m_next[i].second();
        }
    }

private:
    std::vector<std::pair<int, std::function<void()>>> m_next;
};

// The wiring test on ttyS1 in the UART's own loopback mode (TIOCM_LOOP),
// where MCR drives MSR: DTR to DSR, RTS to CTS, OUT2 to DCD, OUT1 to RI.
// On the real driver, through the program's binding, it must find DTR and
// RTS.
void checkWiring()
{
    guest::group("probe-wiring");
    const int fd = ::open(kPort, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (!check("probe-wiring: own descriptor on ttyS1", fd >= 0, errnoText(errno))) return;
    int loop = 0x8000; // TIOCM_LOOP, which glibc's headers do not name
    check("probe-wiring: loopback mode on", ::ioctl(fd, TIOCMBIS, &loop) == 0, errnoText(errno));
    DriverLines lines;
    Sleeping clock;
    WiringTest test(lines, clock, 2);
    QStringList result;
    test.start([&](const QStringList &told) { result = told; });
    clock.run();
    const QString shown = result.join(QStringLiteral(" | "));
    check("probe-wiring: DTR -> DSR and RTS -> CTS, a test plug",
          result.contains(QStringLiteral("DTR → DSR")) &&
              result.contains(QStringLiteral("RTS → CTS")) &&
              result.value(result.size() - 1) ==
                  QStringLiteral("Zapojení odpovídá zkušební zástrčce."),
          utf8(shown));
    info("wiring test on ttyS1 in loopback mode: " + utf8(shown));
    ::ioctl(fd, TIOCMBIC, &loop);
    ::close(fd);
}

// The same probe with a driver that lacks COMSTATUS: it opens COM1 to COM5
// in turn and keeps what it opened.
void checkWithoutStatus(DevOpens &opens)
{
    guest::group("probe-without-status");
    const std::set<std::string> fds = devDescriptors();
    opens.take();
    Probe got;
    guest::quietly(
        "the program's probe on a driver without COMSTATUS", [&]() { got = probe(); }, true);
    const std::set<std::string> opened = opens.take();
    const std::set<std::string> left = added(fds, devDescriptors());

    check("probe-without-status: the driver is the one LD_LIBRARY_PATH puts in front",
          loadedDriver() == kDriverWithoutStatus, loadedDriver());
    QString detail;
    check("probe-without-status: the binding finds no COMSTATUS",
          !Modul1::COMSTATUS(1, detail).has_value());
    check("probe-without-status: the binding reported nothing", g_failures == 0,
          std::to_string(g_failures) + " reports");
    check("probe-without-status: no tooltips", got.tooltips.empty(),
          std::to_string(got.tooltips.size()) + " given");
    check("probe-without-status: the same ports disabled, COM1 and COM5",
          got.disabled == std::set<int>{1, 5}, text(got.disabled));
    info("probe-without-status: the settings say: " + got.message);
    // The console is refused before any open.
    const std::set<std::string> ports{kPort, kSecond, kAdapter};
    check("probe-without-status: ttyS1, ttyS2 and ttyUSB0 opened, and nothing else",
          opened == ports, "opened " + listing(opened));
    std::set<std::string> held;
    for (const std::string &item : left)
        held.insert(item.substr(item.find(" -> ") + 4));
    check("probe-without-status: all three kept open", held == ports, listing(left));
}

} // namespace

int main(int argc, char **argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!guest::inGuest()) {
        std::fprintf(stderr,
                     "probe_guest drives real serial ports and runs only inside the test VM "
                     "that run_uart_test.sh boots; refusing to run here.\n");
        return 2;
    }
    const bool withoutStatus = argc == 2 && std::strcmp(argv[1], "--without-status") == 0;
    if (argc != 1 && !withoutStatus) {
        std::fprintf(stderr, "usage: %s [--without-status]\n", argv[0]);
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);

    if (setupEnvironment(withoutStatus ? kFirstStretchWithoutStatus : kFirstStretch)) {
        DevOpens opens;
        if (check("probe-environment: /dev is watched for opens", opens.watching(),
                  "inotify: " + errnoText(errno))) {
            if (withoutStatus) {
                checkWithoutStatus(opens);
            } else {
                checkAutomatic(opens);
                checkMapped(opens);
                checkControl(opens);
                checkWhileHeld(opens);
                checkWiring();
            }
        }
    }
    return guest::summary();
}
