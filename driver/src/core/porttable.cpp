#include "core/porttable.h"

#include "core/diagnostics.h"
#include "network/address.h"

#include <cstring>

namespace rscom
{

namespace
{

constexpr std::array<Output, 3> kOutputs{Output::Txd, Output::Dtr, Output::Rts};

bool applyOutputs(Device &device, const std::array<bool, 3> &levels)
{
    for (size_t i = 0; i < kOutputs.size(); ++i) {
        if (!device.setOutput(kOutputs[i], levels[i])) return false;
    }
    return true;
}

// A settings string as a line can show it: cut, its control characters made
// '?'.
std::string shown(const char *text)
{
    if (text == nullptr) return "no settings (a null pointer)";
    std::string s;
    for (const char *c = text; *c != '\0' && s.size() < 40; ++c)
        s += static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F ? '?' : *c;
    return "not valid settings \"" + s + (std::strlen(text) > 40 ? "...\"" : "\"");
}

// Why a port leads nowhere.
std::string nowhere(const Target &target)
{
    return isRemote(target.path) ? "not a valid rfc2217 address" : "no such port";
}

} // namespace

PortTable::PortTable(Resolver resolve, Opener open, Inspector inspect, Now now)
    : m_resolve(std::move(resolve)), m_open(std::move(open)), m_inspect(std::move(inspect)),
      m_now(std::move(now))
{
}

int16_t PortTable::open(const char *text)
{
    const std::optional<Settings> settings = parseSettings(text);
    if (!settings) {
        explain(shown(text));
        return 0;
    }

    dropDeadDevices();
    Port &port = m_ports[settings->port];
    const Target target = m_resolve(settings->port);
    const About about(settings->port, target.path);
    if (port.held && !port.target.sameAs(target)) {
        // COMn now leads elsewhere: the old device is not this port any more.
        if (m_current == settings->port) m_current = 0;
        release(port);
    }
    if (target.kind == Target::Kind::None) {
        explain(nowhere(target));
        return 0;
    }

    if (port.held) {
        // Already ours: select it again and keep its lines. A device that
        // went away meanwhile is opened afresh, with the lines restored.
        if (port.device && !port.device->configure(*settings)) lose(port);
        const Settings previous = port.settings;
        port.settings = *settings;
        if (!port.device && !reopen(port, target)) {
            port.settings = previous;
            return 0;
        }
        m_current = settings->port;
        return 1;
    }

    if (!openFresh(port, target, *settings)) return 0;
    m_current = settings->port;
    return 1;
}

bool PortTable::openFresh(Port &port, const Target &target, const Settings &settings)
{
    std::unique_ptr<Device> device = m_open(target);
    if (!device) return false;
    // The outputs start inactive, which is what a fresh user interface shows.
    const std::array<bool, 3> inactive{};
    if (!device->configure(settings) || !applyOutputs(*device, inactive)) return false;

    port.held = true;
    port.target = target;
    port.settings = settings;
    port.device = std::move(device);
    port.outputs = inactive;
    port.record = std::make_shared<EdgeRecord>();
    port.device->recordEdges(port.record);
    return true;
}

// `target` is where the port's device is now: the same device, maybe under
// another name.
bool PortTable::reopen(Port &port, const Target &target)
{
    port.nextRetry = m_now() + kRetryPeriod;
    if (!port.target.sameAs(target)) return false;
    std::unique_ptr<Device> device = m_open(target);
    if (!device || !device->configure(port.settings) || !applyOutputs(*device, port.outputs))
        return false;
    port.target = target;
    port.device = std::move(device);
    port.device->recordEdges(port.record);
    return true;
}

// A held port whose device is gone is tried again now and then, never on
// every call: the readers run at the polling rate. The tries are quiet: the
// failure that lost the device was told.
bool PortTable::usable(int number)
{
    Port &port = m_ports[number];
    if (port.device) return true;
    if (m_now() < port.nextRetry) return false;
    const Quiet quiet;
    return reopen(port, m_resolve(number));
}

void PortTable::lose(Port &port)
{
    explain("the device is gone; its reads give -1 until it is back");
    port.device.reset();
    port.nextRetry = m_now() + kRetryPeriod;
}

// A device that is gone is let go at once, current or not: while a process
// holds its old descriptor, a replugged USB adapter comes back under another
// name.
void PortTable::dropDeadDevices()
{
    for (size_t n = 1; n < m_ports.size(); ++n) {
        Port &port = m_ports[n];
        if (!port.device) continue;
        const About about(static_cast<int>(n), port.target.path);
        if (port.device->readInput(Input::Dcd) == -1) lose(port);
    }
}

void PortTable::release(Port &port)
{
    // The device first: a thread of its own may still write to the record.
    port.device.reset();
    port = Port{};
}

void PortTable::set(Output line, int16_t level)
{
    if (m_current == 0) {
        explain("no port is open");
        return;
    }
    Port &port = m_ports[m_current];
    const About about(m_current, port.target.path);
    const bool active = level != 0;
    // Remembered even while the device is gone, so that the line comes back
    // as the user last set it.
    port.outputs[static_cast<size_t>(line)] = active;
    if (!usable(m_current)) return;
    if (!port.device->setOutput(line, active)) lose(port);
}

int16_t PortTable::read(Input line)
{
    if (m_current == 0) {
        explain("no port is open");
        return -1;
    }
    Port &port = m_ports[m_current];
    const About about(m_current, port.target.path);
    if (!usable(m_current)) return -1;
    const int value = port.device->readInput(line);
    if (value == -1) lose(port);
    return static_cast<int16_t>(value < 0 ? -1 : value);
}

int16_t PortTable::edges(rscom_edge *out, int16_t max)
{
    if (m_current == 0 || !usable(m_current)) return RSCOM_EDGES_NO_PORT;
    Port &port = m_ports[m_current];
    switch (port.device->updateEdges()) {
    case EdgeState::Gone:
        lose(port);
        return RSCOM_EDGES_NO_PORT;
    case EdgeState::Away:
        return RSCOM_EDGES_NO_PORT;
    case EdgeState::Untold:
        return RSCOM_EDGES_UNTOLD;
    case EdgeState::Told:
        break;
    }
    if (out == nullptr || max <= 0) return 0;
    return static_cast<int16_t>(port.record->take(out, static_cast<size_t>(max)));
}

void PortTable::closeCurrent()
{
    if (m_current == 0) return;
    release(m_ports[m_current]);
    m_current = 0;
}

PortStatus PortTable::status(int number)
{
    if (number < 1 || number >= static_cast<int>(m_ports.size())) {
        explain("no port has the number " + std::to_string(number) + " (1 to 255)");
        return {};
    }
    dropDeadDevices();
    const Target target = m_resolve(number);
    const About about(number, target.path);
    switch (target.kind) {
    case Target::Kind::None:
        explain(nowhere(target));
        return {};
    case Target::Kind::Remote:
        // Never connected to: a connection takes the port, and the server
        // opens its device, which may raise DTR.
        return {Availability::Available, {target.path, "síťový port RFC 2217", {}, {}, {}, {}, {}}};
    case Target::Kind::Loopback:
        return {Availability::Available, {"loopback", {}, {}, {}, {}, {}, {}}};
    case Target::Kind::Generator:
        return {Availability::Available, {"generator", {}, {}, {}, {}, {}, {}}};
    case Target::Kind::NullModem:
        return {Availability::Available, {"nullmodem", {}, {}, {}, {}, {}, {}}};
    case Target::Kind::Device:
        break;
    }
    PortStatus status = m_inspect(target);
    const Port &port = m_ports[number];
    if (port.held && port.device && port.target.sameAs(target)) {
        // Ours already: OPENCOM selects it again.
        status.code = Availability::Available;
        status.info.group.clear();
        status.info.program.clear();
        status.info.pid.clear();
    }
    return status;
}

} // namespace rscom
