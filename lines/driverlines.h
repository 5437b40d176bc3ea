// The wiring test's lines on the driver, through the program's binding.
// Everything the test does goes into a record, when it has one, so that the
// timeline shows the test.
#pragma once

#include "linerecord.h"
#include "modul1.h"
#include "wiring.h"

#include <map>

class DriverLines final : public WiringTest::Lines
{
public:
    // Told of the edges the test took from the driver, port by port.
    using Taken = std::function<void(int port, const std::vector<Modul1::Edge> &edges)>;

    explicit DriverLines(LineRecord *record = nullptr, Taken taken = {});

    // A new test: the changes that others took meanwhile are not its own.
    void reset() { m_counts.clear(); }

    bool select(int port) override;
    void set(WiringTest::Output output, int level) override;
    int read(WiringTest::Input input) override;
    Told changes(std::array<int, WiringTest::kInputCount> &counted) override;
    // A port across the network (rfc2217://) tells its changes late.
    bool late(int port) override;

    // Edges taken at once; a full buffer is followed by another call.
    static constexpr std::int16_t kEdgesAtOnce = 256;

private:
    LineRecord *m_record;
    Taken m_taken;
    int m_port = 0;
    std::int64_t m_readTime = 0;
    std::array<int, WiringTest::kInputCount> m_read{};
    std::map<int, std::array<std::int32_t, 4>> m_counts; // each port's last counts
};
