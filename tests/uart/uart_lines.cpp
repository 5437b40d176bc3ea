// The VM test's lines and settings: OPENCOM on one UART, its output and
// input lines, settings, locks, close-on-exec and what a reader costs.
#include "uart_checks.h"

#include <dlfcn.h>
#include <iterator>
#include <libserialport.h>
#include <utility>

// Runs once, right after libserialport's next successful open, when set.
static std::function<void()> g_afterSpOpen;

// libserialport's sp_open as the driver calls it, followed by the check's own
// moment: the driver's objects are linked into this program, so this
// definition is the one they call.
extern "C" sp_return sp_open(sp_port *port, sp_mode flags)
{
    using Open = sp_return (*)(sp_port *, sp_mode);
    static const auto real = reinterpret_cast<Open>(::dlsym(RTLD_NEXT, "sp_open"));
    const sp_return result = real(port, flags);
    if (result == SP_OK && g_afterSpOpen) std::exchange(g_afterSpOpen, nullptr)();
    return result;
}

namespace uart
{

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

    // A program that opens ttyS2 and waits for its lock once libserialport
    // has opened the port for the driver and applied its settings: the
    // driver's lock, taken at its first open, is never let go, so the driver
    // opens the port and that program gets the lock only at CLOSECOM. Were
    // the lock let go for a moment, that program would win it, and the
    // driver would refuse a port whose settings it had changed.
    Child waiter;
    std::string waiting = "never asked";
    g_afterSpOpen = [&]() {
        waiter = startChild([]() {
            // Not the descriptors the fork copied: one of them is the
            // driver's, on the open file that holds the lock.
            ::close_range(3, ~0U, 0);
            const int fd = ::open(kSecond, O_RDWR | O_NOCTTY | O_NONBLOCK);
            if (fd < 0) {
                reply("open: " + errnoText(errno));
                return 1;
            }
            reply("waiting");
            ::alarm(20);
            reply(::flock(fd, LOCK_EX) == 0 ? "locked" : "flock: " + errnoText(errno));
            waitForEnd();
            return 0;
        });
        waiting = readReply(waiter);
        // Until the kernel shows it waiting (a blocked lock, "->" in /proc/locks).
        const std::string blocked = "-> FLOCK  ADVISORY  WRITE " + std::to_string(waiter.pid) + " ";
        for (int i = 0; i < 200 && waiting == "waiting"; ++i, sleepMs(10)) {
            std::ifstream locks("/proc/locks");
            if (std::string(std::istreambuf_iterator<char>(locks), {}).find(blocked) !=
                std::string::npos)
                return;
        }
        waiting = "not blocked in flock";
    };
    const int opened = OPENCOM(kCom3);
    g_afterSpOpen = nullptr;
    if (check("locked: another program waits for ttyS2's lock while the driver opens it",
              waiting == "waiting", waiting)) {
        check("locked: the driver opens the port all the same", opened == 1,
              "returned " + std::to_string(opened));
        const std::string early = readReply(waiter, 300);
        check("locked: the other program gets no lock while the driver holds the port",
              early == "<no answer>", early);
        CLOSECOM();
        const std::string late = early == "<no answer>" ? readReply(waiter) : early;
        check("locked: the other program gets the lock at CLOSECOM", late == "locked", late);
    }
    finishChild(waiter);

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

} // namespace uart
