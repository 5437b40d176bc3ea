// What each platform's files answer for the driver: where COMn leads when no
// RSCOM_COMn says, what can be told of a device without opening it, and how
// a device is opened. One set of files per platform, chosen by the build.
#pragma once

#include "core/device.h"
#include "core/portstatus.h"

#include <memory>
#include <string>

namespace rscom
{

// COMn when RSCOM_COMn is not set.
Target defaultTarget(int port);

// The device an RSCOM_COMn value names (a path; on Windows a port name).
Target namedTarget(const std::string &name);

// What can be told of a device target now without opening it, changing its
// settings or moving a line.
PortStatus inspect(const Target &target);

// Opens the device behind a device target; nullptr when it cannot be opened,
// leaving nothing open and the port as it was.
std::unique_ptr<Device> openDevice(const Target &target);

} // namespace rscom
