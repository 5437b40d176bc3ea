// Virtual port: a port with a test plug wired RTS -> CTS, DTR -> DSR and DCD,
// TxD -> RI. Nothing leaves the process. Every input change an output
// change causes is an edge, timed at the setter's call.
#include "core/device.h"

#include <array>

namespace rscom
{

namespace
{

class Loopback final : public Device
{
public:
    bool configure(const Settings &) override { return true; }

    bool setOutput(Output line, bool active) override
    {
        const int64_t time = edgeClock();
        std::array<int, 4> before{};
        for (Input input : kInputs)
            before[static_cast<size_t>(input)] = readInput(input);
        m_outputs[static_cast<size_t>(line)] = active;
        if (!m_record) return true;
        for (Input input : kInputs) {
            const int after = readInput(input);
            if (after != before[static_cast<size_t>(input)])
                m_record->add(input, 1, after != 0, time);
        }
        return true;
    }

    int readInput(Input line) override
    {
        switch (line) {
        case Input::Cts:
            return level(Output::Rts);
        case Input::Dsr:
        case Input::Dcd:
            return level(Output::Dtr);
        case Input::Ri:
            return level(Output::Txd);
        }
        return -1;
    }

    void recordEdges(const std::shared_ptr<EdgeRecord> &record) override { m_record = record; }
    EdgeState updateEdges() override { return EdgeState::Told; }

private:
    int level(Output line) const { return m_outputs[static_cast<size_t>(line)] ? 1 : 0; }

    std::array<bool, 3> m_outputs{};
    std::shared_ptr<EdgeRecord> m_record;
};

} // namespace

std::unique_ptr<Device> openLoopback()
{
    return std::make_unique<Loopback>();
}

} // namespace rscom
