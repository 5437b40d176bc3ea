// POSIX systems other than Linux: no counters and no wait for line changes
// that the driver knows of, so a real port does not tell its changes.
#include "core/edgewatch.h"

namespace rscom
{

ModemCalls kernelCalls()
{
    return {};
}

std::unique_ptr<EdgeWatch> watchEdges(int, std::shared_ptr<EdgeRecord>, ModemCalls)
{
    return nullptr;
}

} // namespace rscom
