// What the checks of the VM test share: the ports it uses, what the process
// and the kernel show of them, the driver's readers, helper processes, the
// settings as the kernel has them and COMSTATUS's answers.
#pragma once

#include "descriptors.h"
#include "guest.h"
#include "rscom.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

namespace uart
{

using guest::check;
using guest::Child;
using guest::enableMarkers;
using guest::errnoText;
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

inline bool writeFile(const std::string &path, const std::string &text, std::string *error)
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
inline int countFds()
{
    return static_cast<int>(openDescriptors().size());
}

inline std::vector<int> fdsOn(const std::string &path)
{
    std::vector<int> fds;
    for (const auto &[fd, target] : openDescriptors()) {
        if (target == path) fds.push_back(fd);
    }
    return fds;
}

// --- the kernel's view of the lines -----------------------------------------

// The /proc/tty/driver/serial line of a port, e.g.
// "1: uart:16550A port:000002F8 irq:3 tx:0 rx:0 RTS|DTR|CD".
inline std::string procEntry(int line)
{
    std::ifstream in("/proc/tty/driver/serial");
    const std::string prefix = std::to_string(line) + ":";
    std::string text;
    while (std::getline(in, text)) {
        if (text.compare(0, prefix.size(), prefix) == 0) return text;
    }
    return {};
}

inline std::set<std::string> procSignals(int line)
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

inline std::string procOutputs(int line)
{
    const std::set<std::string> s = procSignals(line);
    return std::string("DTR") + (s.count("DTR") ? "+" : "-") + " RTS" +
           (s.count("RTS") ? "+" : "-");
}

inline std::string outputs(bool dtr, bool rts)
{
    return std::string("DTR") + (dtr ? "+" : "-") + " RTS" + (rts ? "+" : "-");
}

inline int modemBits(int fd)
{
    int bits = 0;
    return ioctl(fd, TIOCMGET, &bits) == 0 ? bits : -1;
}

inline bool setBits(int fd, int bits, bool on)
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

inline Inputs readInputs()
{
    return {DCD(), DSR(), CTS(), RI()};
}

inline std::string text(const Inputs &i)
{
    return "DCD=" + std::to_string(i.dcd) + " DSR=" + std::to_string(i.dsr) +
           " CTS=" + std::to_string(i.cts) + " RI=" + std::to_string(i.ri);
}

inline bool expectInputs(const std::string &name, const Inputs &want)
{
    const Inputs got = readInputs();
    return check(name, got == want, "read " + text(got) + ", want " + text(want));
}

inline bool expectOutputs(const std::string &name, bool dtr, bool rts)
{
    const std::string got = procOutputs(kPortLine);
    return check(name, got == outputs(dtr, rts),
                 "kernel has " + got + ", want " + outputs(dtr, rts));
}

// --- helper processes -------------------------------------------------------

// This program again, in one of its helper modes, with `env` added to its
// environment.
inline Child startSelf(const std::vector<std::string> &args,
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

inline std::string readAll(const Child &child)
{
    std::string all;
    while (true) {
        const std::string line = readReply(child);
        if (line == "<eof>" || line.find("<no answer>") != std::string::npos) return all;
        all += line + "\n";
    }
}

// Helper mode: another program that holds a port through the driver.
inline int holdWithDriver(const char *settings)
{
    reply(std::to_string(OPENCOM(settings)));
    waitForEnd();
    return 0;
}

// Helper mode: what a program started by the driver's user has open.
inline int listFds()
{
    for (const auto &[fd, target] : openDescriptors())
        reply(std::to_string(fd) + " " + target);
    return 0;
}

// Termios as another program might set a port: cooked, 9600 7E1 with
// hardware flow control.
inline termios otherProgramSettings(const termios &base)
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

inline bool sameTermios(const termios &a, const termios &b)
{
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && cfgetospeed(&a) == cfgetospeed(&b) &&
           cfgetispeed(&a) == cfgetispeed(&b);
}

inline std::string termiosText(const termios &t)
{
    char buf[128];
    std::snprintf(buf, sizeof buf, "iflag=%#o oflag=%#o cflag=%#o lflag=%#o", t.c_iflag, t.c_oflag,
                  t.c_cflag, t.c_lflag);
    return buf;
}

// What a plain open of a path gives, to tell why an OPENCOM failed.
inline std::string diagnose(const char *path)
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

inline void checkSettings(const std::string &name, int fd, const Expected &want)
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

inline void unmapAll()
{
    for (int port = 1; port <= 255; ++port)
        unsetenv(("RSCOM_COM" + std::to_string(port)).c_str());
}

struct Status {
    int code = -99;
    std::string detail;
    bool operator==(const Status &o) const { return code == o.code && detail == o.detail; }
};

inline Status comStatus(int port)
{
    char detail[512];
    std::memset(detail, 'X', sizeof detail);
    Status s;
    s.code = COMSTATUS(static_cast<int16_t>(port), detail, static_cast<int16_t>(sizeof detail));
    s.detail.assign(detail, strnlen(detail, sizeof detail));
    return s;
}

// The seven fields of the detail text.
inline Status status(int code, const std::string &path, const std::string &product = {},
                     const std::string &maker = {}, const std::string &serial = {},
                     const std::string &group = {}, const std::string &program = {},
                     const std::string &pid = {})
{
    return {code, path + "\t" + product + "\t" + maker + "\t" + serial + "\t" + group + "\t" +
                      program + "\t" + pid};
}

inline std::string text(const Status &s)
{
    std::string detail = s.detail;
    for (size_t tab = detail.find('\t'); tab != std::string::npos; tab = detail.find('\t', tab))
        detail.replace(tab, 1, " | ");
    return std::to_string(s.code) + " [" + detail + "]";
}

inline bool expectStatus(const std::string &name, const Status &got, const Status &want)
{
    return check(name, got == want, "COMSTATUS gave " + text(got) + ", want " + text(want));
}

// --- the checks -------------------------------------------------------------

// Our own descriptor on the port under test; opened before the driver opens it.
inline int g_watch = -1;

// Where the driver remembers the COM numbers it gives.
constexpr const char *kStateFolder = "/state";
constexpr const char *kNumbersFile = "/state/rscom/ports";

inline bool setupEnvironment()
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
inline void mapPorts()
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

// The checks, in the order main runs them, by theme: consoles and holders
// (COMSTATUS, uart_holders.cpp), lines and settings (uart_lines.cpp), unplug
// and recovery (uart_unplug.cpp).
void checkStatusRealPort();
void checkStatusConsole();
void checkStatusEmptySlot();
void checkStatusInUse();
void checkStatusPermission();
void checkOpen();
void checkDtrRts();
void checkDcdRi();
void checkTxd();
void checkReopen();
void checkNoUart();
void checkMissing();
void checkForeignSettings();
void checkLocked();
void checkCloseOnExec();
void checkReaderCost();
void checkManyOpens();
void checkUnplug();
void checkClose();
bool checkUsbNumber();
void checkUsbRestart();
void checkUsbHeld();
// Helper modes of this program.
int statusOf(const char *port);
int keepOpen(const char *path);
std::string comm(pid_t pid);
// Another program holding ttyS2 in settings of its own (uart_holders.cpp).
int holdSecondInOwnSettings(bool lock);

} // namespace uart
