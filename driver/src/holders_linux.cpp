#include "holders_linux.h"

#include "system_linux.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <sstream>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace rscom
{

namespace
{

bool processNumber(const std::string &text, long &pid)
{
    if (text.empty() || text.size() > 9) return false;
    pid = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        pid = pid * 10 + (c - '0');
    }
    return pid > 0;
}

// A live process other than this one, as /proc shows it.
std::optional<Holder> process(long pid)
{
    if (pid <= 0 || pid == static_cast<long>(::getpid())) return std::nullopt;
    const std::string folder = systemPaths().proc() + "/" + std::to_string(pid);
    if (!exists(folder)) return std::nullopt;
    return Holder{readAttribute(folder + "/comm"), std::to_string(pid)};
}

// "1: FLOCK  ADVISORY  WRITE 82 00:05:87 0 EOF": a lock by process 82 on
// inode 87 of the filesystem 00:05 (hexadecimal). Waiting locks ("->") and
// open-file-description locks (pid -1) name no holder.
std::optional<Holder> lockHolder(const struct stat &node)
{
    std::string text;
    if (!readWholeFile(systemPaths().proc() + "/locks", text)) return std::nullopt;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::vector<std::string> f;
        for (std::string field; fields >> field;)
            f.push_back(field);
        if (f.size() < 6 || f[1] == "->") continue;
        unsigned devMajor = 0, devMinor = 0;
        unsigned long long inode = 0;
        char extra = 0;
        if (std::sscanf(f[5].c_str(), "%x:%x:%llu%c", &devMajor, &devMinor, &inode, &extra) != 3)
            continue;
        if (devMajor != major(node.st_dev) || devMinor != minor(node.st_dev) ||
            inode != static_cast<unsigned long long>(node.st_ino))
            continue;
        long pid = 0;
        if (!processNumber(f[4], pid)) continue;
        if (std::optional<Holder> holder = process(pid)) return holder;
    }
    return std::nullopt;
}

// LCK..ttyUSB0 in /run/lock or /var/lock: the pid as text ("%10d\n"), or
// four bytes as the oldest programs write it.
std::optional<Holder> lockFileHolder(const std::string &name)
{
    for (const char *folder : {"/run/lock/LCK..", "/var/lock/LCK.."}) {
        std::string text;
        if (!readWholeFile(systemPaths().root + folder + name, text)) continue;
        long pid = 0;
        if (text.size() == 4 && text.find_first_of("0123456789") == std::string::npos) {
            std::int32_t binary = 0;
            text.copy(reinterpret_cast<char *>(&binary), 4);
            pid = binary;
        } else {
            const size_t first = text.find_first_not_of(" \n");
            const size_t last = text.find_last_not_of(" \n");
            if (first == std::string::npos ||
                !processNumber(text.substr(first, last - first + 1), pid))
                continue;
        }
        if (std::optional<Holder> holder = process(pid)) return holder;
    }
    return std::nullopt;
}

bool endsWith(const std::string &text, const std::string &end)
{
    return text.size() > end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// An open descriptor on the device in another process, among those this
// user may see. A descriptor's link names the path it was opened by, links
// resolved: one on the device names its node, by the path asked about or by
// the device's kernel name, and only those are looked at further. One
// readlink a descriptor, the costly part of COMSTATUS on a machine with many
// processes; a readlink never waits for a network filesystem, as a stat
// might.
std::optional<Holder> descriptorHolder(const std::string &path, const struct stat &node,
                                       const std::string &name)
{
    DIR *processes = ::opendir(systemPaths().proc().c_str());
    if (processes == nullptr) return std::nullopt;
    const long self = static_cast<long>(::getpid());
    const std::string ending = "/" + name;
    std::optional<Holder> found;
    char target[4096];
    while (!found) {
        const dirent *entry = ::readdir(processes);
        if (entry == nullptr) break;
        long pid = 0;
        if (!processNumber(entry->d_name, pid) || pid == self) continue;
        const std::string folder = entry->d_name + std::string("/fd");
        const int fdFolder =
            ::openat(::dirfd(processes), folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fdFolder < 0) continue; // gone, or not ours to see
        DIR *fds = ::fdopendir(fdFolder);
        if (fds == nullptr) {
            ::close(fdFolder);
            continue;
        }
        while (const dirent *fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.') continue;
            const ssize_t n = ::readlinkat(fdFolder, fd->d_name, target, sizeof target - 1);
            if (n < 0 && errno == EACCES) break; // none of this process's are ours to see
            if (n <= 0) continue;
            const std::string link(target, static_cast<size_t>(n));
            if (link != path && !endsWith(link, ending)) continue;
            struct stat st {
            };
            if (::fstatat(fdFolder, fd->d_name, &st, 0) == 0 && S_ISCHR(st.st_mode) &&
                st.st_rdev == node.st_rdev) {
                found = process(pid);
                break;
            }
        }
        ::closedir(fds);
    }
    ::closedir(processes);
    return found;
}

} // namespace

bool isSystemConsole(dev_t device)
{
    if (major(device) == 5 && minor(device) == 1) return true; // /dev/console
    std::string text;
    if (!readWholeFile(systemPaths().proc() + "/consoles", text)) return false;
    // "ttyS0  -W- (EC p a)  4:64": the device number is the last field.
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        const size_t last = line.find_last_of(" \t");
        unsigned devMajor = 0, devMinor = 0;
        char extra = 0;
        if (last == std::string::npos ||
            std::sscanf(line.c_str() + last + 1, "%u:%u%c", &devMajor, &devMinor, &extra) != 2)
            continue;
        if (devMajor == major(device) && devMinor == minor(device)) return true;
    }
    return false;
}

std::optional<Holder> otherHolder(const std::string &path, const struct stat &node,
                                  const std::string &name)
{
    if (std::optional<Holder> holder = lockHolder(node)) return holder;
    if (std::optional<Holder> holder = lockFileHolder(name)) return holder;
    return descriptorHolder(path, node, name);
}

} // namespace rscom
