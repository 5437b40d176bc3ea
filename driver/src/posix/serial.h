// Real ports on POSIX systems: libserialport, plus what it does not do (an
// up-front lock, exclusive mode, close-on-exec, clearing hardware flow
// control).
#pragma once

#include "core/device.h"

#include <functional>
#include <memory>
#include <string>

namespace rscom
{

// Whether no other program holds the port, asked again once the port's lock
// is ours; it tells why when it answers false.
using HolderCheck = std::function<bool()>;

// Opens the serial port at `path` with libserialport, claimed for this
// process alone. nullptr when it cannot be opened, another program holds its
// lock, or `stillFree` (when given) answers false; then nothing is left open,
// and the port's settings are as they were. The open that takes the lock
// happens before `stillFree` is asked, and may raise DTR and RTS: a program
// that opened the port without a lock after the caller's own check may see
// them move (see rscom.h, "Opening a device"). The lock is held from that
// open until the port is closed.
std::unique_ptr<Device> openSerialPort(const std::string &path, const HolderCheck &stillFree = {});

// Close-on-exec, a non-blocking exclusive lock and TIOCEXCL on an open
// descriptor: false when another program holds the port.
bool claimDescriptor(int fd);

} // namespace rscom
