// Virtual port "nullmodem": two ports joined by a null-modem cable with
// handshaking. Each end's DTR reaches the other's DSR and DCD, its RTS the
// other's CTS; TxD goes to the other's RxD, which no line shows, and RI
// stays inactive. An end with nobody on the other side, or whose partner
// is not open, reads 0 on every input. Every input change an output change
// causes is an edge of the other end, timed at the setter's call.
#include "core/device.h"

#include <array>
#include <mutex>

namespace rscom
{

namespace
{

// The cable: what each end drives, and where each end's edges go. Held
// open, an end drives its outputs; closed, it drives nothing.
struct Cable {
    std::mutex lock;
    std::array<const Device *, 2> device{};
    std::array<std::array<bool, 3>, 2> outputs{};
    std::array<std::shared_ptr<EdgeRecord>, 2> record;
};

Cable &cable()
{
    // Never destroyed: the ports that use it may be released at exit, after
    // the statics made later than the port table are gone.
    static Cable *the = new Cable;
    return *the;
}

// An end's input, from what the other end drives.
int input(const std::array<bool, 3> &other, Input line)
{
    switch (line) {
    case Input::Dcd:
    case Input::Dsr:
        return other[static_cast<size_t>(Output::Dtr)] ? 1 : 0;
    case Input::Cts:
        return other[static_cast<size_t>(Output::Rts)] ? 1 : 0;
    case Input::Ri:
        return 0;
    }
    return -1;
}

class NullModem final : public Device
{
public:
    explicit NullModem(int cableEnd) : m_end(cableEnd)
    {
        if (m_end < 0) return;
        Cable &c = cable();
        const std::lock_guard<std::mutex> guard(c.lock);
        c.device[end()] = this;
        c.outputs[end()] = {};
    }

    ~NullModem() override
    {
        if (m_end < 0) return;
        Cable &c = cable();
        const std::lock_guard<std::mutex> guard(c.lock);
        if (c.device[end()] != this) return;
        // Let go, the port drives nothing: the other end sees its lines drop.
        drive(c, {});
        c.device[end()] = nullptr;
        c.record[end()].reset();
    }

    NullModem(const NullModem &) = delete;
    NullModem &operator=(const NullModem &) = delete;

    bool configure(const Settings &) override { return true; }

    bool setOutput(Output line, bool active) override
    {
        if (m_end < 0) return true;
        Cable &c = cable();
        const std::lock_guard<std::mutex> guard(c.lock);
        if (c.device[end()] != this) return true;
        std::array<bool, 3> outputs = c.outputs[end()];
        outputs[static_cast<size_t>(line)] = active;
        drive(c, outputs);
        return true;
    }

    int readInput(Input line) override
    {
        if (m_end < 0) return 0;
        Cable &c = cable();
        const std::lock_guard<std::mutex> guard(c.lock);
        if (c.device[end()] != this || c.device[other()] == nullptr) return 0;
        return input(c.outputs[other()], line);
    }

    void recordEdges(const std::shared_ptr<EdgeRecord> &record) override
    {
        if (m_end < 0) return;
        Cable &c = cable();
        const std::lock_guard<std::mutex> guard(c.lock);
        if (c.device[end()] == this) c.record[end()] = record;
    }

    EdgeState updateEdges() override { return EdgeState::Told; }

private:
    size_t end() const { return static_cast<size_t>(m_end); }
    size_t other() const { return 1 - end(); }

    // This end now drives `outputs`: the other end's inputs that change are
    // its edges.
    void drive(Cable &c, const std::array<bool, 3> &outputs)
    {
        const int64_t time = edgeClock();
        const std::array<bool, 3> before = c.outputs[end()];
        c.outputs[end()] = outputs;
        const std::shared_ptr<EdgeRecord> &record = c.record[other()];
        if (!record || c.device[other()] == nullptr) return;
        for (Input line : kInputs) {
            const int after = input(outputs, line);
            if (after != input(before, line)) record->add(line, 1, after != 0, time);
        }
    }

    int m_end;
};

} // namespace

std::unique_ptr<Device> openNullModem(int end)
{
    return std::make_unique<NullModem>(end < 0 || end > 1 ? -1 : end);
}

} // namespace rscom
