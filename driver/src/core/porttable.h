// The driver's ports: every port it holds, which one is current, and the
// recovery of ports whose device went away.
#pragma once

#include "core/device.h"
#include "core/portstatus.h"

#include <array>
#include <chrono>
#include <cstdint>

namespace rscom
{

class PortTable
{
public:
    using Clock = std::chrono::steady_clock;
    using Now = std::function<Clock::time_point()>;
    using Resolver = std::function<Target(int port)>;
    using Inspector = std::function<PortStatus(const Target &target)>;

    // How long a gone port waits between two attempts to open it again.
    static constexpr std::chrono::milliseconds kRetryPeriod{250};

    PortTable(Resolver resolve, Opener open, Inspector inspect, Now now = Clock::now);

    int16_t open(const char *settings);
    void set(Output line, int16_t level);
    int16_t read(Input line);
    // EDGES: the current port's changes not taken yet, at most `max`.
    int16_t edges(rscom_edge *out, int16_t max);
    void closeCurrent();
    // Whether port `number` could be opened now; opens nothing.
    PortStatus status(int number);

    int current() const { return m_current; }

private:
    struct Port {
        bool held = false;
        Target target;
        Settings settings;
        std::unique_ptr<Device> device; // null while held but gone
        // Kept from the opening to the closing, across the devices the port
        // is opened on.
        std::shared_ptr<EdgeRecord> record;
        std::array<bool, 3> outputs{}; // TxD, DTR, RTS as last set
        Clock::time_point nextRetry{};
    };

    bool openFresh(Port &port, const Target &target, const Settings &settings);
    bool reopen(Port &port, const Target &target);
    bool usable(int number);
    void lose(Port &port);
    void dropDeadDevices();
    static void release(Port &port);

    Resolver m_resolve;
    Opener m_open;
    Inspector m_inspect;
    Now m_now;
    std::array<Port, 256> m_ports; // index = port number, 0 unused
    int m_current = 0;
};

} // namespace rscom
