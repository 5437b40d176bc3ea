// How far tick periods stray from the interval.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <vector>

struct TickStats {
    std::size_t periods = 0;
    double medianMs = 0; // of |period - interval|
    double p99Ms = 0;
    double maxMs = 0;
    double meanPeriodMs = 0;
};

// times: steady-clock nanoseconds of consecutive ticks.
inline TickStats tickStats(const std::int64_t *times, std::size_t count, double intervalMs)
{
    TickStats s;
    if (count < 2) return s;
    const auto interval = static_cast<std::int64_t>(intervalMs * 1e6);
    std::vector<std::int64_t> off;
    off.reserve(count - 1);
    for (std::size_t i = 1; i < count; ++i)
        off.push_back(std::llabs(times[i] - times[i - 1] - interval));
    std::sort(off.begin(), off.end());
    const std::size_t n = off.size();
    // Nearest rank.
    const auto rank = [&](double p) {
        const auto r = static_cast<std::size_t>(p * static_cast<double>(n) + 0.999999);
        return off[std::min(n, std::max<std::size_t>(r, 1)) - 1];
    };
    s.periods = n;
    s.medianMs = static_cast<double>(rank(0.5)) / 1e6;
    s.p99Ms = static_cast<double>(rank(0.99)) / 1e6;
    s.maxMs = static_cast<double>(off.back()) / 1e6;
    s.meanPeriodMs =
        static_cast<double>(times[count - 1] - times[0]) / 1e6 / static_cast<double>(n);
    return s;
}
