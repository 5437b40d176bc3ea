// floor INTERVAL_MS SECONDS
//
// The best a poller can do here: sleeps to absolute deadlines one interval
// apart and at each makes the monitor's four line reads through the real
// driver (COM1, which the caller maps to a virtual port). Prints
// "periods median p99 max mean_period cpu_percent": period figures in
// milliseconds as tickstats prints them, CPU time as a percentage of one core
// over the wall time.
#include "tickstats.h"

#include <rscom.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <vector>

#include <sys/resource.h>

namespace
{

std::int64_t nanoseconds(const timespec &t)
{
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

double cpuSeconds()
{
    rusage usage{};
    ::getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: floor INTERVAL_MS SECONDS\n");
        return 2;
    }
    const double intervalMs = std::atof(argv[1]);
    const double seconds = std::atof(argv[2]);
    if (intervalMs <= 0 || seconds <= 0) return 2;
    if (OPENCOM("COM1,1200,N,8,1") == 0) {
        std::fprintf(stderr, "floor: COM1 does not open (map RSCOM_COM1=loopback)\n");
        return 1;
    }
    DTR(1);

    const auto interval = static_cast<std::int64_t>(intervalMs * 1e6);
    const auto ticks = static_cast<std::size_t>(seconds * 1000.0 / intervalMs);
    std::vector<std::int64_t> times;
    times.reserve(ticks);
    int sink = 0;

    const double cpuStart = cpuSeconds();
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const std::int64_t wallStart = nanoseconds(now);
    std::int64_t deadline = wallStart;
    for (std::size_t i = 0; i < ticks; ++i) {
        deadline += interval;
        const timespec at{static_cast<time_t>(deadline / 1000000000),
                          static_cast<long>(deadline % 1000000000)};
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0) {
        }
        times.push_back(std::chrono::duration_cast<std::chrono::nanoseconds>(
                            std::chrono::steady_clock::now().time_since_epoch())
                            .count());
        sink += DCD() + DSR() + CTS() + RI();
    }
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    const double wall = static_cast<double>(nanoseconds(now) - wallStart) / 1e9;
    const double cpu = cpuSeconds() - cpuStart;

    if (sink != static_cast<int>(2 * ticks)) {
        std::fprintf(stderr, "floor: the virtual port did not loop DTR back\n");
        return 1;
    }
    const TickStats s = tickStats(times.data(), times.size(), intervalMs);
    std::printf("%zu %.4f %.4f %.4f %.4f %.3f\n", s.periods, s.medianMs, s.p99Ms, s.maxMs,
                s.meanPeriodMs, 100.0 * cpu / wall);
    return 0;
}
