// This process's open descriptors, for the tests that make sure nothing is
// left open and see what a port's holder has: POSIX systems only.
#pragma once

#include <cstdlib>
#include <dirent.h>
#include <map>
#include <string>
#include <unistd.h>

// Every open descriptor of this process and what it leads to (a path, or
// "pipe:[1234]"; "" where the system does not tell), as /proc/self/fd, or
// elsewhere /dev/fd, lists them, without the listing's own.
inline std::map<int, std::string> openDescriptors()
{
    std::map<int, std::string> open;
    const char *folder = "/proc/self/fd";
    DIR *dir = ::opendir(folder);
    if (dir == nullptr) dir = ::opendir(folder = "/dev/fd");
    if (dir == nullptr) return open;
    const int own = ::dirfd(dir);
    while (dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] == '.') continue;
        const int fd = std::atoi(entry->d_name);
        if (fd == own) continue;
        char target[4096];
        const std::string link = std::string(folder) + "/" + entry->d_name;
        const ssize_t n = ::readlink(link.c_str(), target, sizeof target - 1);
        open[fd] = n > 0 ? std::string(target, static_cast<size_t>(n)) : std::string();
    }
    ::closedir(dir);
    return open;
}
