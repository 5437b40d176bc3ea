#include "holders_linux.h"

#include "system_linux.h"

#include <cstdint>
#include <cstdio>
#include <dirent.h>
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

// An open descriptor on the device in another process. Only links into /dev
// are looked at, so that nothing on a slow filesystem is touched.
std::optional<Holder> descriptorHolder(const std::string &path, const struct stat &node)
{
    const std::string proc = systemPaths().proc();
    const std::string devices = systemPaths().dev() + "/";
    DIR *processes = ::opendir(proc.c_str());
    if (processes == nullptr) return std::nullopt;
    std::optional<Holder> found;
    while (!found) {
        const dirent *entry = ::readdir(processes);
        if (entry == nullptr) break;
        long pid = 0;
        if (!processNumber(entry->d_name, pid) || pid == static_cast<long>(::getpid())) continue;
        const std::string fdFolder = proc + "/" + entry->d_name + "/fd";
        DIR *fds = ::opendir(fdFolder.c_str());
        if (fds == nullptr) continue; // gone, or not ours to read
        while (const dirent *fd = ::readdir(fds)) {
            if (fd->d_name[0] == '.') continue;
            const std::string link = fdFolder + "/" + fd->d_name;
            const std::string target = linkTarget(link);
            if (target.compare(0, devices.size(), devices) != 0 && target != path) continue;
            struct stat st {
            };
            if (::stat(link.c_str(), &st) == 0 && S_ISCHR(st.st_mode) &&
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
    return descriptorHolder(path, node);
}

} // namespace rscom
