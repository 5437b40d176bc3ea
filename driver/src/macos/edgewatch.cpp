// POSIX systems other than Linux: no counters and no wait for line changes
// that the driver knows of, so a real port does not tell its changes.
#include "core/edgewatch.h"

#include <time.h>

namespace rscom
{

int64_t edgeClock()
{
    timespec now{};
    ::clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

ModemCalls kernelCalls()
{
    return {};
}

std::unique_ptr<EdgeWatch> watchEdges(int, std::shared_ptr<EdgeRecord>, ModemCalls)
{
    return nullptr;
}

} // namespace rscom
