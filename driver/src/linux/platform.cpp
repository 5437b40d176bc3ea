// Linux: COM numbers for the serial devices sysfs shows, remembered in the
// user's state folder; what a device's state is, told from sysfs and /proc;
// real ports through libserialport, never opened when that would disturb a
// console or another program.
#include "core/platform.h"
#include "core/diagnostics.h"
#include "linux/holders.h"
#include "linux/numbers.h"
#include "linux/sysfs.h"
#include "linux/system.h"
#include "posix/errors.h"
#include "posix/serial.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rscom
{

namespace
{

// Every answer but "available" is a refusal, told when asked.
PortStatus status(Availability code, PortInfo info, const std::string &system = {})
{
    if (code != Availability::Available) explain(reasonOf({code, info}, system));
    return {code, std::move(info)};
}

} // namespace

PortStatus inspect(const Target &target)
{
    PortInfo info;
    info.path = target.path;
    struct stat node {
    };
    if (::stat(target.path.c_str(), &node) != 0) {
        const int error = errno;
        return status(statusAfter(error, {}).code, info, std::strerror(error));
    }
    if (!S_ISCHR(node.st_mode)) return status(Availability::NotSerial, info);

    const std::optional<TtyDevice> tty = serialDeviceOf(node.st_rdev);
    if (tty) {
        info.product = tty->product;
        info.maker = tty->maker;
        info.serial = tty->serial;
    }
    if (isSystemConsole(node.st_rdev) || (tty && tty->console))
        return status(Availability::Console, info);
    // Without sysfs nothing tells a serial line from another device before
    // opening it; the open decides then.
    if ((!tty || tty->emptySlot) && sysfsKnowsDevices())
        return status(Availability::NotSerial, info);

    if (::faccessat(AT_FDCWD, target.path.c_str(), R_OK | W_OK, AT_EACCESS) != 0) {
        // The group is worth joining only when it may read and write.
        const group *owner = ::getgrgid(node.st_gid);
        if (owner != nullptr && (node.st_mode & S_IRGRP) && (node.st_mode & S_IWGRP))
            info.group = owner->gr_name;
        return status(Availability::NoPermission, info);
    }
    const std::string name = tty ? tty->name : baseName(target.path);
    if (const std::optional<Holder> holder = otherHolder(target.path, node, name)) {
        info.program = holder->program;
        info.pid = holder->pid;
        return status(Availability::InUse, info);
    }
    return status(Availability::Available, info);
}

Target defaultTarget(int port)
{
    static DeviceNumbers numbering;
    const std::map<int, FoundDevice> numbers = numbering.numbers();
    const auto it = numbers.find(port);
    if (it != numbers.end()) return {Target::Kind::Device, it->second.path, it->second.identity};
    // The number of a device that is out: still that device's port, with no
    // path to open until it is back.
    const std::string absent = numbering.absentAt(port);
    if (!absent.empty()) return {Target::Kind::Device, {}, absent};
    return {};
}

Target namedTarget(const std::string &name)
{
    return {Target::Kind::Device, name, name};
}

std::unique_ptr<Device> openDevice(const Target &target)
{
    // Decided before anything opens the port: an open raises DTR and RTS,
    // and libserialport's applies its settings. inspect tells why not. Asked
    // again once the port's lock is ours, it sees a program that opened the
    // port in between, before any setting changes.
    if (inspect(target).code != Availability::Available) return nullptr;
    return openSerialPort(target.path,
                          [&target] { return inspect(target).code == Availability::Available; });
}

} // namespace rscom
