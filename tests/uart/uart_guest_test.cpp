// The driver's real-port backend against the kernel's own 8250 driver, on the
// emulated 16550A UARTs of the VM that run_uart_test.sh boots. Every check
// goes through the driver's C entries exactly as the program calls them.
//
// The VM has three UARTs, each with nothing attached: ttyS0 (its console),
// ttyS1 and ttyS2. ttyS3 is a port slot with no UART behind it, and the
// kernel makes four slots, so ttyS9 does not exist. It also has a USB serial
// adapter, which appears once the USB checks load its modules.
//
// The checks of COMSTATUS come first, with the COM numbers the driver gives
// by itself; the checks of a single UART then name their ports with
// RSCOM_COMn. Where the driver must touch no UART, the stretch is marked for
// the host, which finds in qemu's trace whether any register was written.
//
// The 16550's loopback mode ties its outputs to its inputs: DTR -> DSR,
// RTS -> CTS, OUT1 -> RI, OUT2 -> DCD. This program sets OUT1, OUT2 and loop
// through a descriptor of its own, opened before the driver opens the port:
// every open of a tty raises DTR and RTS, so opening it later would undo what
// the driver set. Where no descriptor of ours can be had, the kernel's view of
// the lines is read from /proc/tty/driver/serial, which opens nothing.
//
// This program drives real ports. It refuses to start anywhere but in that VM.

#include "guest.h"
#include "rscom.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <functional>
#include <grp.h>
#include <poll.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

// glibc's headers lack the 8250's extra modem-control bits.
#ifndef TIOCM_OUT1
#define TIOCM_OUT1 0x2000
#endif
#ifndef TIOCM_OUT2
#define TIOCM_OUT2 0x4000
#endif
#ifndef TIOCM_LOOP
#define TIOCM_LOOP 0x8000
#endif

namespace
{

using guest::check;
using guest::Child;
using guest::enableMarkers;
using guest::errnoText;
using guest::fdTarget;
using guest::finishChild;
using guest::group;
using guest::info;
using guest::inGuest;
using guest::loadModules;
using guest::quietly;
using guest::readReply;
using guest::reply;
using guest::restartWatchdog;
using guest::seconds;
using guest::sleepMs;
using guest::startChild;
using guest::summary;
using guest::waitForEnd;
using guest::waitForNode;

constexpr const char *kPort = "/dev/ttyS1";          // COM2, the UART under test
constexpr int kPortLine = 1;                         // its line in /proc
constexpr const char *kSecond = "/dev/ttyS2";        // COM3, for the lock checks
constexpr const char *kEmpty = "/dev/ttyS3";         // COM4, no UART behind it
constexpr const char *kPastCount = "/dev/ttyS9";     // COM5, past the kernel's count
constexpr const char *kNoSuchPath = "/dev/ttyNone0"; // COM6, no such file
// COM7 is /dev/null, COM8 a regular file.
constexpr const char *kRegularFile = "/not-a-port";

constexpr const char *kCom2 = "COM2,1200,N,8,1";
constexpr const char *kCom3 = "COM3,1200,N,8,1";

bool writeFile(const std::string &path, const std::string &text, std::string *error)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = "open " + path + ": " + errnoText(errno);
        return false;
    }
    const ssize_t n = ::write(fd, text.data(), text.size());
    const int saved = errno;
    ::close(fd);
    if (n != static_cast<ssize_t>(text.size())) {
        *error = "write " + path + ": " + errnoText(saved);
        return false;
    }
    return true;
}

// --- what the process holds -------------------------------------------------

// Open descriptors of this process.
int countFds()
{
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr) return -1;
    int n = 0;
    while (dirent *entry = readdir(dir)) {
        if (entry->d_name[0] != '.') ++n;
    }
    closedir(dir);
    return n - 1; // the directory's own
}

std::vector<int> fdsOn(const std::string &path)
{
    std::vector<int> fds;
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr) return fds;
    const int own = dirfd(dir);
    while (dirent *entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const int fd = std::atoi(entry->d_name);
        if (fd != own && fdTarget(fd) == path) fds.push_back(fd);
    }
    closedir(dir);
    return fds;
}

// --- the kernel's view of the lines -----------------------------------------

// The /proc/tty/driver/serial line of a port, e.g.
// "1: uart:16550A port:000002F8 irq:3 tx:0 rx:0 RTS|DTR|CD".
std::string procEntry(int line)
{
    std::ifstream in("/proc/tty/driver/serial");
    const std::string prefix = std::to_string(line) + ":";
    std::string text;
    while (std::getline(in, text)) {
        if (text.compare(0, prefix.size(), prefix) == 0) return text;
    }
    return {};
}

std::set<std::string> procSignals(int line)
{
    std::set<std::string> names;
    std::istringstream words(procEntry(line));
    std::string word;
    while (words >> word) {
        if (word.find(':') != std::string::npos) continue;
        std::istringstream parts(word);
        std::string part;
        while (std::getline(parts, part, '|')) {
            if (!part.empty()) names.insert(part);
        }
    }
    return names;
}

std::string procOutputs(int line)
{
    const std::set<std::string> s = procSignals(line);
    return std::string("DTR") + (s.count("DTR") ? "+" : "-") + " RTS" +
           (s.count("RTS") ? "+" : "-");
}

std::string outputs(bool dtr, bool rts)
{
    return std::string("DTR") + (dtr ? "+" : "-") + " RTS" + (rts ? "+" : "-");
}

int modemBits(int fd)
{
    int bits = 0;
    return ioctl(fd, TIOCMGET, &bits) == 0 ? bits : -1;
}

bool setBits(int fd, int bits, bool on)
{
    return ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits) == 0;
}

// --- the driver's readers ---------------------------------------------------

struct Inputs {
    int dcd, dsr, cts, ri;
    bool operator==(const Inputs &o) const
    {
        return dcd == o.dcd && dsr == o.dsr && cts == o.cts && ri == o.ri;
    }
};

Inputs readInputs()
{
    return {DCD(), DSR(), CTS(), RI()};
}

std::string text(const Inputs &i)
{
    return "DCD=" + std::to_string(i.dcd) + " DSR=" + std::to_string(i.dsr) +
           " CTS=" + std::to_string(i.cts) + " RI=" + std::to_string(i.ri);
}

bool expectInputs(const std::string &name, const Inputs &want)
{
    const Inputs got = readInputs();
    return check(name, got == want, "read " + text(got) + ", want " + text(want));
}

bool expectOutputs(const std::string &name, bool dtr, bool rts)
{
    const std::string got = procOutputs(kPortLine);
    return check(name, got == outputs(dtr, rts),
                 "kernel has " + got + ", want " + outputs(dtr, rts));
}

// --- helper processes -------------------------------------------------------

// This program again, in one of its helper modes, with `env` added to its
// environment.
Child startSelf(const std::vector<std::string> &args,
                const std::vector<std::pair<std::string, std::string>> &env = {})
{
    return startChild([args, env]() {
        for (const auto &[name, value] : env)
            setenv(name.c_str(), value.c_str(), 1);
        std::vector<char *> argv;
        std::string self = "/proc/self/exe";
        argv.push_back(self.data());
        std::vector<std::string> copy = args;
        for (std::string &a : copy)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv("/proc/self/exe", argv.data());
        return 127;
    });
}

std::string readAll(const Child &child)
{
    std::string all;
    while (true) {
        const std::string line = readReply(child);
        if (line == "<eof>" || line.find("<no answer>") != std::string::npos) return all;
        all += line + "\n";
    }
}

// Helper mode: another program that holds a port through the driver.
int holdWithDriver(const char *settings)
{
    reply(std::to_string(OPENCOM(settings)));
    waitForEnd();
    return 0;
}

// Helper mode: what a program started by the driver's user has open.
int listFds()
{
    DIR *dir = opendir("/proc/self/fd");
    if (dir == nullptr) return 1;
    const int own = dirfd(dir);
    while (dirent *entry = readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const int fd = std::atoi(entry->d_name);
        if (fd != own) reply(std::to_string(fd) + " " + fdTarget(fd));
    }
    closedir(dir);
    return 0;
}

// Termios as another program might set a port: cooked, 9600 7E1 with
// hardware flow control.
termios otherProgramSettings(const termios &base)
{
    termios t = base;
    cfsetispeed(&t, B9600);
    cfsetospeed(&t, B9600);
    t.c_cflag = (t.c_cflag & ~(CSIZE | PARODD | CSTOPB | CMSPAR)) | CS7 | PARENB | CRTSCTS;
    t.c_lflag |= ICANON | ECHO | ISIG;
    t.c_iflag |= IXON | ICRNL;
    t.c_oflag |= OPOST | ONLCR;
    return t;
}

bool sameTermios(const termios &a, const termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && cfgetospeed(&a) == cfgetospeed(&b) &&
           cfgetispeed(&a) == cfgetispeed(&b);
}

std::string termiosText(const termios &t)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, "iflag=%#o oflag=%#o cflag=%#o lflag=%#o", t.c_iflag, t.c_oflag,
                  t.c_cflag, t.c_lflag);
    return buf;
}

// What a plain open of a path gives, to tell why an OPENCOM failed.
std::string diagnose(const char *path)
{
    const int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::string("open ") + path + ": " + errnoText(errno);
    std::string out = std::string("open ") + path + ": ok";
    termios t{};
    out += tcgetattr(fd, &t) == 0 ? ", tcgetattr ok (" + termiosText(t) + ")"
                                  : ", tcgetattr: " + errnoText(errno);
    int bits = 0;
    out += ioctl(fd, TIOCMGET, &bits) == 0 ? ", TIOCMGET " + std::to_string(bits)
                                           : ", TIOCMGET: " + errnoText(errno);
    out += flock(fd, LOCK_EX | LOCK_NB) == 0 ? ", flock ok" : ", flock: " + errnoText(errno);
    ::close(fd);
    return out;
}

// --- settings as the kernel has them ----------------------------------------

struct Expected {
    speed_t speed;
    tcflag_t size;
    char parity; // N E O M S
    int stopBits;
};

void checkSettings(const std::string &name, int fd, const Expected &want)
{
    termios t{};
    if (!check(name + ": tcgetattr", tcgetattr(fd, &t) == 0, errnoText(errno))) return;
    const speed_t in = cfgetispeed(&t);
    check(name + ": baud", cfgetospeed(&t) == want.speed && (in == want.speed || in == B0),
          "ospeed code " + std::to_string(cfgetospeed(&t)) + ", ispeed code " + std::to_string(in) +
              ", want " + std::to_string(want.speed));
    check(name + ": data bits", (t.c_cflag & CSIZE) == want.size,
          "CSIZE " + std::to_string(t.c_cflag & CSIZE) + ", want " + std::to_string(want.size));
    const tcflag_t parityBits = t.c_cflag & (PARENB | PARODD | CMSPAR);
    tcflag_t wantParity = 0;
    switch (want.parity) {
    case 'E':
        wantParity = PARENB;
        break;
    case 'O':
        wantParity = PARENB | PARODD;
        break;
    case 'M':
        wantParity = PARENB | PARODD | CMSPAR;
        break;
    case 'S':
        wantParity = PARENB | CMSPAR;
        break;
    default:
        break;
    }
    check(name + ": parity " + std::string(1, want.parity), parityBits == wantParity,
          "PARENB/PARODD/CMSPAR " + std::to_string(parityBits) + ", want " +
              std::to_string(wantParity));
    check(name + ": stop bits", ((t.c_cflag & CSTOPB) != 0) == (want.stopBits == 2),
          std::string("CSTOPB ") + ((t.c_cflag & CSTOPB) ? "set" : "clear"));
    check(name + ": no flow control",
          (t.c_cflag & CRTSCTS) == 0 && (t.c_iflag & (IXON | IXOFF)) == 0, termiosText(t));
}

// --- COMSTATUS ----------------------------------------------------------------

void unmapAll()
{
    for (int port = 1; port <= 255; ++port)
        unsetenv(("RSCOM_COM" + std::to_string(port)).c_str());
}

struct Status {
    int code = -99;
    std::string detail;
    bool operator==(const Status &o) const { return code == o.code && detail == o.detail; }
};

Status comStatus(int port)
{
    char detail[512];
    std::memset(detail, 'X', sizeof detail);
    Status s;
    s.code = COMSTATUS(static_cast<int16_t>(port), detail, static_cast<int16_t>(sizeof detail));
    s.detail.assign(detail, strnlen(detail, sizeof detail));
    return s;
}

// The seven fields of the detail text.
Status status(int code, const std::string &path, const std::string &product = {},
              const std::string &maker = {}, const std::string &serial = {},
              const std::string &group = {}, const std::string &program = {},
              const std::string &pid = {})
{
    return {code, path + "\t" + product + "\t" + maker + "\t" + serial + "\t" + group + "\t" +
                      program + "\t" + pid};
}

std::string text(const Status &s)
{
    std::string detail = s.detail;
    for (size_t tab = detail.find('\t'); tab != std::string::npos; tab = detail.find('\t', tab))
        detail.replace(tab, 1, " | ");
    return std::to_string(s.code) + " [" + detail + "]";
}

bool expectStatus(const std::string &name, const Status &got, const Status &want)
{
    return check(name, got == want, "COMSTATUS gave " + text(got) + ", want " + text(want));
}

// --- the checks -------------------------------------------------------------

// Our own descriptor on the port under test; opened before the driver opens it.
int g_watch = -1;

// Where the driver remembers the COM numbers it gives.
constexpr const char *kStateFolder = "/state";
constexpr const char *kNumbersFile = "/state/rscom/ports";

bool setupEnvironment()
{
    group("environment");
    bool ok = true;
    const std::string s1 = procEntry(1);
    const std::string s2 = procEntry(2);
    const std::string s3 = procEntry(3);
    ok &= check("environment: ttyS1 is a 16550A", s1.find("uart:16550A") != std::string::npos, s1);
    ok &= check("environment: ttyS2 is a 16550A", s2.find("uart:16550A") != std::string::npos, s2);
    ok &= check("environment: ttyS3 has no UART", s3.find("uart:unknown") != std::string::npos, s3);
    struct stat st {
    };
    ok &= check("environment: ttyS3 exists", ::stat(kEmpty, &st) == 0 && S_ISCHR(st.st_mode));
    ok &=
        check("environment: ttyS9 does not exist", ::stat(kPastCount, &st) != 0 && errno == ENOENT);
    const int fd = ::open(kRegularFile, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    ok &= check("environment: regular file made", fd >= 0, errnoText(errno));
    if (fd >= 0) ::close(fd);

    // The minimal guest has none of these until we make them.
    for (const char *folder : {kStateFolder, "/etc", "/run", "/run/lock"})
        ::mkdir(folder, 0755);
    ::chmod(kStateFolder, 0700);
    setenv("XDG_STATE_HOME", kStateFolder, 1);
    ok &= check("environment: the state folder is empty", access(kNumbersFile, F_OK) != 0);
    ok &= check("environment: ttyS1's scratch register can take markers", enableMarkers(1),
                "ioperm: " + errnoText(errno));
    return ok;
}

// The ports as the checks of a single UART name them.
void mapPorts()
{
    unmapAll();
    setenv("RSCOM_COM1", "none", 1); // the guest's console
    setenv("RSCOM_COM2", kPort, 1);
    setenv("RSCOM_COM3", kSecond, 1);
    setenv("RSCOM_COM4", kEmpty, 1);
    setenv("RSCOM_COM5", kPastCount, 1);
    setenv("RSCOM_COM6", kNoSuchPath, 1);
    setenv("RSCOM_COM7", "/dev/null", 1);
    setenv("RSCOM_COM8", kRegularFile, 1);
}

// --- COMSTATUS and the COM numbers of the system's own ports ----------------
//
// These run first, with no RSCOM_COMn set, while nothing has opened ttyS1 or
// ttyS2 yet: COM1 is ttyS0, COM2 ttyS1, COM3 ttyS2, and ttyS3 (no UART) has
// no number.

// The guest's console, named without the literal path.
const std::string kConsole = std::string("/dev/tty") + "S0";
constexpr const char *kCom1 = "COM1,1200,N,8,1";

void checkStatusRealPort()
{
    group("status");
    unmapAll();
    Status numbered, named;
    quietly("COMSTATUS(2) of ttyS1, by its number and by RSCOM_COM2", [&]() {
        numbered = comStatus(2);
        setenv("RSCOM_COM2", kPort, 1);
        named = comStatus(2);
        unsetenv("RSCOM_COM2");
    });
    expectStatus("status: COM2 is ttyS1, available", numbered, status(1, kPort));
    expectStatus("status: RSCOM_COM2=/dev/ttyS1, available", named, status(1, kPort));

    // What the program does at every start and whenever its settings open.
    std::vector<Status> probe(5);
    quietly("the probe: COMSTATUS(1) to COMSTATUS(5)", [&]() {
        for (int port = 1; port <= 5; ++port)
            probe[static_cast<size_t>(port - 1)] = comStatus(port);
    });
    expectStatus("status: probe: COM1 is the console", probe[0], status(-3, kConsole));
    expectStatus("status: probe: COM2 is ttyS1", probe[1], status(1, kPort));
    expectStatus("status: probe: COM3 is ttyS2", probe[2], status(1, kSecond));
    expectStatus("status: probe: COM4 is nothing (ttyS3 has no UART)", probe[3], status(0, ""));
    expectStatus("status: probe: COM5 is nothing", probe[4], status(0, ""));
    check("status: no number given yet, no numbers' file", access(kNumbersFile, F_OK) != 0);

    // A detail buffer too small for the path is cut, never overrun.
    char small[6];
    std::memset(small, 'X', sizeof small);
    const int code = COMSTATUS(2, small, 5);
    check("status: a 5-byte detail buffer gets 4 bytes and the NUL",
          code == 1 && std::memcmp(small, "/dev\0X", 6) == 0,
          "code " + std::to_string(code) + ", text " + std::string(small, strnlen(small, 5)));
    check("status: no detail buffer at all", COMSTATUS(2, nullptr, 0) == 1);
}

void checkStatusConsole()
{
    group("console");
    unmapAll();
    termios before{};
    const bool readable = tcgetattr(STDOUT_FILENO, &before) == 0;
    const std::set<std::string> linesBefore = procSignals(0);
    const int fds = countFds();

    Status numbered, named, console;
    int openedNumbered = -1, openedNamed = -1, openedConsole = -1;
    quietly("COM1 (the console, by its number): COMSTATUS and OPENCOM", [&]() {
        numbered = comStatus(1);
        openedNumbered = OPENCOM(kCom1);
    });
    quietly("COM1 named the console by RSCOM_COM1: COMSTATUS and OPENCOM", [&]() {
        setenv("RSCOM_COM1", kConsole.c_str(), 1);
        named = comStatus(1);
        openedNamed = OPENCOM(kCom1);
        setenv("RSCOM_COM1", "/dev/console", 1);
        console = comStatus(1);
        openedConsole = OPENCOM(kCom1);
        unsetenv("RSCOM_COM1");
    });
    expectStatus("console: COM1 by its number is a console", numbered, status(-3, kConsole));
    check("console: OPENCOM(COM1) by its number refused", openedNumbered == 0,
          "returned " + std::to_string(openedNumbered));
    expectStatus("console: RSCOM_COM1 naming ttyS0 is a console", named, status(-3, kConsole));
    check("console: OPENCOM(COM1) named by RSCOM_COM1 refused", openedNamed == 0,
          "returned " + std::to_string(openedNamed));
    expectStatus("console: RSCOM_COM1=/dev/console is a console", console,
                 status(-3, "/dev/console"));
    check("console: OPENCOM(COM1) of /dev/console refused", openedConsole == 0,
          "returned " + std::to_string(openedConsole));
    check("console: nothing left open", countFds() == fds, std::to_string(countFds() - fds));

    termios after{};
    check("console: its settings are as they were",
          readable && tcgetattr(STDOUT_FILENO, &after) == 0 && sameTermios(before, after),
          readable ? "was " + termiosText(before) + ", now " + termiosText(after)
                   : "tcgetattr: " + errnoText(errno));
    check("console: its lines are as they were", procSignals(0) == linesBefore, procEntry(0));

    // The proof that the trace would show it: an open of ttyS1 raises DTR
    // and RTS, a write to the modem control register.
    int fd = -1;
    quietly(
        "control: an open and close of ttyS1",
        [&]() {
            fd = ::open(kPort, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            if (fd >= 0) ::close(fd);
        },
        true);
    check("console: control: ttyS1 opened and closed", fd >= 0, errnoText(errno));
}

void checkStatusEmptySlot()
{
    group("empty-slot");
    unmapAll();
    setenv("RSCOM_COM4", kEmpty, 1);
    const int fds = countFds();
    Status named;
    int opened = -1;
    quietly("COM4 named the empty slot ttyS3: COMSTATUS and OPENCOM", [&]() {
        named = comStatus(4);
        opened = OPENCOM("COM4,1200,N,8,1");
    });
    expectStatus("empty-slot: RSCOM_COM4=/dev/ttyS3 is not a serial line", named,
                 status(-4, kEmpty));
    check("empty-slot: OPENCOM refused", opened == 0, "returned " + std::to_string(opened));
    check("empty-slot: nothing left open", countFds() == fds, std::to_string(countFds() - fds));
    unsetenv("RSCOM_COM4");

    std::string leading;
    for (int port = 1; port <= 16; ++port) {
        const Status s = comStatus(port);
        if (s.detail.compare(0, std::strlen(kEmpty) + 1, std::string(kEmpty) + "\t") == 0)
            leading += " COM" + std::to_string(port);
    }
    check("empty-slot: no COM number leads to ttyS3", leading.empty(), "it is" + leading);
    expectStatus("empty-slot: COM4 by its number is nothing", comStatus(4), status(0, ""));
}

// Another program holding ttyS2 in settings of its own, with a flock on it
// or none. It answers "holding"; once asked (a byte on its input), whether
// its settings are still as it set them, and its speed; at the end it leaves
// the port as it found it.
int holdSecondInOwnSettings(bool lock)
{
    prctl(PR_SET_NAME, "porthog");
    const int fd = ::open(kSecond, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) {
        reply("open: " + errnoText(errno));
        return 1;
    }
    termios base{};
    tcgetattr(fd, &base);
    const termios mine = otherProgramSettings(base);
    tcsetattr(fd, TCSANOW, &mine);
    termios set{};
    tcgetattr(fd, &set);
    if (lock && flock(fd, LOCK_EX | LOCK_NB) != 0) {
        reply("flock: " + errnoText(errno));
        return 1;
    }
    reply("holding");
    char c = 0;
    if (::read(STDIN_FILENO, &c, 1) != 1) return 1;
    termios now{};
    tcgetattr(fd, &now);
    reply(sameTermios(set, now) ? "same" : "was " + termiosText(set) + ", now " + termiosText(now));
    reply(cfgetospeed(&now) == B9600 ? "9600" : "speed code " + std::to_string(cfgetospeed(&now)));
    waitForEnd();
    tcsetattr(fd, TCSANOW, &base);
    return 0;
}

std::string comm(pid_t pid)
{
    std::ifstream in("/proc/" + std::to_string(pid) + "/comm");
    std::string name;
    std::getline(in, name);
    return name;
}

void checkStatusInUse()
{
    group("in-use");
    unmapAll();
    // The driver keeps what it found in its look at the processes while
    // the kernel tells of no open or close: a holder that opens right after
    // an answer is in the next one, and its end frees COM3 at the next one.
    expectStatus("in-use: COM3 available before the holder opens it", comStatus(3),
                 status(1, kSecond));
    Child holder = startChild([]() { return holdSecondInOwnSettings(false); });
    const std::string holding = readReply(holder);
    if (check("in-use: another program holds ttyS2 open, without a lock", holding == "holding",
              holding)) {
        const std::string pid = std::to_string(holder.pid);
        check("in-use: that program is called porthog", comm(holder.pid) == "porthog",
              comm(holder.pid));
        const std::set<std::string> lines = procSignals(2);
        const int fds = countFds();
        Status numbered, named;
        int openedNumbered = -1, openedNamed = -1;
        quietly("COM3 (ttyS2, held by another program): COMSTATUS and OPENCOM", [&]() {
            numbered = comStatus(3);
            openedNumbered = OPENCOM("COM3,1200,N,8,1");
            setenv("RSCOM_COM3", kSecond, 1);
            named = comStatus(3);
            openedNamed = OPENCOM("COM3,1200,N,8,1");
            unsetenv("RSCOM_COM3");
        });
        const Status want = status(-2, kSecond, "", "", "", "", "porthog", pid);
        expectStatus("in-use: COM3 by its number names the holder", numbered, want);
        check("in-use: OPENCOM(COM3) by its number refused", openedNumbered == 0,
              "returned " + std::to_string(openedNumbered));
        expectStatus("in-use: RSCOM_COM3=/dev/ttyS2 names the holder", named, want);
        check("in-use: OPENCOM(COM3) named refused", openedNamed == 0,
              "returned " + std::to_string(openedNamed));
        check("in-use: nothing left open", countFds() == fds, std::to_string(countFds() - fds));
        check("in-use: the holder's lines are as they were", procSignals(2) == lines, procEntry(2));

        // Another user may not read root's descriptors in /proc, nor may we
        // tell it which program holds the port; but that the port is in use
        // it must learn all the same.
        struct stat st {
        };
        ::stat(kSecond, &st);
        ::chmod(kSecond, 0666);
        Child other = startChild([]() {
            if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) {
                reply("cannot become nobody: " + errnoText(errno));
                return 1;
            }
            reply(std::to_string(comStatus(3).code));
            return 0;
        });
        const std::string seen = readReply(other);
        finishChild(other);
        ::chmod(kSecond, st.st_mode & 07777);
        // Another user's descriptors are not ours to see: without a lock
        // or a lock file the port looks free to it (rscom.h says so).
        info("in-use: another user's COMSTATUS gives " + seen);

        ssize_t ignored = ::write(holder.in, "?", 1);
        (void)ignored;
        const std::string same = readReply(holder);
        const std::string speed = readReply(holder);
        check("in-use: the holder's settings are as it left them", same == "same", same);
        check("in-use: the holder's baud rate is still 9600", speed == "9600", speed);
    }
    finishChild(holder);
    expectStatus("in-use: COM3 available once the holder has ended", comStatus(3),
                 status(1, kSecond));

    // A UUCP lock file of a live program, which has not opened the port.
    Child locker = startChild([]() {
        prctl(PR_SET_NAME, "uucico");
        char pid[16];
        std::snprintf(pid, sizeof pid, "%10d\n", static_cast<int>(getpid()));
        const int fd = ::open("/run/lock/LCK..ttyS2", O_WRONLY | O_CREAT | O_EXCL, 0644);
        const bool written = fd >= 0 && ::write(fd, pid, std::strlen(pid)) == 11;
        if (fd >= 0) ::close(fd);
        reply(written ? "locked" : "lock file: " + errnoText(errno));
        waitForEnd();
        return 0;
    });
    const std::string locked = readReply(locker);
    if (check("in-use: another program writes /run/lock/LCK..ttyS2", locked == "locked", locked)) {
        expectStatus("in-use: COM3 named by the lock file's program", comStatus(3),
                     status(-2, kSecond, "", "", "", "", "uucico", std::to_string(locker.pid)));
        check("in-use: OPENCOM(COM3) refused for the lock file", OPENCOM("COM3,1200,N,8,1") == 0);
    }
    finishChild(locker);
    // Its program is gone: the lock file is stale.
    expectStatus("in-use: a stale lock file does not keep COM3", comStatus(3), status(1, kSecond));
    ::unlink("/run/lock/LCK..ttyS2");
}

// COMSTATUS and OPENCOM of COM3 as another user, with `groups` as its
// supplementary groups.
std::string asOtherUser(const std::vector<gid_t> &groups)
{
    Child child = startChild([groups]() {
        if (setgroups(groups.size(), groups.data()) != 0 || setgid(65534) != 0 ||
            setuid(65534) != 0) {
            reply("cannot become nobody: " + errnoText(errno));
            return 1;
        }
        const Status s = comStatus(3);
        const int opened = OPENCOM("COM3,1200,N,8,1");
        reply(text(s) + " opened " + std::to_string(opened));
        CLOSECOM();
        return 0;
    });
    const std::string answer = readReply(child);
    finishChild(child);
    return answer;
}

void checkStatusPermission()
{
    group("permission");
    unmapAll();
    constexpr gid_t kDialout = 20;
    const int fd = ::open("/etc/group", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    const std::string groups = "root:x:0:\ndialout:x:20:\nnogroup:x:65534:\n";
    const bool made =
        fd >= 0 && ::write(fd, groups.data(), groups.size()) == static_cast<ssize_t>(groups.size());
    if (fd >= 0) ::close(fd);
    struct stat st {
    };
    ::stat(kSecond, &st);
    if (!check("permission: /etc/group made, ttyS2 root:dialout 0660",
               made && ::chown(kSecond, 0, kDialout) == 0 && ::chmod(kSecond, 0660) == 0,
               errnoText(errno)))
        return;
    const std::string want = text(status(-1, kSecond, "", "", "", "dialout")) + " opened 0";
    const std::string outside = asOtherUser({});
    check("permission: a user outside dialout is told to join it, and OPENCOM refuses",
          outside == want, "got " + outside + ", want " + want);
    const std::string inside = asOtherUser({kDialout});
    const std::string wantInside = text(status(1, kSecond)) + " opened 1";
    check("permission: a user in dialout may open it", inside == wantInside,
          "got " + inside + ", want " + wantInside);
    ::chmod(kSecond, 0600);
    const std::string ownerOnly = asOtherUser({kDialout});
    const std::string wantOwnerOnly = text(status(-1, kSecond)) + " opened 0";
    check("permission: a group that may not write is not named", ownerOnly == wantOwnerOnly,
          "got " + ownerOnly + ", want " + wantOwnerOnly);
    ::chown(kSecond, st.st_uid, st.st_gid);
    ::chmod(kSecond, st.st_mode & 07777);
}

void checkOpen()
{
    group("open");
    g_watch = ::open(kPort, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (!check("open: own descriptor on ttyS1", g_watch >= 0, errnoText(errno))) return;
    const int before = modemBits(g_watch);
    check("open: the kernel raised DTR and RTS on our open",
          before >= 0 && (before & TIOCM_DTR) && (before & TIOCM_RTS),
          "TIOCMGET " + std::to_string(before));

    const int fds = countFds();
    const double t0 = seconds();
    const int opened = OPENCOM(kCom2);
    info("OPENCOM(" + std::string(kCom2) + ") took " +
         std::to_string(static_cast<int>((seconds() - t0) * 1000)) + " ms");
    check("open: OPENCOM(COM2,1200,N,8,1) returns 1", opened == 1,
          "returned " + std::to_string(opened));
    check("open: the driver holds one descriptor", countFds() == fds + 1,
          std::to_string(countFds() - fds) + " new descriptors");
    check("open: the driver's descriptor is on ttyS1", fdsOn(kPort).size() == 2,
          std::to_string(fdsOn(kPort).size()) + " descriptors on ttyS1, ours included");

    checkSettings("open: 1200,N,8,1", g_watch, {B1200, CS8, 'N', 1});

    const int bits = modemBits(g_watch);
    check("open: DTR and RTS inactive after OPENCOM (TIOCMGET)",
          bits >= 0 && !(bits & TIOCM_DTR) && !(bits & TIOCM_RTS),
          "TIOCMGET " + std::to_string(bits));
    expectOutputs("open: DTR and RTS inactive after OPENCOM (/proc)", false, false);
    check("open: OUT2 left as the kernel set it", bits >= 0 && (bits & TIOCM_OUT2),
          "TIOCMGET " + std::to_string(bits));

    // From here on the UART's outputs come back on its inputs.
    check("open: loopback mode on", setBits(g_watch, TIOCM_LOOP, true), errnoText(errno));
    check("open: loopback mode reported", (modemBits(g_watch) & TIOCM_LOOP) != 0);
    expectInputs("open: inputs in loopback with DTR, RTS off and OUT2 on", {1, 0, 0, 0});
}

void checkDtrRts()
{
    group("dtr-rts");
    DTR(1);
    expectInputs("dtr-rts: DTR on -> DSR on, CTS off", {1, 1, 0, 0});
    expectOutputs("dtr-rts: DTR on reaches the UART", true, false);
    DTR(0);
    expectInputs("dtr-rts: DTR off -> DSR off", {1, 0, 0, 0});
    expectOutputs("dtr-rts: DTR off reaches the UART", false, false);
    RTS(1);
    expectInputs("dtr-rts: RTS on -> CTS on, DSR off", {1, 0, 1, 0});
    expectOutputs("dtr-rts: RTS on reaches the UART", false, true);
    RTS(0);
    expectInputs("dtr-rts: RTS off -> CTS off", {1, 0, 0, 0});
    DTR(1);
    RTS(1);
    expectInputs("dtr-rts: both on", {1, 1, 1, 0});
    DTR(0);
    RTS(0);
    expectInputs("dtr-rts: both off", {1, 0, 0, 0});
    DTR(7);
    RTS(-1);
    expectInputs("dtr-rts: any level but 0 is active", {1, 1, 1, 0});
    DTR(0);
    RTS(0);
    const int bits = modemBits(g_watch);
    check("dtr-rts: setters leave OUT2 and loopback alone",
          bits >= 0 && (bits & TIOCM_OUT2) && (bits & TIOCM_LOOP),
          "TIOCMGET " + std::to_string(bits));
}

void checkDcdRi()
{
    group("dcd-ri");
    check("dcd-ri: OUT2 off", setBits(g_watch, TIOCM_OUT2, false), errnoText(errno));
    expectInputs("dcd-ri: OUT2 off -> DCD off", {0, 0, 0, 0});
    check("dcd-ri: OUT1 on", setBits(g_watch, TIOCM_OUT1, true), errnoText(errno));
    expectInputs("dcd-ri: OUT1 on -> RI on", {0, 0, 0, 1});
    check("dcd-ri: OUT1 off", setBits(g_watch, TIOCM_OUT1, false), errnoText(errno));
    expectInputs("dcd-ri: OUT1 off -> RI off", {0, 0, 0, 0});

    // Each output alone shows on its own input only.
    DTR(1);
    expectInputs("dcd-ri: DTR alone", {0, 1, 0, 0});
    DTR(0);
    RTS(1);
    expectInputs("dcd-ri: RTS alone", {0, 0, 1, 0});
    RTS(0);
    setBits(g_watch, TIOCM_OUT1, true);
    expectInputs("dcd-ri: OUT1 alone", {0, 0, 0, 1});
    setBits(g_watch, TIOCM_OUT1, false);
    setBits(g_watch, TIOCM_OUT2, true);
    expectInputs("dcd-ri: OUT2 alone", {1, 0, 0, 0});
    const int bits = modemBits(g_watch);
    check("dcd-ri: driver's setters leave OUT1 alone", bits >= 0 && !(bits & TIOCM_OUT1),
          "TIOCMGET " + std::to_string(bits));
}

void checkTxd()
{
    group("txd");
    // A break is sent but not looped back: what can be seen is that the port
    // keeps working and the other lines stay as they are.
    DTR(1);
    RTS(0);
    TXD(1);
    expectInputs("txd: break on, readers still answer", {1, 1, 0, 0});
    expectOutputs("txd: break on leaves DTR and RTS", true, false);
    DTR(0);
    RTS(1);
    expectInputs("txd: setters work during the break", {1, 0, 1, 0});
    TXD(0);
    expectInputs("txd: break off, readers still answer", {1, 0, 1, 0});
    expectOutputs("txd: break off leaves DTR and RTS", false, true);
    TXD(1);
    TXD(1);
    TXD(0);
    TXD(0);
    expectInputs("txd: repeated levels leave the port working", {1, 0, 1, 0});
    RTS(0);
}

void checkReopen()
{
    group("reopen");
    DTR(1);
    RTS(0);
    const int fds = countFds();
    check("reopen: OPENCOM of the held port returns 1", OPENCOM(kCom2) == 1);
    check("reopen: no new descriptor", countFds() == fds, std::to_string(countFds() - fds));
    expectInputs("reopen: lines kept (DTR on, RTS off)", {1, 1, 0, 0});
    expectOutputs("reopen: the UART keeps DTR on, RTS off", true, false);
    checkSettings("reopen: 1200,N,8,1", g_watch, {B1200, CS8, 'N', 1});

    DTR(0);
    RTS(1);
    check("reopen: again with RTS on", OPENCOM(kCom2) == 1);
    expectInputs("reopen: lines kept (DTR off, RTS on)", {1, 0, 1, 0});
    expectOutputs("reopen: the UART keeps DTR off, RTS on", false, true);

    // Other settings reach the UART, and the lines stay.
    check("reopen: COM2,9600,E,7,2", OPENCOM("COM2,9600,E,7,2") == 1);
    checkSettings("reopen: 9600,E,7,2", g_watch, {B9600, CS7, 'E', 2});
    check("reopen: COM2,2400,O,5,1", OPENCOM("COM2,2400,O,5,1") == 1);
    checkSettings("reopen: 2400,O,5,1", g_watch, {B2400, CS5, 'O', 1});
    check("reopen: COM2,4800,M,6,1", OPENCOM("COM2,4800,M,6,1") == 1);
    checkSettings("reopen: 4800,M,6,1", g_watch, {B4800, CS6, 'M', 1});
    check("reopen: COM2,19200,S,8,2", OPENCOM("COM2,19200,S,8,2") == 1);
    checkSettings("reopen: 19200,S,8,2", g_watch, {B19200, CS8, 'S', 2});
    check("reopen: back to COM2,1200,N,8,1", OPENCOM(kCom2) == 1);
    checkSettings("reopen: 1200,N,8,1 again", g_watch, {B1200, CS8, 'N', 1});
    expectInputs("reopen: lines kept through the changes", {1, 0, 1, 0});
    check("reopen: no new descriptor after the changes", countFds() == fds,
          std::to_string(countFds() - fds));
    RTS(0);
}

// After a refused OPENCOM the held port is still the current one.
void expectStillCurrent(const std::string &name)
{
    DTR(1);
    const Inputs on = readInputs();
    DTR(0);
    const Inputs off = readInputs();
    check(name, on == Inputs{1, 1, 0, 0} && off == Inputs{1, 0, 0, 0},
          "after DTR(1) " + text(on) + ", after DTR(0) " + text(off));
}

void expectRefused(const std::string &name, const char *settings)
{
    const int fds = countFds();
    const int opened = OPENCOM(settings);
    check(name + ": refused", opened == 0, "returned " + std::to_string(opened));
    check(name + ": nothing left open", countFds() == fds, std::to_string(countFds() - fds));
    expectStillCurrent(name + ": COM2 still current");
}

void checkNoUart()
{
    group("no-uart");
    // A port that blocked here would trip the watchdog.
    expectRefused("no-uart: ttyS3", "COM4,1200,N,8,1");
    const int fds = countFds();
    int opened = 0;
    for (int i = 0; i < 100; ++i)
        opened += OPENCOM("COM4,1200,N,8,1");
    check("no-uart: refused a hundred times, nothing left open", opened == 0 && countFds() == fds,
          std::to_string(opened) + " opened, " + std::to_string(countFds() - fds) + " descriptors");
}

void checkMissing()
{
    group("missing");
    expectRefused("missing: ttyS9, past the kernel's count", "COM5,1200,N,8,1");
    expectRefused("missing: no such path", "COM6,1200,N,8,1");
    expectRefused("missing: /dev/null is no serial line", "COM7,1200,N,8,1");
    expectRefused("missing: a regular file is no serial line", "COM8,1200,N,8,1");
}

// Runs a program that leaves ttyS2 as `settings` makes it.
std::string leaveSecondAs(const std::function<termios(const termios &)> &settings)
{
    Child child = startChild([settings]() {
        const int fd = ::open(kSecond, O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (fd < 0) {
            reply("open: " + errnoText(errno));
            return 1;
        }
        termios t{};
        tcgetattr(fd, &t);
        const termios wanted = settings(t);
        reply(tcsetattr(fd, TCSANOW, &wanted) == 0 ? "done" : "tcsetattr: " + errnoText(errno));
        ::close(fd);
        return 0;
    });
    const std::string result = readReply(child);
    finishChild(child);
    return result;
}

termios plainSettings(const termios &base)
{
    termios t = base;
    cfsetispeed(&t, B1200);
    cfsetospeed(&t, B1200);
    t.c_cflag = (t.c_cflag & ~(CSIZE | PARENB | PARODD | CSTOPB | CMSPAR | CRTSCTS)) | CS8;
    t.c_iflag &= ~(IXON | IXOFF);
    return t;
}

void checkForeignSettings()
{
    group("foreign-settings");
    // Termios stays with a port after its last close: what another program
    // left must not keep the driver out.
    const std::string left = leaveSecondAs(otherProgramSettings);
    if (!check("foreign-settings: another program left ttyS2 cooked, with RTS/CTS and XON",
               left == "done", left))
        return;
    const int opened = OPENCOM(kCom3);
    if (check("foreign-settings: OPENCOM(COM3,1200,N,8,1) returns 1", opened == 1,
              "returned " + std::to_string(opened) + "; " + diagnose(kSecond))) {
        const int fd = ::open(kSecond, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (check("foreign-settings: own descriptor on ttyS2", fd >= 0, errnoText(errno))) {
            checkSettings("foreign-settings: 1200,N,8,1", fd, {B1200, CS8, 'N', 1});
            ::close(fd);
        }
        const int fds = countFds();
        CLOSECOM();
        check("foreign-settings: CLOSECOM closes COM3", countFds() == fds - 1,
              std::to_string(countFds() - fds));
    }
    check("foreign-settings: COM2 selected again", OPENCOM(kCom2) == 1);
    expectStillCurrent("foreign-settings: COM2's lines answer");
    // The checks after this one start from plain settings.
    leaveSecondAs(plainSettings);
}

void checkLocked()
{
    group("locked");
    // Another program holding COM3 through the driver.
    Child holder = startSelf({"--hold", kCom3});
    const std::string held = readReply(holder);
    if (check("locked: another program opens COM3", held == "1", "it got " + held)) {
        expectRefused("locked: COM3 held by a program using the driver", kCom3);

        // Exclusive mode keeps out an unprivileged opener.
        struct stat st {
        };
        ::stat(kSecond, &st);
        ::chmod(kSecond, 0666);
        Child plain = startChild([]() {
            if (setgid(65534) != 0 || setuid(65534) != 0) {
                reply("setuid failed");
                return 1;
            }
            const int fd = ::open(kSecond, O_RDWR | O_NOCTTY | O_NONBLOCK);
            reply(fd >= 0 ? "opened" : std::to_string(errno));
            return 0;
        });
        const std::string got = readReply(plain);
        finishChild(plain);
        ::chmod(kSecond, st.st_mode & 07777);
        check("locked: an unprivileged program cannot open the held port",
              got == std::to_string(EBUSY), "its open gave " + got + ", want EBUSY");
    }
    finishChild(holder);

    // Another program holding ttyS2 with a lock of its own, cooked settings
    // and hardware flow control.
    Child locker = startChild([]() { return holdSecondInOwnSettings(true); });
    const std::string locked = readReply(locker);
    if (check("locked: another program locks ttyS2", locked == "holding", locked)) {
        expectRefused("locked: ttyS2 locked by another program", kCom3);
        ssize_t ignored = ::write(locker.in, "?", 1);
        (void)ignored;
        const std::string after = readReply(locker);
        check("locked: the refused OPENCOM leaves the other program's settings", after == "same",
              after);
    }
    finishChild(locker);

    // Free again: the refusals were for the holders, not for the port.
    const int fds = countFds();
    check("locked: COM3 opens once free", OPENCOM(kCom3) == 1, diagnose(kSecond));
    check("locked: one descriptor for COM3", countFds() == fds + 1,
          std::to_string(countFds() - fds));
    check("locked: COM2 current again", OPENCOM(kCom2) == 1);
    check("locked: no descriptor for re-selecting COM2", countFds() == fds + 1,
          std::to_string(countFds() - fds));
    expectStillCurrent("locked: COM2's lines answer again");
}

void checkCloseOnExec()
{
    group("cloexec");
    for (const char *path : {kPort, kSecond}) {
        const std::vector<int> fds = fdsOn(path);
        for (int fd : fds) {
            const int flags = fcntl(fd, F_GETFD);
            check("cloexec: descriptor " + std::to_string(fd) + " on " + path + " has FD_CLOEXEC",
                  flags >= 0 && (flags & FD_CLOEXEC), "F_GETFD " + std::to_string(flags));
        }
    }
    Child lister = startSelf({"--list-fds"});
    const std::string listing = readAll(lister);
    finishChild(lister);
    check("cloexec: a started program lists its descriptors", !listing.empty(), "no listing");
    check("cloexec: a started program has neither port open",
          listing.find(kPort) == std::string::npos && listing.find(kSecond) == std::string::npos,
          listing);
}

// --- what a reader costs --------------------------------------------------

// The program polls the four readers many times a second, so each must stay
// one system call. A traced child counts them: it brackets each stretch of
// calls with a marker system call that nothing else makes, and its parent
// counts the system calls entered in between.
constexpr int kCostCalls = 100;
constexpr unsigned long kCostMarker = 0x4c696e74; // getppid's ignored argument

void costMarker()
{
    syscall(SYS_getppid, kCostMarker);
}

// What the child made between two markers.
struct Stretch {
    int calls = 0;
    int tiocmget = 0;             // ioctl(fd, TIOCMGET, ...)
    std::set<std::string> others; // every other call, by number and ioctl request
    std::set<long> descriptors;   // the descriptors of the TIOCMGET ioctls
};

std::string text(const Stretch &s)
{
    std::string out = std::to_string(s.calls) + " system calls, " + std::to_string(s.tiocmget) +
                      " of them ioctl TIOCMGET";
    if (!s.others.empty()) {
        out += "; others:";
        for (const std::string &call : s.others)
            out += " " + call;
    }
    return out;
}

// Follows a traced child from its first stop to the entry of the marker that
// closes its `count`th stretch, and leaves it stopped there.
bool traceStretches(pid_t pid, size_t count, std::vector<Stretch> *stretches, std::string *error)
{
    if (ptrace(PTRACE_SETOPTIONS, pid, nullptr,
               reinterpret_cast<void *>(
                   static_cast<intptr_t>(PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL))) != 0) {
        *error = "PTRACE_SETOPTIONS: " + errnoText(errno);
        return false;
    }
    bool inside = false;
    int signal = 0; // the first stop is the child's own SIGSTOP: not passed on
    while (true) {
        if (ptrace(PTRACE_SYSCALL, pid, nullptr,
                   reinterpret_cast<void *>(static_cast<intptr_t>(signal))) != 0) {
            *error = "PTRACE_SYSCALL: " + errnoText(errno);
            return false;
        }
        signal = 0;
        int status = 0;
        if (waitpid(pid, &status, 0) != pid) {
            *error = "waitpid: " + errnoText(errno);
            return false;
        }
        if (WIFEXITED(status) || WIFSIGNALED(status)) {
            *error =
                "the child ended before its last marker (status " + std::to_string(status) + ")";
            return false;
        }
        if (!WIFSTOPPED(status)) continue;
        if (WSTOPSIG(status) != (SIGTRAP | 0x80)) {
            // A signal for the child: it gets it.
            signal = WSTOPSIG(status);
            continue;
        }
        __ptrace_syscall_info call{};
        if (ptrace(PTRACE_GET_SYSCALL_INFO, pid, reinterpret_cast<void *>(sizeof call), &call) <=
            0) {
            *error = "PTRACE_GET_SYSCALL_INFO: " + errnoText(errno);
            return false;
        }
        if (call.op != PTRACE_SYSCALL_INFO_ENTRY) continue;
        const long nr = static_cast<long>(call.entry.nr);
        if (nr == SYS_getppid && call.entry.args[0] == kCostMarker) {
            if (!inside) {
                stretches->emplace_back();
            } else if (stretches->size() == count) {
                return true;
            }
            inside = !inside;
            continue;
        }
        if (!inside) continue;
        Stretch &s = stretches->back();
        ++s.calls;
        if (nr == SYS_ioctl && call.entry.args[1] == TIOCMGET) {
            ++s.tiocmget;
            s.descriptors.insert(static_cast<long>(call.entry.args[0]));
        } else if (nr == SYS_ioctl) {
            char request[32];
            std::snprintf(request, sizeof request, "ioctl %#llx",
                          static_cast<unsigned long long>(call.entry.args[1]));
            s.others.insert(request);
        } else {
            s.others.insert("#" + std::to_string(nr));
        }
    }
}

// The child's side: its own OPENCOM of COM3, then each reader kCostCalls
// times and the setter once, each between two markers. Nothing but the
// driver's calls may run inside a stretch, so the values go to arrays made
// before.
int costChild()
{
    std::vector<int16_t> dcd(kCostCalls);
    std::vector<int16_t> cts(kCostCalls);
    if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) != 0) {
        reply("PTRACE_TRACEME: " + errnoText(errno));
        return 1;
    }
    raise(SIGSTOP);
    const int opened = OPENCOM(kCom3);
    costMarker();
    for (int i = 0; i < kCostCalls; ++i)
        dcd[static_cast<size_t>(i)] = DCD();
    costMarker();
    costMarker();
    for (int i = 0; i < kCostCalls; ++i)
        cts[static_cast<size_t>(i)] = CTS();
    costMarker();
    costMarker();
    DTR(1);
    costMarker();

    const auto valid = [](const std::vector<int16_t> &values) {
        int n = 0;
        for (int16_t v : values)
            n += v == 0 || v == 1;
        return n;
    };
    reply(std::to_string(opened));
    reply(std::to_string(valid(dcd)) + " " + std::to_string(valid(cts)));
    // Holds the port, DTR on, until the parent has looked.
    waitForEnd();
    return 0;
}

void checkReaderCost()
{
    group("reader-cost");
    // The child opens COM3 itself, so this process must not hold it: a fork
    // shares our lock on it, and the child's OPENCOM would only re-select it.
    if (OPENCOM(kCom3) == 1) CLOSECOM();
    check("reader-cost: COM3 let go, COM2 current", OPENCOM(kCom2) == 1);
    if (!check("reader-cost: this process holds nothing on ttyS2", fdsOn(kSecond).empty(),
               std::to_string(fdsOn(kSecond).size()) + " descriptors"))
        return;

    Child child = startChild(costChild);
    if (!check("reader-cost: child started", child.pid > 0, errnoText(errno))) return;
    int status = 0;
    const bool stopped = waitpid(child.pid, &status, 0) == child.pid && WIFSTOPPED(status) &&
                         WSTOPSIG(status) == SIGSTOP;
    if (!check("reader-cost: child stopped for tracing", stopped,
               "status " + std::to_string(status) + ", " + readReply(child, 1000))) {
        kill(child.pid, SIGKILL);
        finishChild(child);
        return;
    }

    std::vector<Stretch> stretches;
    std::string error;
    const bool traced = traceStretches(child.pid, 3, &stretches, &error);
    // The descriptor the readers used, while the child still has it.
    std::string target;
    if (traced && stretches[0].descriptors.size() == 1) {
        char buf[256];
        const std::string link = "/proc/" + std::to_string(child.pid) + "/fd/" +
                                 std::to_string(*stretches[0].descriptors.begin());
        const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
        if (n > 0) target.assign(buf, static_cast<size_t>(n));
    }
    if (!check("reader-cost: child traced to its last marker", traced, error)) {
        kill(child.pid, SIGKILL);
        finishChild(child);
        return;
    }
    ptrace(PTRACE_DETACH, child.pid, nullptr, nullptr);

    const std::string opened = readReply(child);
    const std::string valid = readReply(child);
    check("reader-cost: the child's OPENCOM(COM3,1200,N,8,1) returns 1", opened == "1",
          "returned " + opened + "; " + diagnose(kSecond));
    const std::string all = std::to_string(kCostCalls) + " " + std::to_string(kCostCalls);
    check("reader-cost: every DCD() and CTS() gave 0 or 1", valid == all,
          "valid DCD and CTS answers: " + valid + ", want " + all);

    info("reader-cost: " + std::to_string(kCostCalls) + " DCD(): " + text(stretches[0]));
    info("reader-cost: " + std::to_string(kCostCalls) + " CTS(): " + text(stretches[1]));
    info("reader-cost: DTR(1): " + text(stretches[2]));
    const std::string cost = std::to_string(kCostCalls) + " ioctl TIOCMGET and nothing else";
    check("reader-cost: DCD() is one ioctl TIOCMGET",
          stretches[0].calls == kCostCalls && stretches[0].tiocmget == kCostCalls,
          text(stretches[0]) + " for " + std::to_string(kCostCalls) + " calls, want " + cost);
    check("reader-cost: CTS() is one ioctl TIOCMGET",
          stretches[1].calls == kCostCalls && stretches[1].tiocmget == kCostCalls,
          text(stretches[1]) + " for " + std::to_string(kCostCalls) + " calls, want " + cost);
    check("reader-cost: the readers ask the port's own descriptor", target == kSecond,
          stretches[0].descriptors.size() == 1
              ? "it leads to " + target
              : std::to_string(stretches[0].descriptors.size()) + " descriptors");
    check("reader-cost: DTR(1) reaches ttyS2", procSignals(2).count("DTR") == 1, procEntry(2));
    finishChild(child);
    const int reopened = OPENCOM(kCom3);
    check("reader-cost: COM3 opens here once the child has ended", reopened == 1,
          "returned " + std::to_string(reopened) + "; " + diagnose(kSecond));
    if (reopened == 1) CLOSECOM();
    check("reader-cost: COM2 selected again", OPENCOM(kCom2) == 1);
    expectStillCurrent("reader-cost: COM2's lines answer");
}

void checkManyOpens()
{
    group("many-opens");
    DTR(1);
    RTS(0);
    const int fds = countFds();
    const double t0 = seconds();
    int opened = 0;
    for (int i = 0; i < 10000; ++i)
        opened += OPENCOM(kCom2);
    info("10000 OPENCOM of the held port took " +
         std::to_string(static_cast<int>((seconds() - t0) * 1000)) + " ms");
    check("many-opens: 10000 re-opens all return 1", opened == 10000, std::to_string(opened));
    check("many-opens: descriptor count unchanged", countFds() == fds,
          std::to_string(countFds() - fds));
    expectInputs("many-opens: lines kept", {1, 1, 0, 0});

    int refused = 0;
    for (int i = 0; i < 1000; ++i) {
        refused += OPENCOM("COM4,1200,N,8,1") == 0;
        refused += OPENCOM("COM5,1200,N,8,1") == 0;
    }
    check("many-opens: 2000 refused opens all return 0", refused == 2000, std::to_string(refused));
    check("many-opens: descriptor count unchanged after refusals", countFds() == fds,
          std::to_string(countFds() - fds));
    expectStillCurrent("many-opens: COM2 still current");
    DTR(0);
}

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

} // namespace

int main(int argc, char **argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!inGuest()) {
        std::fprintf(stderr,
                     "uart_guest_test drives real serial ports and runs only inside the test VM "
                     "that run_uart_test.sh boots; refusing to run here.\n");
        return 2;
    }
    if (argc == 3 && std::strcmp(argv[1], "--hold") == 0) return holdWithDriver(argv[2]);
    if (argc == 2 && std::strcmp(argv[1], "--list-fds") == 0) return listFds();
    if (argc == 3 && std::strcmp(argv[1], "--status") == 0) return statusOf(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--keep") == 0) return keepOpen(argv[2]);
    if (argc != 1) {
        std::fprintf(stderr, "usage: %s\n", argv[0]);
        return 2;
    }

    std::signal(SIGPIPE, SIG_IGN);
    const double t0 = seconds();
    if (setupEnvironment()) {
        checkStatusRealPort();
        checkStatusConsole();
        checkStatusEmptySlot();
        checkStatusInUse();
        checkStatusPermission();
        mapPorts();
        checkOpen();
        if (g_watch >= 0) {
            checkDtrRts();
            checkDcdRi();
            checkTxd();
            checkReopen();
            checkNoUart();
            checkMissing();
            checkForeignSettings();
            checkLocked();
            checkCloseOnExec();
            checkReaderCost();
            checkManyOpens();
            checkUnplug();
            checkClose();
        }
        if (checkUsbNumber()) {
            checkUsbRestart();
            checkUsbHeld();
        }
    }
    info("checks took " + std::to_string(static_cast<int>((seconds() - t0) * 1000)) + " ms");
    return summary();
}
