// Who else has a device: the kernel's consoles, and other programs that hold
// a port, with a lock or without one. Told from /proc and the lock folders,
// never by opening the device.
#pragma once

#include <optional>
#include <string>
#include <sys/stat.h>

namespace rscom
{

// Whether the character device is a system console: /dev/console, or a
// device that /proc/consoles lists.
bool isSystemConsole(dev_t device);

struct Holder {
    std::string program; // its name, when it can be seen
    std::string pid;
};

// Another process that holds the device `node` (found at `path`, kernel name
// `name`): a flock on the node in /proc/locks, a UUCP lock file LCK..name of
// a live process, or an open descriptor on the device in a /proc entry we
// may read. This process never counts.
std::optional<Holder> otherHolder(const std::string &path, const struct stat &node,
                                  const std::string &name);

} // namespace rscom
