// The VM test's consoles and holders: COMSTATUS with the COM numbers the
// driver gives by itself, consoles, empty slots, ports other programs hold,
// and permissions.
#include "uart_checks.h"

namespace uart
{

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

} // namespace uart
