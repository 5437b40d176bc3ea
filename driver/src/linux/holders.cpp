#include "linux/holders.h"

#include "core/decimal.h"
#include "linux/sysfs.h"
#include "linux/system.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <iterator>
#include <limits>
#include <sstream>
#include <sys/inotify.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace rscom
{

namespace
{

bool processNumber(const std::string &text, long &pid)
{
    const std::optional<std::int64_t> number = decimal(text, std::numeric_limits<pid_t>::max());
    pid = number ? static_cast<long>(*number) : 0;
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

// The holders of the serial devices, found in one look through the open
// descriptors of every process this user may see (all of them for root), and
// kept while the kernel tells that nobody opened or closed one of those
// devices: an inotify watch on each device node sees every program's open
// and close of it (IN_OPEN, IN_CLOSE_*), whoever the program is. A kept
// holder is checked at every answer, one fstatat of its descriptor, so a
// descriptor handed on to a child that outlived its parent is looked for
// again. Without inotify every answer looks afresh.
//
// A descriptor's link names the path it was opened by, links resolved: one
// on a device names its node by the device's kernel name, and only those are
// looked at further. One readlink a descriptor is the costly part of a look
// on a machine with many processes; a readlink never waits for a network
// filesystem, as a stat might.
class DescriptorHolders
{
public:
    ~DescriptorHolders() { reset(); }

    std::optional<Holder> holderOf(const std::string &path, const struct stat &node,
                                   const std::string &name);

private:
    struct Watched {
        dev_t device; // the character device
        dev_t nodeFs; // the node's filesystem and inode, as watched
        ino_t nodeInode;
        int watch;            // inotify's number, -1 when it cannot be watched
        std::string name;     // kernel name (ttyUSB0), and the node's base name
        std::string nodeName; // of the path asked about, when another
    };
    struct Found {
        Holder holder;
        long pid;
        std::string fd;
    };

    void reset();
    bool start();
    void watch(const std::string &path, const struct stat &node, const std::string &name);
    void readEvents();
    void look();
    bool stillHolds(const Found &found, dev_t device) const;

    int m_inotify = -1;
    pid_t m_owner = 0;    // the process the watches belong to: a child makes its own
    std::string m_root;   // the system tree they were made for
    bool m_fresh = false; // m_found is what the processes hold now
    std::vector<Watched> m_watched;
    std::vector<std::pair<dev_t, Found>> m_found;
};

void DescriptorHolders::reset()
{
    if (m_inotify >= 0) ::close(m_inotify);
    m_inotify = -1;
    m_owner = 0;
    m_fresh = false;
    m_watched.clear();
    m_found.clear();
}

// Watches for the devices sysfs knows, all of them at once, so that the first
// look finds the holders of every one.
bool DescriptorHolders::start()
{
    if (m_owner == ::getpid() && m_root == systemPaths().root) return false;
    // An inotify instance inherited from a parent is shared with it: reading
    // its events here would take them from the parent. This process gets its
    // own.
    reset();
    m_owner = ::getpid();
    m_root = systemPaths().root;
    m_inotify = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    for (const TtyDevice &tty : findSerialDevices()) {
        const std::string path = systemPaths().dev() + "/" + tty.name;
        struct stat st {
        };
        if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) watch(path, st, tty.name);
    }
    return true;
}

void DescriptorHolders::watch(const std::string &path, const struct stat &node,
                              const std::string &name)
{
    int number = -1;
    if (m_inotify >= 0) {
        number = ::inotify_add_watch(m_inotify, path.c_str(),
                                     IN_OPEN | IN_CLOSE | IN_DELETE_SELF | IN_MOVE_SELF);
    }
    const std::string base = baseName(path);
    m_watched.push_back(
        {node.st_rdev, node.st_dev, node.st_ino, number, name, base != name ? base : ""});
    m_fresh = false;
}

// Any open or close of a watched node, a node gone, or events lost, make the
// next answer look again.
void DescriptorHolders::readEvents()
{
    if (m_inotify < 0) {
        m_fresh = false;
        return;
    }
    alignas(inotify_event) char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(m_inotify, buffer, sizeof buffer);
        if (n <= 0) break;
        m_fresh = false;
        for (ssize_t at = 0; at < n;) {
            const auto *event = reinterpret_cast<const inotify_event *>(buffer + at);
            if (event->mask & IN_IGNORED) {
                // The watch is gone with its node: watched again when asked.
                for (Watched &w : m_watched) {
                    if (w.watch == event->wd) w.nodeInode = 0;
                }
            }
            at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
        }
    }
}

bool DescriptorHolders::stillHolds(const Found &found, dev_t device) const
{
    const std::string link =
        systemPaths().proc() + "/" + std::to_string(found.pid) + "/fd/" + found.fd;
    struct stat st {
    };
    return ::stat(link.c_str(), &st) == 0 && S_ISCHR(st.st_mode) && st.st_rdev == device;
}

void DescriptorHolders::look()
{
    m_found.clear();
    // Events from here on belong to the next answer.
    m_fresh = m_inotify >= 0;
    DIR *processes = ::opendir(systemPaths().proc().c_str());
    if (processes == nullptr) {
        m_fresh = false;
        return;
    }
    const long self = static_cast<long>(::getpid());
    char target[4096];
    while (const dirent *entry = ::readdir(processes)) {
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
            const std::string base = baseName(std::string(target, static_cast<size_t>(n)));
            const bool named =
                std::any_of(m_watched.begin(), m_watched.end(), [&](const Watched &w) {
                    return base == w.name || (!w.nodeName.empty() && base == w.nodeName);
                });
            if (!named) continue;
            struct stat st {
            };
            if (::fstatat(fdFolder, fd->d_name, &st, 0) != 0 || !S_ISCHR(st.st_mode)) continue;
            const bool known =
                std::any_of(m_found.begin(), m_found.end(), [&](const std::pair<dev_t, Found> &f) {
                    return f.first == st.st_rdev;
                });
            if (known) continue;
            if (std::optional<Holder> holder = process(pid))
                m_found.push_back({st.st_rdev, Found{*holder, pid, fd->d_name}});
        }
        ::closedir(fds);
    }
    ::closedir(processes);
}

std::optional<Holder> DescriptorHolders::holderOf(const std::string &path, const struct stat &node,
                                                  const std::string &name)
{
    start();
    readEvents();
    const auto same = [&](const Watched &w) {
        return w.device == node.st_rdev && w.nodeFs == node.st_dev && w.nodeInode == node.st_ino &&
               (w.name == name || w.nodeName == baseName(path));
    };
    auto watched = std::find_if(m_watched.begin(), m_watched.end(), same);
    if (watched == m_watched.end()) {
        watch(path, node, name);
        watched = std::prev(m_watched.end());
    }
    // A node inotify may not watch (one this user may not read) is looked
    // for afresh at every answer.
    if (watched->watch < 0) m_fresh = false;
    const auto found = [&] {
        return std::find_if(m_found.begin(), m_found.end(), [&](const std::pair<dev_t, Found> &f) {
            return f.first == node.st_rdev;
        });
    };
    if (m_fresh) {
        const auto it = found();
        if (it == m_found.end()) return std::nullopt;
        if (stillHolds(it->second, node.st_rdev)) return it->second.holder;
    }
    look();
    const auto it = found();
    if (it == m_found.end()) return std::nullopt;
    return it->second.holder;
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
    static DescriptorHolders descriptors;
    return descriptors.holderOf(path, node, name);
}

} // namespace rscom
