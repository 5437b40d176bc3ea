#include "core/diagnostics.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <utility>

namespace rscom
{

namespace
{

struct Context {
    const char *entry = nullptr;
    int port = 0;
    std::string device;
    int quiet = 0;
};

Context &context()
{
    thread_local Context current;
    return current;
}

} // namespace

Entry::Entry(const char *name) : m_previous(context().entry)
{
    context().entry = name;
}

Entry::~Entry()
{
    context().entry = m_previous;
}

About::About(int number, std::string device)
    : m_number(std::exchange(context().port, number)),
      m_device(std::exchange(context().device, std::move(device)))
{
}

About::~About()
{
    context().port = m_number;
    context().device = std::move(m_device);
}

Quiet::Quiet()
{
    ++context().quiet;
}

Quiet::~Quiet()
{
    --context().quiet;
}

bool debugging()
{
    const char *value = std::getenv("RSCOM_DEBUG");
    return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

void explain(const std::string &reason)
{
    const Context &c = context();
    if (c.quiet > 0 || !debugging()) return;
    // "rscom: OPENCOM COM3 /dev/ttyUSB0: reason", with what is known of the
    // entry, the port and the device.
    std::string about;
    const auto add = [&about](const std::string &part) {
        about += (about.empty() ? "" : " ") + part;
    };
    if (c.entry != nullptr) add(c.entry);
    if (c.port > 0) add("COM" + std::to_string(c.port));
    if (!c.device.empty()) add(c.device);
    const std::string line = "rscom: " + (about.empty() ? "" : about + ": ") + reason + "\n";
    // One write, so that lines from several threads do not mix.
    std::fwrite(line.data(), 1, line.size(), stderr);
    std::fflush(stderr);
}

std::string reasonOf(const PortStatus &status, const std::string &system)
{
    std::string words;
    const PortInfo &info = status.info;
    switch (status.code) {
    case Availability::Available:
        words = "available";
        break;
    case Availability::Missing:
        // The system's words say it better, when there are any.
        if (!system.empty()) return system;
        words = "no such device";
        break;
    case Availability::NoPermission:
        words = "no permission to read and write it";
        if (!info.group.empty()) words += " (group " + info.group + ")";
        break;
    case Availability::InUse:
        words = "in use by " + (info.program.empty() ? "another program" : info.program);
        if (!info.pid.empty()) words += " (PID " + info.pid + ")";
        break;
    case Availability::Console:
        words = "a system console";
        break;
    case Availability::NotSerial:
        words = "not a serial line with modem-control lines";
        break;
    }
    if (!system.empty()) words += ": " + system;
    return words;
}

} // namespace rscom
