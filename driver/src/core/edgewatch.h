// How a real port on a POSIX system tells its input-line changes: each
// system's file says what it can (linux/edgewatch.cpp; elsewhere nothing).
#pragma once

#include "core/edgerecord.h"

#include <array>
#include <functional>
#include <memory>

namespace rscom
{

class EdgeWatch
{
public:
    virtual ~EdgeWatch() = default;
    // What a read of the lines just saw, DCD, DSR, CTS, RI: a change it shows
    // is told at once, with no system call of its own.
    virtual void seen(const std::array<bool, 4> &levels) = 0;
    // At EDGES: changes counted but not yet told, and whether the port tells
    // its changes at all.
    virtual EdgeState update() = 0;
    // Ends the watch before the port is closed. True when it could not: the
    // watch then keeps the descriptor and closes it when it is done, and the
    // port must not close it.
    virtual bool stop() = 0;
};

// The system calls a watch makes on a port, each returning 0 or an errno
// value: TIOCMIWAIT, TIOCGICOUNT and TIOCMGET on Linux. Tests give their own.
struct ModemCalls {
    std::function<int(int fd)> wait;
    std::function<int(int fd, std::array<uint32_t, 4> &counts)> counts;
    std::function<int(int fd, std::array<bool, 4> &levels)> levels;
};
ModemCalls kernelCalls();

// Starts telling the changes of the open port `fd` to `record`; nullptr when
// this system or this port cannot tell them. The port's descriptor stays
// open until stop().
std::unique_ptr<EdgeWatch> watchEdges(int fd, std::shared_ptr<EdgeRecord> record,
                                      ModemCalls calls = kernelCalls());

} // namespace rscom
