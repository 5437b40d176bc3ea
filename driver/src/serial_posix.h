// Real ports on POSIX systems: libserialport, plus what it does not do (an
// up-front lock, exclusive mode, close-on-exec, clearing hardware flow
// control).
#pragma once

#include "device.h"

#include <memory>
#include <string>

namespace rscom
{

// Opens the serial port at `path` with libserialport, claimed for this
// process alone. nullptr when it cannot be opened or another program holds
// its lock; then nothing is left open, and a port that another program holds
// is left exactly as it is.
std::unique_ptr<Device> openSerialPort(const std::string &path);

// Close-on-exec, a non-blocking exclusive lock and TIOCEXCL on an open
// descriptor: false when another program holds the port.
bool claimDescriptor(int fd);

} // namespace rscom
