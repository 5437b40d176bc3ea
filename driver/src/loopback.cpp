// Virtual port: a port with a test plug wired RTS -> CTS, DTR -> DSR and DCD,
// TxD -> RI. Nothing leaves the process.
#include "device.h"

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
        m_outputs[static_cast<size_t>(line)] = active;
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

private:
    int level(Output line) const { return m_outputs[static_cast<size_t>(line)] ? 1 : 0; }

    std::array<bool, 3> m_outputs{};
};

} // namespace

std::unique_ptr<Device> openLoopback()
{
    return std::make_unique<Loopback>();
}

} // namespace rscom
