#include "guest.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <poll.h>
#include <sys/io.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace guest
{

namespace
{

// Only the VM's initramfs has this file, and only its kernel command line
// has this word.
constexpr const char *kGuestMarker = "/lintara-guest";
constexpr const char *kGuestCmdline = "lintara.guest=1";

// Seconds a group may take before the watchdog calls it blocked.
constexpr unsigned kGroupSeconds = 60;

int g_passed = 0;
int g_failed = 0;
const char *volatile g_group = "start";

void onWatchdog(int)
{
    // Only async-signal-safe calls here.
    const char head[] = "FAIL watchdog: no return within the time allowed, in group ";
    ssize_t ignored = ::write(STDOUT_FILENO, head, sizeof head - 1);
    ignored = ::write(STDOUT_FILENO, g_group, std::strlen(g_group));
    ignored = ::write(STDOUT_FILENO, "\n", 1);
    (void)ignored;
    _exit(3);
}

double uptime()
{
    std::ifstream in("/proc/uptime");
    double up = -1;
    in >> up;
    return up;
}

constexpr unsigned short kMarkerPort = 0x2f8 + 7;
constexpr unsigned char kOpenMark = 0xA5;
constexpr unsigned char kCloseMark = 0x5A;
bool g_markers = false;
int g_nextStretch = 1;

} // namespace

bool inGuest()
{
    if (access(kGuestMarker, F_OK) != 0) return false;
    std::ifstream in("/proc/cmdline");
    std::string word;
    while (in >> word) {
        if (word == kGuestCmdline) return true;
    }
    return false;
}

bool check(const std::string &name, bool ok, const std::string &detail)
{
    if (ok) {
        ++g_passed;
        std::printf("PASS %s\n", name.c_str());
    } else {
        ++g_failed;
        std::printf("FAIL %s: %s\n", name.c_str(), detail.empty() ? "false" : detail.c_str());
    }
    std::fflush(stdout);
    return ok;
}

void info(const std::string &text)
{
    std::printf("info %s\n", text.c_str());
    std::fflush(stdout);
}

// Each group's line tells when it started, as seconds since the guest's boot.
void group(const char *name)
{
    std::signal(SIGALRM, onWatchdog);
    g_group = name;
    alarm(kGroupSeconds);
    std::printf("-- %s (at %.2f s)\n", name, uptime());
    std::fflush(stdout);
}

void restartWatchdog()
{
    alarm(kGroupSeconds);
}

int summary()
{
    alarm(0);
    std::printf("SUMMARY: %d passed, %d failed\n", g_passed, g_failed);
    std::fflush(stdout);
    return g_failed == 0 ? 0 : 1;
}

std::string errnoText(int error)
{
    return std::string(std::strerror(error)) + " (errno " + std::to_string(error) + ")";
}

double seconds()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

void sleepMs(int ms)
{
    timespec ts{ms / 1000, (ms % 1000) * 1000000L};
    nanosleep(&ts, nullptr);
}

double waitForNode(const char *path, bool present, double limit)
{
    const double t0 = seconds();
    while (seconds() - t0 < limit) {
        if ((access(path, F_OK) == 0) == present) return seconds() - t0;
        sleepMs(20);
    }
    return -1;
}

bool loadModules(const std::string &name, const char *list)
{
    std::ifstream order(list);
    std::string module;
    bool ok = true;
    int count = 0;
    while (std::getline(order, module)) {
        const std::string path = "/modules/" + module + ".ko";
        const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
        const bool loaded =
            fd >= 0 && (syscall(SYS_finit_module, fd, "", 0) == 0 || errno == EEXIST);
        ok &= check(name + "module " + module + " loaded", loaded, errnoText(errno));
        if (fd >= 0) ::close(fd);
        ++count;
    }
    return check(name + "the modules' list is there", count > 0) && ok;
}

bool enableMarkers(int first)
{
    g_nextStretch = first;
    g_markers = ioperm(kMarkerPort, 1, 1) == 0;
    return g_markers;
}

void quietly(const std::string &what, const std::function<void()> &body, bool writes)
{
    if (!g_markers) {
        body();
        return;
    }
    const int number = g_nextStretch++;
    // The console's output still on its way would be writes of its own.
    std::fflush(stdout);
    tcdrain(STDOUT_FILENO);
    outb(kOpenMark, kMarkerPort);
    outb(static_cast<unsigned char>(number), kMarkerPort);
    body();
    outb(kCloseMark, kMarkerPort);
    outb(static_cast<unsigned char>(number), kMarkerPort);
    std::printf("QUIET %d %s %s\n", number, writes ? "mcr" : "none", what.c_str());
    std::fflush(stdout);
}

Child startChild(const std::function<int()> &body)
{
    int toChild[2];
    int fromChild[2];
    if (pipe2(toChild, O_CLOEXEC) != 0) return {};
    if (pipe2(fromChild, O_CLOEXEC) != 0) {
        ::close(toChild[0]);
        ::close(toChild[1]);
        return {};
    }
    std::fflush(stdout);
    const pid_t pid = fork();
    if (pid == 0) {
        dup2(toChild[0], STDIN_FILENO);
        dup2(fromChild[1], STDOUT_FILENO);
        // A forked child that kept the pipes' other ends would never see the
        // end of its input.
        for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]})
            ::close(fd);
        _exit(body());
    }
    ::close(toChild[0]);
    ::close(fromChild[1]);
    if (pid < 0) {
        ::close(toChild[1]);
        ::close(fromChild[0]);
        return {};
    }
    return {pid, toChild[1], fromChild[0]};
}

std::string readReply(const Child &child, int timeoutMs)
{
    std::string line;
    char c = 0;
    while (true) {
        pollfd p{child.out, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return line + "<no answer>";
        if (::read(child.out, &c, 1) != 1) return line.empty() ? "<eof>" : line;
        if (c == '\n') return line;
        line += c;
    }
}

int finishChild(Child &child)
{
    if (child.in >= 0) ::close(child.in);
    if (child.out >= 0) ::close(child.out);
    int status = 0;
    if (child.pid > 0) waitpid(child.pid, &status, 0);
    child = Child{};
    return status;
}

// Waits until the parent closes our standard input.
void waitForEnd()
{
    char c = 0;
    while (::read(STDIN_FILENO, &c, 1) > 0) {
    }
}

void reply(const std::string &line)
{
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

} // namespace guest
