// The wiring test's lines on the driver, through the program's binding.
// What the test sets, reads and takes goes into the monitor's `Lines`, when
// it has them, so that the timeline shows the test and the counts go on.
#pragma once

#include "lines.h"
#include "wiring.h"

// Takes the current port's changes from the driver into `edges`, `atOnce`
// a call, as many calls as that takes: EDGES's last result, nothing without
// EDGES.
std::optional<std::int16_t> takeAllEdges(std::vector<Modul1::Edge> &edges,
                                         std::int16_t atOnce = 256);

class DriverLines final : public WiringTest::Driver
{
public:
    explicit DriverLines(Lines *monitor = nullptr) : m_monitor(monitor) {}

    bool select(int port) override;
    void set(WiringTest::Output output, int level) override;
    int read(WiringTest::Input input) override;
    Told changes(std::array<int, WiringTest::kInputCount> &counted) override;
    // A port across the network (rfc2217://) tells its changes late.
    bool late(int port) override;

private:
    Lines *m_monitor;
    std::int64_t m_readTime = 0;
    Lines::Reads m_reads{};
};
