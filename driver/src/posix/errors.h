// The one place on POSIX systems where a system error code becomes the
// driver's result.
#pragma once

#include "core/portstatus.h"

namespace rscom
{

// What an errno from looking at or opening a device means for COMSTATUS and
// OPENCOM.
PortStatus statusAfter(int error, PortInfo info);

// The refusal an errno makes, in words with the system's own (strerror).
std::string reasonAfter(int error);

} // namespace rscom
