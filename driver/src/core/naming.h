// Which port is COMn: the RSCOM_COMn variable where it is set, the
// platform's own answer where it is not.
#pragma once

#include "core/device.h"

#include <optional>
#include <vector>

namespace rscom
{

// Where RSCOM_COMn leads, or nothing when it is not set: "loopback",
// "generator", "nullmodem", "none" (or empty), or a device.
std::optional<Target> mappedTarget(int port);

// Every port, 1 to 255, that an RSCOM_COMn variable names.
std::vector<int> mappedPorts();

// COMn as every entry sees it.
Target resolveTarget(int port);

} // namespace rscom
