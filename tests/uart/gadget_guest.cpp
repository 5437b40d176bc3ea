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
#include <string>
#include <sys/file.h>
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

int64_t micros()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<int64_t>(ts.tv_sec) * 1000000 + ts.tv_nsec / 1000;
}

void spinUntil(int64_t t)
{
    while (micros() < t) {
    }
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
// `holdUs` later, closed. When the open returned, in `opened`.
bool pulse(int64_t holdUs, int64_t *opened = nullptr, int64_t *closed = nullptr)
{
    const int fd = ::open(kGadget, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    const int64_t t = micros();
    if (fd < 0) return false;
    spinUntil(t + holdUs);
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

void checkOpen()
{
    group("gadget: OPENCOM without break");
    if (!check("gadget: OPENCOM opens ttyACM0, which cannot send a break", OPENCOM(kSettings) == 1))
        return;
    TXD(1); // changes nothing, remembered
    check("gadget: lines read with the gadget side closed", DCD() == 0 && DSR() == 0,
          "DCD " + std::to_string(DCD()) + " DSR " + std::to_string(DSR()));
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
        check("gadget: " + name + " counts 100 changes over 50 pulses, none back",
              steps && last - e.front().count + 1 == 100 && e.size() <= 100,
              std::to_string(e.size()) + " edges, last count " + std::to_string(last));
        check("gadget: " + name + " shows each change once", e.size() == 100,
              std::to_string(e.size()) + " edges");
    }
    std::printf("bench edges: open() to edge time over %zu pulses: median %.2f ms, p99 %.2f ms, "
                "max %.2f ms\n",
                latencies.size(), percentile(latencies, 0.5), percentile(latencies, 0.99),
                percentile(latencies, 1.0));
}

// The shortest hold that still shows as two edges (each count +1), 10 times
// out of 10.
void checkShortestPulse()
{
    group("gadget: the shortest pulse seen");
    int64_t shortest = -1;
    int joined = 0;
    for (int64_t hold : {1000, 500, 200, 100, 50, 20, 0}) {
        int split = 0;
        for (int i = 0; i < 10; ++i) {
            pulse(hold);
            sleepMs(10);
            const std::vector<rscom_edge> dcd = ofLine(takeEdges(), RSCOM_LINE_DCD);
            if (dcd.size() == 2 && dcd[1].count == dcd[0].count + 1) ++split;
            if (dcd.size() == 1 && dcd[0].level == 0) ++joined; // a count jump of two
        }
        if (split < 10) break;
        shortest = hold;
    }
    std::printf("bench edges: shortest pulse seen as two edges 10 times out of 10: %lld us "
                "(pulses told as one jump of two: %d)\n",
                static_cast<long long>(shortest), joined);
    check("gadget: a 1 ms pulse is always two edges", shortest >= 0 && shortest <= 1000);
}

void checkIdleCost()
{
    group("gadget: an idle held port");
    rusage before{}, after{};
    getrusage(RUSAGE_SELF, &before);
    const double t0 = seconds();
    sleepMs(3000);
    getrusage(RUSAGE_SELF, &after);
    const double wall = seconds() - t0;
    const auto cpu = [](const rusage &r) {
        return static_cast<double>(r.ru_utime.tv_sec + r.ru_stime.tv_sec) * 1e3 +
               static_cast<double>(r.ru_utime.tv_usec + r.ru_stime.tv_usec) / 1e3;
    };
    const double ms = cpu(after) - cpu(before);
    std::printf("bench edges: CPU of a held idle port (ttyACM0) over %.1f s: %.2f ms\n", wall, ms);
    check("gadget: a held idle port costs no CPU", ms < 5, std::to_string(ms) + " ms");
}

// CLOSECOM while the thread waits: the device is free for another program at
// once, and no thread is left.
void checkClose()
{
    group("gadget: CLOSECOM while waiting");
    const int held = threads();
    const int64_t t0 = micros();
    CLOSECOM();
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
        if (threads() == held - 1) {
            noThread = micros() - t0;
            break;
        }
    }
    if (fd >= 0) ::close(fd);
    check("gadget: another open and flock succeed within 100 ms of CLOSECOM", freed >= 0,
          "still held after 100 ms");
    check("gadget: the waiting thread is gone within 100 ms", noThread >= 0,
          std::to_string(threads()) + " threads, " + std::to_string(held) + " while held");
    std::printf("bench edges: CLOSECOM to the device free: %.2f ms, to its thread gone: %.2f ms\n",
                static_cast<double>(freed) / 1000.0, static_cast<double>(noThread) / 1000.0);
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
    check("gadget: a fresh record counts from one", first.size() == 2 && first[1].count == 2,
          describe(first));

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
          later.size() == 2 && later[0].count == 3 && later[1].count == 4, describe(later));
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
