// The driver's EDGES on a real kernel driver, in the VM: a USB serial adapter
// inside the guest, made of the dummy UDC and the serial gadget. The host
// side, /dev/ttyACM0, is on the kernel's cdc_acm driver; opening and closing
// the gadget side, /dev/ttyGS0, switches DCD and DSR on it. This adapter
// cannot send a break. The "bench" lines are the benchmark's VM figures.
#include "guest.h"
#include "rscom.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <linux/serial.h>
#include <string>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>
#include <vector>

using namespace guest;

namespace
{

constexpr const char *kHost = "/dev/ttyACM0";
constexpr const char *kGadget = "/dev/ttyGS0";
constexpr const char *kSettings = "COM1,115200,N,8,1";
constexpr const char *kUdc = "/sys/bus/platform/drivers/dummy_udc/";

int g_threads = 0; // the program's threads with no port open

int64_t micros()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

int threads()
{
    int n = 0;
    DIR *dir = ::opendir("/proc/self/task");
    if (dir == nullptr) return -1;
    while (dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') ++n;
    }
    ::closedir(dir);
    return n;
}

std::string readText(const std::string &path)
{
    std::ifstream in(path);
    std::string text;
    std::getline(in, text);
    return text;
}

bool writeText(const std::string &path, const std::string &text)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    ::close(fd);
    return ok;
}

// One pulse of DCD and DSR on the host side: the gadget side opened and,
// `holdUs` after the open returned, closed. When open() and close() were
// called, in `opened` and `closed`: the lines change while they run.
bool pulse(int64_t holdUs, int64_t *opened = nullptr, int64_t *closed = nullptr)
{
    const int64_t t = micros();
    const int fd = ::open(kGadget, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    if (holdUs > 0) {
        const timespec hold{0, static_cast<long>(holdUs * 1000)};
        nanosleep(&hold, nullptr);
    }
    const int64_t c = micros();
    ::close(fd);
    if (opened) *opened = t;
    if (closed) *closed = c;
    return true;
}

std::vector<rscom_edge> takeEdges()
{
    std::vector<rscom_edge> all;
    rscom_edge edges[64];
    int16_t n = 0;
    while ((n = EDGES(edges, 64)) > 0)
        all.insert(all.end(), edges, edges + n);
    return all;
}

std::vector<rscom_edge> ofLine(const std::vector<rscom_edge> &edges, int line)
{
    std::vector<rscom_edge> some;
    for (const rscom_edge &e : edges) {
        if (e.line == line) some.push_back(e);
    }
    return some;
}

std::string describe(const std::vector<rscom_edge> &edges)
{
    std::string text;
    for (const rscom_edge &e : edges)
        text += "[line " + std::to_string(e.line) + " count " + std::to_string(e.count) +
                " level " + std::to_string(e.level) + " at " + std::to_string(e.time) + "] ";
    return text.empty() ? "none" : text;
}

double percentile(std::vector<double> values, double p)
{
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    const auto k = static_cast<size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(k, values.size() - 1)];
}

bool setup()
{
    group("gadget: set-up");
    setenv("XDG_STATE_HOME", "/tmp/gadget-state", 1);
    setenv("RSCOM_COM1", kHost, 1);
    for (int n = 2; n <= 5; ++n)
        setenv(("RSCOM_COM" + std::to_string(n)).c_str(), "none", 1);
    const double t0 = seconds();
    if (!loadModules("gadget: ") || !loadModules("gadget: ", "/modules/gadget")) return false;
    const bool host = check("gadget: ttyACM0 appears", waitForNode(kHost, true, 10) >= 0);
    const bool gadget = check("gadget: ttyGS0 appears", waitForNode(kGadget, true, 10) >= 0);
    info("gadget: nodes there " + std::to_string(seconds() - t0) + " s after loading began");
    const std::string usb = "/sys/class/tty/ttyACM0/device/../";
    check("gadget: ttyACM0 is the gadget, 0525:a4a7",
          readText(usb + "idVendor") == "0525" && readText(usb + "idProduct") == "a4a7",
          readText(usb + "idVendor") + ":" + readText(usb + "idProduct"));
    info("gadget: product \"" + readText(usb + "product") + "\", serial number \"" +
         readText(usb + "serial") + "\"");
    check("gadget: ttyGS0 has no device link", ::access("/sys/class/tty/ttyGS0/device", F_OK) != 0);
    return host && gadget;
}

// What the kernel answers for an ioctl a tty driver lacks: cdc_acm's break
// on a device without it, and the gadget side, whose driver (u_serial) can
// neither wait nor count. In a child: a wait that did block would hang.
void checkLackingIoctls()
{
    group("gadget: ioctls a driver lacks");
    const int host = ::open(kHost, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const int brk = host >= 0 && ::ioctl(host, TIOCSBRK) != 0 ? errno : 0;
    if (host >= 0) ::close(host);
    check("gadget: ttyACM0 refuses a break with EOPNOTSUPP", brk == EOPNOTSUPP, errnoText(brk));
    Child child = startChild([] {
        const int fd = ::open(kGadget, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        serial_icounter_struct icount{};
        const int count = ::ioctl(fd, TIOCGICOUNT, &icount) != 0 ? errno : 0;
        alarm(2);
        const int wait = ::ioctl(fd, TIOCMIWAIT, TIOCM_CD) != 0 ? errno : 0;
        reply(std::to_string(count) + " " + std::to_string(wait));
        return 0;
    });
    const std::string answer = readReply(child, 5000);
    finishChild(child);
    info("gadget: ttyGS0 (u_serial) answers TIOCGICOUNT and TIOCMIWAIT with errno " + answer);
    check("gadget: a driver without them answers ENOTTY or EINVAL at once",
          answer == std::to_string(ENOTTY) + " " + std::to_string(ENOTTY) ||
              answer == std::to_string(EINVAL) + " " + std::to_string(ENOTTY),
          answer);
}

void checkOpen()
{
    group("gadget: OPENCOM without break");
    g_threads = threads();
    if (!check("gadget: OPENCOM opens ttyACM0, which cannot send a break", OPENCOM(kSettings) == 1))
        return;
    TXD(1); // changes nothing, remembered
    check("gadget: lines read with the gadget side closed", DCD() == 0 && DSR() == 0,
          "DCD " + std::to_string(DCD()) + " DSR " + std::to_string(DSR()));
    check("gadget: CTS reads 1, RI 0, as cdc_acm reports them", CTS() == 1 && RI() == 0,
          "CTS " + std::to_string(CTS()) + " RI " + std::to_string(RI()));
    TXD(0);
    check("gadget: the port tells its changes", EDGES(nullptr, 0) == 0,
          std::to_string(EDGES(nullptr, 0)));
    takeEdges();
}

// A pulse that two reads 20 ms apart do not see.
void checkShortPulse()
{
    group("gadget: a pulse between two reads");
    const int before = DCD();
    int64_t opened = 0, closed = 0;
    const bool sent = pulse(2000, &opened, &closed);
    sleepMs(20);
    const int after = DCD();
    check("gadget: the reads do not see it", sent && before == 0 && after == 0,
          std::to_string(before) + " then " + std::to_string(after));
    const std::vector<rscom_edge> edges = takeEdges();
    for (int line : {RSCOM_LINE_DCD, RSCOM_LINE_DSR}) {
        const std::vector<rscom_edge> e = ofLine(edges, line);
        const std::string name = line == RSCOM_LINE_DCD ? "DCD" : "DSR";
        const bool both = e.size() == 2 && e[0].count == 1 && e[0].level == 1 && e[1].count == 2 &&
                          e[1].level == 0;
        check("gadget: EDGES has both edges of " + name, both, describe(e));
        if (both)
            check("gadget: " + name + "'s edges are timed after the open and the close",
                  e[0].time >= opened && e[1].time >= closed && e[1].time - e[0].time < 100000,
                  "open at " + std::to_string(opened) + ", close at " + std::to_string(closed) +
                      ": " + describe(e));
    }
}

// 50 pulses: none lost, none repeated, and how long from the gadget side's
// open() to the edge's time.
void checkSeries()
{
    group("gadget: a series of pulses");
    std::vector<double> latencies;
    std::vector<rscom_edge> all;
    for (int i = 0; i < 50; ++i) {
        int64_t opened = 0;
        pulse(2000, &opened);
        sleepMs(10);
        const std::vector<rscom_edge> edges = takeEdges();
        for (const rscom_edge &e : edges) {
            if (e.line == RSCOM_LINE_DCD && e.level == 1)
                latencies.push_back(static_cast<double>(e.time - opened) / 1000.0);
        }
        all.insert(all.end(), edges.begin(), edges.end());
    }
    for (int line : {RSCOM_LINE_DCD, RSCOM_LINE_DSR}) {
        const std::vector<rscom_edge> e = ofLine(all, line);
        bool steps = !e.empty();
        int32_t last = e.empty() ? 0 : e.front().count - 1;
        for (const rscom_edge &edge : e) {
            steps &= edge.count > last && edge.level == (edge.count % 2 == 1 ? 1 : 0);
            last = edge.count;
        }
        const std::string name = line == RSCOM_LINE_DCD ? "DCD" : "DSR";
        // A pulse whose two changes came with one wake is one edge whose
        // count jumps by two, the level back: none lost, none told twice.
        check("gadget: " + name + " counts 100 changes over 50 pulses, none lost or repeated",
              steps && !e.empty() && last - e.front().count + 1 == 100,
              std::to_string(e.size()) + " edges, last count " + std::to_string(last));
        info("gadget: " + name + ": " + std::to_string(100 - e.size()) +
             " pulses came as one edge counting two");
    }
    check("gadget: CTS and RI never change",
          ofLine(all, RSCOM_LINE_CTS).empty() && ofLine(all, RSCOM_LINE_RI).empty());
    std::printf("bench edges: open() to DCD's edge time over %zu pulses: median %.2f ms, "
                "p99 %.2f ms, "
                "max %.2f ms\n",
                latencies.size(), percentile(latencies, 0.5), percentile(latencies, 0.99),
                percentile(latencies, 1.0));
}

// Ever shorter pulses: each counts its two changes, and the shortest hold
// that still shows as two edges every time. The VM has one CPU: the hold
// sleeps, so that the driver's thread may run meanwhile.
void checkShortestPulse()
{
    group("gadget: the shortest pulse seen");
    int64_t shortest = -1;
    bool counted = true;
    int32_t prev = -1;
    std::string rates, missed;
    for (int64_t hold : {1000, 500, 200, 100, 50, 0}) {
        int split = 0;
        for (int i = 0; i < 10; ++i) {
            pulse(hold);
            sleepMs(10);
            const std::vector<rscom_edge> dcd = ofLine(takeEdges(), RSCOM_LINE_DCD);
            if (dcd.size() == 2 && dcd[1].count == dcd[0].count + 1) ++split;
            // The two changes, as two edges or as one whose count jumps.
            // Without a hold the gadget may not tell the host at all.
            const bool two =
                !dcd.empty() && dcd.back().level == 0 && (prev < 0 || dcd.back().count == prev + 2);
            if (!two && hold > 0) {
                counted = false;
                missed += " " + std::to_string(hold) + " us: " + describe(dcd);
            }
            if (!dcd.empty()) prev = dcd.back().count;
        }
        rates += " " + std::to_string(hold) + " us: " + std::to_string(split) + "/10;";
        if (split == 10 && (shortest < 0 || hold < shortest)) shortest = hold;
    }
    std::printf("bench edges: shortest pulse seen as two edges 10 times out of 10: %lld us "
                "(two edges per hold:%s)\n",
                static_cast<long long>(shortest), rates.c_str());
    check("gadget: every pulse held 50 us or more counts its two changes", counted, missed);
}

// Nanoseconds on a CPU of this program's threads other than the main one:
// the driver's (the scheduler's own count, finer than getrusage's).
int64_t driverThreadsNs()
{
    int64_t sum = 0;
    DIR *dir = ::opendir("/proc/self/task");
    if (dir == nullptr) return -1;
    const std::string self = std::to_string(::getpid());
    while (dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.' || self == entry->d_name) continue;
        std::ifstream in(std::string("/proc/self/task/") + entry->d_name + "/schedstat");
        int64_t ns = 0;
        in >> ns;
        sum += ns;
    }
    ::closedir(dir);
    return sum;
}

void checkIdleCost()
{
    group("gadget: an idle held port");
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const int64_t threads0 = driverThreadsNs();
    const double t0 = seconds();
    sleepMs(3000);
    getrusage(RUSAGE_SELF, &after);
    const int64_t threadsNs = driverThreadsNs() - threads0;
    const double wall = seconds() - t0;
    const auto cpu = [](const rusage &r) {
        return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e3 +
               static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e3;
    };
    const double ms = cpu(after) - cpu(before);
    std::printf("bench edges: CPU of a held idle port (ttyACM0) over %.1f s: its threads %.3f ms, "
                "the whole program %.2f ms\n",
                wall, static_cast<double>(threadsNs) / 1e6, ms);
    check("gadget: a held idle port's threads take no CPU", threadsNs >= 0 && threadsNs < 1000000,
          std::to_string(threadsNs) + " ns");
}

// CLOSECOM while the thread waits: the device is free for another program at
// once, and no thread is left.
void checkClose()
{
    group("gadget: CLOSECOM while waiting");
    const int held = threads();
    const int64_t t0 = micros();
    CLOSECOM();
    const int64_t closed = micros() - t0;
    int fd = -1;
    int64_t freed = -1;
    while (micros() - t0 < 100000) {
        fd = ::open(kHost, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            freed = micros() - t0;
            break;
        }
        if (fd >= 0) ::close(fd);
        fd = -1;
    }
    int64_t noThread = -1;
    while (micros() - t0 < 100000) {
        if (threads() == g_threads) {
            noThread = micros() - t0;
            break;
        }
    }
    int64_t plainClose = -1;
    if (fd >= 0) {
        // What closing the device takes by itself, with no driver.
        const int64_t t1 = micros();
        ::close(fd);
        plainClose = micros() - t1;
    }
    check("gadget: another open and flock succeed within 100 ms of CLOSECOM", freed >= 0,
          "still held after 100 ms");
    check("gadget: the waiting thread is gone within 100 ms", noThread >= 0,
          std::to_string(threads()) + " threads, " + std::to_string(held) + " while held, " +
              std::to_string(g_threads) + " before");
    std::printf("bench edges: CLOSECOM took %.2f ms; the device free %.2f ms, its threads gone "
                "%.2f ms after it began; a plain close() of ttyACM0 takes %.2f ms\n",
                static_cast<double>(closed) / 1000.0, static_cast<double>(freed) / 1000.0,
                static_cast<double>(noThread) / 1000.0, static_cast<double>(plainClose) / 1000.0);
}

// The gadget unplugged and plugged in again: count goes on.
void checkReplug()
{
    group("gadget: unplug and replug");
    if (!check("gadget: OPENCOM again", OPENCOM(kSettings) == 1)) return;
    TXD(1);
    pulse(2000);
    sleepMs(20);
    const std::vector<rscom_edge> first = ofLine(takeEdges(), RSCOM_LINE_DCD);
    check("gadget: a fresh record counts from one",
          !first.empty() && first.front().count <= 2 && first.back().count == 2, describe(first));

    const int64_t t0 = micros();
    if (!check("gadget: dummy_udc.0 unbound",
               writeText(std::string(kUdc) + "unbind", "dummy_udc.0")))
        return;
    int16_t gone = 0;
    while (micros() - t0 < 2000000 && (gone = EDGES(nullptr, 0)) != RSCOM_EDGES_NO_PORT)
        sleepMs(1);
    check("gadget: EDGES tells that the device is gone", gone == RSCOM_EDGES_NO_PORT,
          std::to_string(gone));
    info("gadget: gone after " + std::to_string((micros() - t0) / 1000) + " ms");
    check("gadget: dummy_udc.0 bound again", writeText(std::string(kUdc) + "bind", "dummy_udc.0"));
    check("gadget: ttyACM0 back", waitForNode(kHost, true, 10) >= 0);
    int16_t back = -1;
    const double t1 = seconds();
    while (seconds() - t1 < 10 && (back = DCD()) < 0)
        sleepMs(50);
    check("gadget: the driver opened it again by itself", back >= 0);
    info("gadget: back after " + std::to_string((micros() - t0) / 1000) + " ms");
    pulse(2000);
    sleepMs(20);
    const std::vector<rscom_edge> later = ofLine(takeEdges(), RSCOM_LINE_DCD);
    check("gadget: after the replug count goes on from 2",
          !later.empty() && later.front().count >= 3 && later.back().count == 4 &&
              later.back().level == 0,
          describe(later));
    CLOSECOM();
}

} // namespace

int main()
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!inGuest()) {
        std::fprintf(stderr, "gadget_guest loads kernel modules and runs only inside the test VM "
                             "that run_uart_test.sh boots; refusing to run here.\n");
        return 2;
    }
    if (setup()) {
        checkLackingIoctls();
        checkOpen();
        checkShortPulse();
        checkSeries();
        checkShortestPulse();
        checkIdleCost();
        checkClose();
        checkReplug();
    }
    return summary();
}
