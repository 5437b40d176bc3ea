#include "guest.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <sys/io.h>
#include <sys/syscall.h>
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

std::string fdTarget(int fd)
{
    char buf[256];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = readlink(link.c_str(), buf, sizeof buf - 1);
    if (n < 0) return {};
    return std::string(buf, static_cast<size_t>(n));
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

bool loadModules(const std::string &name)
{
    std::ifstream order("/modules/order");
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

} // namespace guest
