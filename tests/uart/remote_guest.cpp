// A port on another machine, in the VM: Debian 12's ser2net serves ttyS2 over
// RFC 2217 on 127.0.0.1, and the driver reaches it as COM1. A descriptor of
// our own on ttyS2 puts the UART in its loopback mode (DTR -> DSR, RTS -> CTS,
// OUT1 -> RI, OUT2 -> DCD) and watches the device: the settings and the
// outputs reach it, and an input change there reaches the driver.
#include "guest.h"
#include "rscom.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <functional>
#include <string>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

using namespace guest;

namespace
{

constexpr const char *kPort = "/dev/ttyS2";
constexpr const char *kConfig = "/tmp/ser2net.yaml";
// The kernel's modem bits that glibc's <termios.h> leaves out (<asm/termios.h>
// has them, and clashes with it).
constexpr int kOut1 = 0x2000;
constexpr int kLoop = 0x8000;

// Seconds until `holds`, polling; -1 when it did not within `limit`.
double waitFor(const std::function<bool()> &holds, double limit)
{
    const double start = seconds();
    while (!holds()) {
        if (seconds() - start > limit) return -1;
        sleepMs(5);
    }
    return seconds() - start;
}

int modemBits(int fd)
{
    int bits = 0;
    return ::ioctl(fd, TIOCMGET, &bits) == 0 ? bits : -1;
}

pid_t startSer2net()
{
    FILE *config = std::fopen(kConfig, "w");
    if (config == nullptr) return -1;
    std::fprintf(config,
                 "connection: &remote\n"
                 "    accepter: telnet(rfc2217),tcp,127.0.0.1,2217\n"
                 "    connector: serialdev,%s,1200n81,local\n",
                 kPort);
    std::fclose(config);
    ::mkdir("/var", 0755);
    ::mkdir("/var/lock", 0755);
    ::mkdir("/run", 0755);
    ::mkdir("/run/lock", 0755);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::execl("/usr/sbin/ser2net", "ser2net", "-n", "-c", kConfig, "-P", "/tmp/ser2net.pid",
                static_cast<char *>(nullptr));
        std::perror("ser2net");
        ::_exit(127);
    }
    return pid;
}

void checkSer2net(int fd)
{
    group("rfc2217: ser2net serving ttyS2");
    // An address besides 127.0.0.1, as ser2net looks its listening address
    // up with AI_ADDRCONFIG, which asks for one.
    check("rfc2217: loopback up", std::system("/bin/busybox ip link set lo up && "
                                              "/bin/busybox ip addr add 192.0.2.1/32 dev lo") == 0);
    const pid_t server = startSer2net();
    if (!check("rfc2217: ser2net started", server > 0, errnoText(errno))) return;
    ::setenv("RSCOM_COM1", "rfc2217://127.0.0.1:2217", 1);
    // ser2net listens a moment after it starts.
    int opened = 0;
    const double took = waitFor([&] { return (opened = OPENCOM("COM1,9600,E,7,2")) != 0; }, 10);
    info("OPENCOM after ser2net started: " + std::to_string(took) + " s");
    if (check("rfc2217: OPENCOM opens the port ser2net serves", opened != 0)) {
        const double set = waitFor(
            [&] {
                termios t{};
                return ::tcgetattr(fd, &t) == 0 && cfgetospeed(&t) == B9600 &&
                       (t.c_cflag & CSIZE) == CS7 && (t.c_cflag & PARENB) &&
                       !(t.c_cflag & PARODD) && (t.c_cflag & CSTOPB);
            },
            3);
        check("rfc2217: 9600,E,7,2 reach the device", set >= 0);
        const struct {
            const char *name;
            void (*setter)(int16_t);
            int16_t level;
            int bit;
        } outputs[] = {{"DTR on", DTR, 1, TIOCM_DTR},
                       {"RTS on", RTS, 1, TIOCM_RTS},
                       {"DTR off", DTR, 0, TIOCM_DTR},
                       {"RTS off", RTS, 0, TIOCM_RTS}};
        for (const auto &output : outputs) {
            output.setter(output.level);
            const double at = waitFor(
                [&] { return ((modemBits(fd) & output.bit) != 0) == (output.level != 0); }, 3);
            check(std::string("rfc2217: ") + output.name + " reaches the device", at >= 0,
                  "TIOCMGET " + std::to_string(modemBits(fd)));
        }
        // An input change at the device, not caused by the driver: OUT1 is
        // RI in loopback mode. ser2net looks at the lines about once a
        // second.
        const int ring = kOut1;
        ::ioctl(fd, TIOCMBIS, &ring);
        const double riAt = waitFor([] { return RI() == 1; }, 5);
        info("RI raised at the device read by the driver after " + std::to_string(riAt) + " s");
        check("rfc2217: RI raised at the device reaches the driver within 1.5 s",
              riAt >= 0 && riAt <= 1.5);
        ::ioctl(fd, TIOCMBIC, &ring);
        const double riGone = waitFor([] { return RI() == 0; }, 5);
        check("rfc2217: RI dropped at the device reaches the driver within 1.5 s",
              riGone >= 0 && riGone <= 1.5, std::to_string(riGone) + " s");
        rscom_edge edges[16];
        const int n = EDGES(edges, 16);
        bool riEdges = false;
        for (int i = 0; i < n; ++i)
            riEdges = riEdges || (edges[i].line == RSCOM_LINE_RI && edges[i].level == 0);
        check("rfc2217: EDGES tells RI's changes", riEdges, std::to_string(n) + " edges");
        CLOSECOM();
    }
    // Not SIGTERM: ser2net in the foreground (-n) lets it pass.
    ::kill(server, SIGKILL);
    int status = 0;
    ::waitpid(server, &status, 0);
}

} // namespace

int main()
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!inGuest()) {
        std::fprintf(stderr, "remote_guest runs only inside the test VM that run_uart_test.sh "
                             "boots; refusing to run here.\n");
        return 2;
    }
    for (int n = 1; n <= 5; ++n)
        ::setenv(("RSCOM_COM" + std::to_string(n)).c_str(), "none", 1);
    const int fd = ::open(kPort, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (check("rfc2217: own descriptor on ttyS2", fd >= 0, errnoText(errno))) {
        const int loop = kLoop;
        check("rfc2217: ttyS2 in loopback mode", ::ioctl(fd, TIOCMBIS, &loop) == 0,
              errnoText(errno));
        checkSer2net(fd);
        ::close(fd);
    }
    return summary();
}
