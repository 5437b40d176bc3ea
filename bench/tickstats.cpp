// tickstats FILE FIRST END INTERVAL_MS
//
// Period statistics of the ticks FIRST .. END-1 of a tick file: prints
// "periods median p99 max mean_period", all in milliseconds.
#include "tickstats.h"
#include "tickfile.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

int main(int argc, char **argv)
{
    if (argc != 5) {
        std::fprintf(stderr, "usage: tickstats FILE FIRST END INTERVAL_MS\n");
        return 2;
    }
    std::FILE *file = std::fopen(argv[1], "rb");
    if (file == nullptr) {
        std::perror(argv[1]);
        return 1;
    }
    TickFile::Header header{};
    if (std::fread(&header, sizeof header, 1, file) != 1) {
        std::fprintf(stderr, "%s: no header\n", argv[1]);
        return 1;
    }
    const std::uint64_t first = std::strtoull(argv[2], nullptr, 10);
    std::uint64_t end = std::strtoull(argv[3], nullptr, 10);
    if (end > header.count) end = header.count;
    if (first >= end) {
        std::fprintf(stderr, "no ticks in %s from %llu to %llu\n", argv[1],
                     static_cast<unsigned long long>(first), static_cast<unsigned long long>(end));
        return 1;
    }
    std::vector<std::int64_t> times(end - first);
    const long at = static_cast<long>(sizeof header + first * sizeof(std::int64_t));
    if (std::fseek(file, at, SEEK_SET) != 0 ||
        std::fread(times.data(), sizeof(std::int64_t), times.size(), file) != times.size()) {
        std::fprintf(stderr, "%s: short file\n", argv[1]);
        return 1;
    }
    std::fclose(file);
    const TickStats s = tickStats(times.data(), times.size(), std::atof(argv[4]));
    std::printf("%zu %.4f %.4f %.4f %.4f\n", s.periods, s.medianMs, s.p99Ms, s.maxMs,
                s.meanPeriodMs);
    return 0;
}
