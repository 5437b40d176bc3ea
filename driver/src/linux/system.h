// Where the Linux driver looks at the system, and how it reads what it finds
// there. Every system path goes through systemPaths(), so that a test can
// point the driver at a tree of its own.
#pragma once

#include <string>

namespace rscom
{

struct SystemPaths {
    // Put before every system path: /sys, /proc, /dev, /run/lock, /var/lock.
    // Empty for the system itself.
    std::string root;
    // Where the COM numbers are remembered. Empty: $XDG_STATE_HOME/rscom, or
    // ~/.local/state/rscom.
    std::string stateFolder;

    std::string sys() const { return root + "/sys"; }
    std::string proc() const { return root + "/proc"; }
    std::string dev() const { return root + "/dev"; }
};

SystemPaths &systemPaths();

// The first line of a small file such as a sysfs attribute, without its line
// end; empty when it cannot be read.
std::string readAttribute(const std::string &path);
// A whole small file; false when it cannot be read (errno tells why).
bool readWholeFile(const std::string &path, std::string &text);
// Where a symbolic link leads, as written; empty when it is none.
std::string linkTarget(const std::string &path);
// The path with every link resolved; empty when it does not exist.
std::string canonicalPath(const std::string &path);
bool exists(const std::string &path);
// "/a/b/c" -> "c"
std::string baseName(const std::string &path);

} // namespace rscom
