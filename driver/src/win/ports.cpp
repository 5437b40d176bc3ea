#include "win/ports.h"

#include "core/decimal.h"
#include "core/diagnostics.h"
#include "core/naming.h"

#include <windows.h>

#include <ctime>
#include <string_view>

namespace rscom
{

namespace
{

// Where Windows keeps its devices for CreateFile.
const std::string kDevices = "\\\\.\\";

// Port names are ASCII.
std::wstring wide(const std::string &ascii)
{
    return std::wstring(ascii.begin(), ascii.end());
}

// Only a target made by portTarget leads to a port; anything else was given
// as no device name, or is a remembered port that is out.
std::string nameOf(const Target &target)
{
    if (target.path.compare(0, kDevices.size(), kDevices) != 0) return {};
    const std::string name = target.path.substr(kDevices.size());
    return portName(name) == name ? name : std::string();
}

// Windows' own number of a port it names COM1 to COM5, which the port keeps.
int ownNumber(const std::string &name)
{
    if (name.size() != 4 || name.compare(0, 3, "COM") != 0) return 0;
    const std::optional<std::int64_t> number =
        decimal(std::string_view(name).substr(3), kOfferedNumbers);
    return number ? static_cast<int>(*number) : 0;
}

// The numbers' file, %LOCALAPPDATA%\rscom\ports, locked with LockFileEx on a
// file beside it.
class AppDataFile final : public NumbersFile
{
public:
    AppDataFile() : m_folder(folder()) {}
    ~AppDataFile() override
    {
        if (m_lock != INVALID_HANDLE_VALUE) ::CloseHandle(m_lock);
    }
    AppDataFile(const AppDataFile &) = delete;
    AppDataFile &operator=(const AppDataFile &) = delete;

    bool read(std::string &text) override
    {
        if (m_folder.empty()) return false;
        const HANDLE file = ::CreateFileW(path().c_str(), GENERIC_READ,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return false;
        text.clear();
        char buffer[4096];
        DWORD got = 0;
        bool read = true;
        // A few lines a port: anything far larger is no file of ours.
        while (text.size() < (1u << 20)) {
            read = ::ReadFile(file, buffer, sizeof buffer, &got, nullptr) != 0;
            if (!read || got == 0) break;
            text.append(buffer, got);
        }
        ::CloseHandle(file);
        // Saved by an editor of Windows, its lines may end in CR LF.
        for (size_t cr = text.find("\r\n"); cr != std::string::npos; cr = text.find("\r\n", cr))
            text.erase(cr, 1);
        return read;
    }

    bool lock() override
    {
        if (m_lock != INVALID_HANDLE_VALUE) return true;
        if (m_folder.empty()) return false;
        if (!::CreateDirectoryW(m_folder.c_str(), nullptr) &&
            ::GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
        m_lock = ::CreateFileW((m_folder + L"\\ports.lock").c_str(), GENERIC_READ | GENERIC_WRITE,
                               FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        if (m_lock == INVALID_HANDLE_VALUE) return false;
        OVERLAPPED first{};
        return ::LockFileEx(m_lock, LOCKFILE_EXCLUSIVE_LOCK, 0, 1, 0, &first) != 0;
    }

    // Moved over the old one.
    void write(const std::string &text) override
    {
        const std::wstring temporary = path() + L"." + std::to_wstring(::GetCurrentProcessId());
        const HANDLE file = ::CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr,
                                          CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return;
        DWORD written = 0;
        const bool whole = ::WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written,
                                       nullptr) != 0 &&
                           written == text.size();
        const bool closed = ::CloseHandle(file) != 0;
        if (!whole || !closed ||
            !::MoveFileExW(temporary.c_str(), path().c_str(), MOVEFILE_REPLACE_EXISTING))
            ::DeleteFileW(temporary.c_str());
    }

private:
    static std::wstring folder()
    {
        wchar_t local[MAX_PATH + 1];
        const DWORD size = ::GetEnvironmentVariableW(L"LOCALAPPDATA", local, MAX_PATH + 1);
        if (size == 0 || size > MAX_PATH) return {};
        return std::wstring(local, size) + L"\\rscom";
    }

    std::wstring path() const { return m_folder + L"\\ports"; }

    std::wstring m_folder;
    HANDLE m_lock = INVALID_HANDLE_VALUE;
};

} // namespace

std::string portName(const std::string &given)
{
    std::string name =
        given.compare(0, kDevices.size(), kDevices) == 0 ? given.substr(kDevices.size()) : given;
    if (name.empty() || name.size() > 64) return {};
    for (char &c : name) {
        const auto byte = static_cast<unsigned char>(c);
        // Printable ASCII, without what Windows keeps for paths.
        if (byte <= ' ' || byte >= 0x7F) return {};
        if (std::string_view("\\/:*?\"<>|").find(c) != std::string_view::npos) return {};
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return name;
}

Target portTarget(const std::string &name, const std::string &identity)
{
    return {Target::Kind::Device, kDevices + name, identity};
}

WindowsPorts::WindowsPorts(PortListCalls &calls, std::function<Clock::time_point()> now,
                           std::function<std::int64_t()> seconds)
    : m_calls(calls), m_now(std::move(now)), m_seconds(std::move(seconds))
{
    if (!m_seconds) m_seconds = [] { return static_cast<std::int64_t>(std::time(nullptr)); };
}

void WindowsPorts::look()
{
    const Clock::time_point now = m_now();
    if (m_lookedAt && now >= *m_lookedAt && now - *m_lookedAt < kFreshFor) return;
    m_lookedAt = now;
    m_found.clear();
    for (FoundPort &port : listPorts(m_calls)) {
        port.name = portName(port.name);
        if (!port.name.empty()) m_found.push_back(port);
    }
}

Target WindowsPorts::target(int port)
{
    look();
    // Ports and numbers that RSCOM_COMn variables name are not numbered.
    std::set<int> reserved;
    std::set<std::string> named;
    for (int mapped : mappedPorts()) {
        reserved.insert(mapped);
        const std::optional<Target> target = mappedTarget(mapped);
        if (target && target->kind == Target::Kind::Device) named.insert(target->path);
    }
    std::vector<FoundDevice> found;
    for (const FoundPort &each : m_found) {
        const Target target = portTarget(each.name, each.identity);
        if (named.count(target.path) == 0)
            found.push_back({each.name, target.path, each.identity, ownNumber(each.name)});
    }
    AppDataFile file;
    const std::map<int, FoundDevice> numbers = m_kept.number(file, found, reserved, m_seconds());
    const auto it = numbers.find(port);
    if (it != numbers.end()) return portTarget(it->second.name, it->second.identity);
    // The number of a port that is out: still that port's, with no path to
    // open until it is back.
    const std::string absent = m_kept.absentAt(port);
    if (!absent.empty()) return {Target::Kind::Device, {}, absent};
    return {};
}

std::optional<FoundPort> WindowsPorts::find(const std::string &name)
{
    look();
    for (const FoundPort &port : m_found) {
        if (port.name == name) return port;
    }
    return std::nullopt;
}

PortStatus inspectPort(const Target &target, WindowsPorts &ports, CommCalls &calls)
{
    PortStatus status;
    if (target.path.empty()) {
        explain("the port is not plugged in");
        return status;
    }
    const std::string name = nameOf(target);
    if (name.empty()) {
        status.info.path = target.identity;
        explain("no port of that name: give a Windows port name such as COM7");
        return status;
    }
    status.info.path = name;
    if (const std::optional<FoundPort> port = ports.find(name)) {
        status.info.product = port->product;
        status.info.maker = port->maker;
        status.info.serial = port->serial;
        if (port->bluetooth) {
            status.code = Availability::Available;
            return status;
        }
    }
    status.code = serialPortState(wide(name), wide(target.path), calls);
    return status;
}

std::unique_ptr<Device> openPort(const Target &target, CommCalls &calls)
{
    if (nameOf(target).empty()) {
        explain(target.path.empty()
                    ? "the port is not plugged in"
                    : "no port of that name: give a Windows port name such as COM7");
        return nullptr;
    }
    return openSerialPort(wide(target.path), calls);
}

} // namespace rscom
