// The VM test's unplug and recovery: a UART whose device goes away and
// comes back, and the USB serial adapter unplugged and plugged in again.
#include "uart_checks.h"

namespace uart
{

struct Sysfs {
    std::string device; // e.g. 00:05 or serial8250
    std::string driver; // the driver's sysfs folder
};

bool findSysfs(Sysfs *out)
{
    char buf[512];
    ssize_t n = readlink("/sys/class/tty/ttyS1/device", buf, sizeof buf - 1);
    if (n <= 0) return false;
    std::string device(buf, static_cast<size_t>(n));
    out->device = device.substr(device.rfind('/') + 1);
    char *driver = realpath("/sys/class/tty/ttyS1/device/driver", nullptr);
    if (driver == nullptr) return false;
    out->driver = driver;
    std::free(driver);
    return true;
}

// Calls the readers until they answer, as the program's polling does.
double waitForReaders(double limit)
{
    const double t0 = seconds();
    while (seconds() - t0 < limit) {
        if (DSR() != -1) return seconds() - t0;
        sleepMs(50);
    }
    return -1;
}

void unplugCycle(const Sysfs &sys, int cycle, bool dtr, bool rts)
{
    const std::string name = "unplug " + std::to_string(cycle) + ": ";
    // Levels before the unplug, then the levels the driver must bring back,
    // set while the device is gone.
    DTR(!dtr);
    RTS(!rts);
    expectOutputs(name + "lines set before", !dtr, !rts);

    std::string error;
    if (!check(name + "unbind " + sys.device, writeFile(sys.driver + "/unbind", sys.device, &error),
               error))
        return;
    check(name + "our descriptor sees the port gone", modemBits(g_watch) == -1);
    ::close(g_watch);
    g_watch = -1;

    bool allGone = true;
    std::string seen;
    for (int i = 0; i < 10; ++i) {
        const Inputs got = readInputs();
        if (!(got == Inputs{-1, -1, -1, -1})) {
            allGone = false;
            seen = text(got);
        }
        sleepMs(100);
    }
    check(name + "readers return -1 while the device is gone", allGone, "read " + seen);
    DTR(dtr);
    RTS(rts);
    check(name + "OPENCOM of the gone port returns 0", OPENCOM(kCom2) == 0);
    expectInputs(name + "readers still -1 after the setters", {-1, -1, -1, -1});

    if (!check(name + "bind " + sys.device, writeFile(sys.driver + "/bind", sys.device, &error),
               error))
        return;
    const double took = waitForReaders(5.0);
    if (took >= 0)
        info(name + "readers answered " + std::to_string(static_cast<int>(took * 1000)) +
             " ms after bind");
    if (!check(name + "readers work again by themselves", took >= 0, "still -1 after 5 s")) return;
    const Inputs got = readInputs();
    check(name + "readers give 0 or 1",
          got.dcd >= 0 && got.dsr >= 0 && got.cts >= 0 && got.ri >= 0 && got.dcd <= 1 &&
              got.dsr <= 1 && got.cts <= 1 && got.ri <= 1,
          text(got));
    expectOutputs(name + "DTR and RTS restored to the levels last set", dtr, rts);

    // A descriptor of ours again (its open raises DTR and RTS), loopback on,
    // and the driver's new descriptor drives the UART.
    g_watch = ::open(kPort, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (!check(name + "own descriptor again", g_watch >= 0, errnoText(errno))) return;
    checkSettings(name + "settings restored", g_watch, {B1200, CS8, 'N', 1});
    setBits(g_watch, TIOCM_LOOP, true);
    DTR(1);
    RTS(0);
    expectInputs(name + "DTR on, RTS off after the return", {1, 1, 0, 0});
    DTR(0);
    RTS(1);
    expectInputs(name + "DTR off, RTS on after the return", {1, 0, 1, 0});
    check(name + "OPENCOM of the returned port returns 1", OPENCOM(kCom2) == 1);
    expectInputs(name + "lines kept by that OPENCOM", {1, 0, 1, 0});
    RTS(0);
}

void checkUnplug()
{
    group("unplug");
    Sysfs sys;
    if (!check("unplug: ttyS1's device and driver in sysfs", findSysfs(&sys))) return;
    info("ttyS1 is device " + sys.device + " of " + sys.driver);
    const int fds = countFds();
    unplugCycle(sys, 1, true, false);
    unplugCycle(sys, 2, false, true);
    check("unplug: descriptor count unchanged", countFds() == fds,
          std::to_string(countFds() - fds));
    check("unplug: ttyS1 back at the same path",
          procEntry(1).find("uart:16550A") != std::string::npos, procEntry(1));
}

void checkClose()
{
    group("close");
    const int fds = countFds();
    CLOSECOM();
    expectInputs("close: readers -1 without a current port", {-1, -1, -1, -1});
    check("close: the driver's descriptor closed", countFds() == fds - 1,
          std::to_string(countFds() - fds));
    const int fd = ::open(kPort, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    check("close: the port can be locked by others", fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0,
          errnoText(errno));
    if (fd >= 0) ::close(fd);
    check("close: OPENCOM opens it again", OPENCOM(kCom2) == 1);
    expectOutputs("close: DTR and RTS inactive after that open", false, false);
}

// --- a USB serial adapter ------------------------------------------------------
//
// qemu's usb-serial: an FTDI adapter with the serial number AAA111, whose
// inputs DCD, DSR and CTS are on and RI off. The host unplugs and plugs it
// when this program asks on the console; this program waits for its device
// node to vanish or appear. Its COM number is given automatically: COM1 to
// COM3 are the UARTs, and at first RSCOM_COM4=none keeps COM4 from it, so it
// takes COM5, and keeps COM5 once COM4 is free.

constexpr const char *kAdapter = "/dev/ttyUSB0";
constexpr const char *kAdapterRenamed = "/dev/ttyUSB1";
constexpr int kAdapterPort = 5;
constexpr const char *kCom5 = "COM5,1200,N,8,1";
const Inputs kAdapterInputs{1, 1, 1, 0};

Status adapterStatus(const char *path)
{
    return status(1, path, "QEMU USB SERIAL", "QEMU", "AAA111");
}

int g_requests = 0;

void askHost(const char *action)
{
    std::printf("LINTARA-HOST %d %s\n", ++g_requests, action);
    std::fflush(stdout);
}

std::string ms(double secondsTaken)
{
    return std::to_string(static_cast<int>(secondsTaken * 1000)) + " ms";
}

// The numbers' file's lines for the adapter: "5\t<seconds>\t<identity>".
std::vector<std::string> adapterLines()
{
    std::ifstream in(kNumbersFile);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        if (line.find("serial AAA111") != std::string::npos) lines.push_back(line);
    }
    return lines;
}

// False when the adapter never appeared: the other USB checks need it.
bool checkUsbNumber()
{
    group("usb");
    CLOSECOM();
    unmapAll();
    setenv("RSCOM_COM4", "none", 1);
    const double t0 = seconds();
    if (!loadModules("usb: ")) return false;
    const double took = waitForNode(kAdapter, true, 10);
    if (!check("usb: the adapter appears as ttyUSB0", took >= 0, "not within 10 s")) return false;
    info("usb: ttyUSB0 appeared " + ms(seconds() - t0) + " after the first module's load");

    expectStatus("usb: the adapter is COM5, as COM4 is taken", comStatus(5),
                 adapterStatus(kAdapter));
    expectStatus("usb: COM4 is none", comStatus(4), status(0, ""));
    const std::vector<std::string> lines = adapterLines();
    check("usb: the numbers' file remembers it as COM5, by its serial number",
          lines.size() == 1 && lines[0].compare(0, 2, "5\t") == 0 &&
              lines[0].find("\tusb 0403:6001 serial AAA111") != std::string::npos,
          std::to_string(lines.size()) + " lines" + (lines.empty() ? "" : ": " + lines[0]));

    unsetenv("RSCOM_COM4");
    expectStatus("usb: it keeps COM5 when COM4 is free", comStatus(5), adapterStatus(kAdapter));
    expectStatus("usb: COM4 stays nothing", comStatus(4), status(0, ""));

    std::vector<Status> probe(5);
    quietly("the probe with the adapter: COMSTATUS(1) to COMSTATUS(5)", [&]() {
        for (int port = 1; port <= 5; ++port)
            probe[static_cast<size_t>(port - 1)] = comStatus(port);
    });
    expectStatus("usb: probe: COM2 is ttyS1", probe[1], status(1, kPort));
    expectStatus("usb: probe: COM5 is the adapter", probe[4], adapterStatus(kAdapter));
    return true;
}

// Asks the host to unplug the adapter and waits until its node is gone.
bool unplugAdapter(const std::string &name, const char *path)
{
    askHost("unplug");
    const double gone = waitForNode(path, false, 10);
    if (gone >= 0) info(name + "node gone " + ms(gone) + " after the request");
    return check(name + "the adapter is unplugged", gone >= 0,
                 "its node is still there after 10 s");
}

bool plugAdapter(const std::string &name, const char *path)
{
    askHost("plug");
    const double back = waitForNode(path, true, 10);
    if (back >= 0) info(name + std::string(path) + " appeared " + ms(back) + " after the request");
    return check(name + "the adapter is back as " + path, back >= 0, "not within 10 s");
}

// Helper mode: a program that keeps a device open, without a lock.
int keepOpen(const char *path)
{
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK);
    reply(fd >= 0 ? "open" : "open: " + errnoText(errno));
    waitForEnd();
    return 0;
}

// Helper mode: COMSTATUS of one port in a fresh process.
int statusOf(const char *port)
{
    reply(text(comStatus(std::atoi(port))));
    return 0;
}

void checkUsbRestart()
{
    group("usb-restart");
    Child again = startSelf({"--status", "5"});
    const std::string restarted = readReply(again);
    finishChild(again);
    check("usb-restart: a new process finds the adapter as COM5",
          restarted == text(adapterStatus(kAdapter)), restarted);
    // Without the numbers' file it would be COM4: the file is what keeps it.
    Child fresh = startSelf({"--status", "4"}, {{"XDG_STATE_HOME", "/state-new"}});
    const std::string unremembered = readReply(fresh);
    finishChild(fresh);
    check("usb-restart: a process with no numbers' file gives it COM4",
          unremembered == text(adapterStatus(kAdapter)), unremembered);
}

// Calls the readers, as the program's polling does, until they give `want`;
// the seconds it took, or -1.
double waitForInputs(const Inputs &want, double limit)
{
    const double t0 = seconds();
    while (seconds() - t0 < limit) {
        if (readInputs() == want) return seconds() - t0;
        sleepMs(20);
    }
    return -1;
}

// The driver's descriptor on `path`, or -1: nothing else in this process
// opens the adapter.
int driverFd(const std::string &path)
{
    const std::vector<int> fds = fdsOn(path);
    return fds.size() == 1 ? fds[0] : -1;
}

// DTR and RTS as the kernel's driver of the adapter has them, asked on the
// driver's own descriptor: another open would raise both.
std::string adapterOutputs(const char *path)
{
    const int fd = driverFd(path);
    if (fd < 0) return std::to_string(fdsOn(path).size()) + " driver descriptors on " + path;
    const int bits = modemBits(fd);
    if (bits < 0) return "TIOCMGET: " + errnoText(errno);
    return outputs(bits & TIOCM_DTR, bits & TIOCM_RTS);
}

// One unplug of the held adapter, found at `from`, which comes back at `to`.
// The levels set while it is gone come back with it, or, when nothing is
// called while it is gone, the levels set before.
struct Replug {
    const char *from;
    const char *to;
    bool dtr, rts;
    bool callWhileGone = true;
    std::function<void()> during = {};
};

void heldReplug(const std::string &name, const Replug &r)
{
    // Each replug may take its own while: the watchdog starts again.
    restartWatchdog();
    DTR(r.callWhileGone ? !r.dtr : r.dtr);
    RTS(r.callWhileGone ? !r.rts : r.rts);
    if (!unplugAdapter(name, r.from)) return;
    if (r.callWhileGone) {
        const double dead = waitForInputs({-1, -1, -1, -1}, 5);
        check(name + "readers give -1 while it is gone", dead >= 0, "read " + text(readInputs()));
        DTR(r.dtr);
        RTS(r.rts);
        if (r.during) r.during();
    }
    if (!plugAdapter(name, r.to)) return;
    // They answer within a retry period or two.
    const double limit = 5;
    const double back = waitForInputs(kAdapterInputs, limit);
    if (back >= 0) info(name + "readers answered " + ms(back) + " after the node appeared");
    const std::string readers = name + "readers work again by themselves";
    const std::string read = "read " + text(readInputs()) + " for " + ms(limit);
    if (!check(readers, back >= 0, read)) return;
    check(name + "DTR and RTS as last set", adapterOutputs(r.to) == outputs(r.dtr, r.rts),
          adapterOutputs(r.to) + ", want " + outputs(r.dtr, r.rts));
    expectStatus(name + "COMSTATUS(5): ours, available", comStatus(kAdapterPort),
                 adapterStatus(r.to));
}

void checkUsbHeld()
{
    group("usb-held");
    const int opened = OPENCOM(kCom5);
    if (!check("usb-held: OPENCOM(COM5,1200,N,8,1) returns 1", opened == 1,
               "returned " + std::to_string(opened) + "; " + diagnose(kAdapter)))
        return;
    expectInputs("usb-held: the adapter's inputs", kAdapterInputs);
    // Another program of the same user sees who has it.
    Child other = startSelf({"--status", "5"});
    const std::string seen = readReply(other);
    finishChild(other);
    const Status held = status(-2, kAdapter, "QEMU USB SERIAL", "QEMU", "AAA111", "",
                               comm(getpid()), std::to_string(getpid()));
    check("usb-held: another program is told this one has COM5", seen == text(held),
          "got " + seen + ", want " + text(held));
    DTR(1);
    RTS(0);
    check("usb-held: DTR on, RTS off reach the adapter",
          adapterOutputs(kAdapter) == outputs(true, false), adapterOutputs(kAdapter));

    // While it is out COM5 leads nowhere, and COM4 stays free: COM5 is
    // still the adapter's.
    heldReplug("usb-held: replug: ",
               {kAdapter, kAdapter, true, false, true, []() {
                    expectStatus("usb-held: replug: COM5 is nothing while it is gone", comStatus(5),
                                 status(0, ""));
                    expectStatus("usb-held: replug: COM4 stays nothing", comStatus(4),
                                 status(0, ""));
                }});

    // The old name stays taken while another program keeps its dead
    // descriptor: the adapter comes back as ttyUSB1. A program of its own: a
    // forked child would share the driver's descriptor.
    Child keeper = startSelf({"--keep", kAdapter});
    const std::string kept = readReply(keeper);
    if (check("usb-held: another program opens ttyUSB0 too", kept == "open", kept)) {
        heldReplug("usb-held: new name: ", {kAdapter, kAdapterRenamed, true, true});
        const std::vector<std::string> lines = adapterLines();
        check("usb-held: new name: still one line for it in the numbers' file, COM5",
              lines.size() == 1 && lines[0].compare(0, 2, "5\t") == 0,
              std::to_string(lines.size()) + " lines");
    }
    finishChild(keeper);
    if (access(kAdapterRenamed, F_OK) != 0) return;

    // Nothing calls the driver while the adapter is out: its own dead
    // descriptor keeps ttyUSB1 taken, and the adapter returns as ttyUSB0.
    heldReplug("usb-held: unnoticed: ", {kAdapterRenamed, kAdapter, false, true, false});

    // The program asks for the port again while the adapter is out, as a
    // user choosing it anew would: refused, and the port stays the driver's.
    int reopened = -1;
    heldReplug("usb-held: OPENCOM while gone: ",
               {kAdapter, kAdapter, true, false, true, [&]() { reopened = OPENCOM(kCom5); }});
    check("usb-held: OPENCOM while gone: it returned 0", reopened == 0,
          "returned " + std::to_string(reopened));
}

} // namespace uart
