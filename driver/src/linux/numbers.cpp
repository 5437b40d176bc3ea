#include "linux/numbers.h"

#include "core/naming.h"
#include "linux/sysfs.h"
#include "linux/system.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace rscom
{

namespace
{

std::string stateFolder()
{
    if (!systemPaths().stateFolder.empty()) return systemPaths().stateFolder;
    const char *state = std::getenv("XDG_STATE_HOME");
    if (state != nullptr && state[0] == '/') return std::string(state) + "/rscom";
    const char *home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        const passwd *user = ::getpwuid(::getuid());
        home = user != nullptr ? user->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] != '/') return {};
    return std::string(home) + "/.local/state/rscom";
}

// mkdir -p, private to the user.
bool makeFolder(const std::string &folder)
{
    if (folder.empty()) return false;
    for (size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
        if (slash == std::string::npos) return true;
    }
}

// The numbers' file in the user's state folder, locked with flock.
class StateFile final : public NumbersFile
{
public:
    StateFile() : m_folder(stateFolder()) {}
    ~StateFile() override
    {
        if (m_lock >= 0) ::close(m_lock);
    }
    StateFile(const StateFile &) = delete;
    StateFile &operator=(const StateFile &) = delete;

    bool read(std::string &text) override
    {
        return !m_folder.empty() && readWholeFile(path(), text);
    }

    bool lock() override
    {
        if (m_lock >= 0) return true;
        if (!makeFolder(m_folder)) return false;
        m_lock = ::open((m_folder + "/ports.lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
        return m_lock >= 0 && ::flock(m_lock, LOCK_EX) == 0;
    }

    // Renamed over the old one.
    void write(const std::string &text) override
    {
        const std::string temporary = path() + "." + std::to_string(::getpid());
        const int fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) return;
        const bool written =
            ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
        if (::close(fd) != 0 || !written || ::rename(temporary.c_str(), path().c_str()) != 0)
            ::unlink(temporary.c_str());
    }

private:
    std::string path() const { return m_folder + "/ports"; }

    std::string m_folder;
    int m_lock = -1;
};

} // namespace

std::string DeviceNumbers::absentAt(int number) const
{
    return m_kept.absentAt(number);
}

std::map<int, FoundDevice> DeviceNumbers::numbers()
{
    // Devices and numbers that RSCOM_COMn variables name are not numbered.
    std::set<int> reserved;
    std::set<std::string> named;
    for (int port : mappedPorts()) {
        reserved.insert(port);
        const std::optional<Target> mapped = mappedTarget(port);
        if (!mapped || mapped->kind != Target::Kind::Device) continue;
        named.insert(mapped->path);
        if (exists(mapped->path)) named.insert(canonicalPath(mapped->path));
    }
    std::vector<FoundDevice> found;
    for (const TtyDevice &tty : findSerialDevices()) {
        const std::string path = systemPaths().dev() + "/" + tty.name;
        if (named.count(path) != 0 || (exists(path) && named.count(canonicalPath(path)) != 0))
            continue;
        found.push_back({tty.name, path, tty.identity, tty.builtin});
    }

    StateFile file;
    return m_kept.number(file, found, reserved, static_cast<std::int64_t>(std::time(nullptr)));
}

} // namespace rscom
