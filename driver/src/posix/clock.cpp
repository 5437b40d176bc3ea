// The edges' clock on Linux and macOS: CLOCK_MONOTONIC, in microseconds.
#include "core/edgerecord.h"

#include <time.h>

namespace rscom
{

int64_t edgeClock()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

} // namespace rscom
