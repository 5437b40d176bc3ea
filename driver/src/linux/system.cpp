#include "linux/system.h"

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rscom
{

SystemPaths &systemPaths()
{
    static SystemPaths paths;
    return paths;
}

bool readWholeFile(const std::string &path, std::string &text)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    text.clear();
    char buffer[4096];
    ssize_t n = 0;
    // Small files only: a sysfs attribute, /proc/locks, the numbers' file.
    while ((n = ::read(fd, buffer, sizeof buffer)) > 0 && text.size() < (1u << 20))
        text.append(buffer, static_cast<size_t>(n));
    ::close(fd);
    return n >= 0;
}

std::string readAttribute(const std::string &path)
{
    std::string text;
    if (!readWholeFile(path, text)) return {};
    const size_t end = text.find('\n');
    if (end != std::string::npos) text.resize(end);
    return text;
}

std::string linkTarget(const std::string &path)
{
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), buffer, sizeof buffer);
    if (n <= 0 || n == static_cast<ssize_t>(sizeof buffer)) return {};
    return std::string(buffer, static_cast<size_t>(n));
}

std::string canonicalPath(const std::string &path)
{
    char *resolved = ::realpath(path.c_str(), nullptr);
    if (resolved == nullptr) return {};
    std::string result = resolved;
    std::free(resolved);
    return result;
}

bool exists(const std::string &path)
{
    struct stat st {
    };
    return ::stat(path.c_str(), &st) == 0;
}

std::string baseName(const std::string &path)
{
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

} // namespace rscom
