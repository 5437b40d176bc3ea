// What the port table needs of an open port, whatever is behind it.
#pragma once

#include "core/edgerecord.h"
#include "core/settings.h"

#include <functional>
#include <memory>
#include <string>

namespace rscom
{

enum class Output { Txd, Dtr, Rts };

// Where COMn leads.
struct Target {
    enum class Kind { None, Loopback, Generator, NullModem, Device, Remote };
    Kind kind = Kind::None;
    std::string path;     // Kind::Device: where the device is now; Kind::Remote: its address
                          // (also for Kind::None when that is malformed)
    std::string identity; // Kind::Device: what it is known by, whatever its path
    int cableEnd = -1;    // Kind::NullModem: end 0 or 1 of the cable; -1 without a partner

    // The same port: the identity decides, so that a device that came back
    // under another name is still the port it was.
    bool sameAs(const Target &o) const
    {
        return kind == o.kind && identity == o.identity && cableEnd == o.cableEnd;
    }
};

// A port that finds its way back by itself (a port on another machine while
// its connection is down) cannot be read for now, and is kept.
constexpr int kAway = -2;

// An open port. Every operation reports whether the port still answers; a port
// that stops answering is gone (unplugged) and is discarded by its owner.
class Device
{
public:
    virtual ~Device() = default;
    virtual bool configure(const Settings &settings) = 0;
    virtual bool setOutput(Output line, bool active) = 0;
    // 1 active, 0 inactive, -1 gone, kAway for now.
    virtual int readInput(Input line) = 0;

    // From now on the input lines' changes go to `record`, which the port
    // keeps across its devices. A port that cannot tell them leaves it be.
    virtual void recordEdges(const std::shared_ptr<EdgeRecord> &record) { (void)record; }
    // Brings the record up to date (changes that were counted but not yet
    // told), and says whether the port tells its changes at all.
    virtual EdgeState updateEdges() { return EdgeState::Untold; }
};

// Opens the port behind a target; nullptr when it cannot be opened. Leaves
// nothing open when it fails.
using Opener = std::function<std::unique_ptr<Device>(const Target &target)>;

std::unique_ptr<Device> openLoopback();
// The virtual port whose inputs follow a fixed pattern from its opening on.
std::unique_ptr<Device> openGenerator();
// One end (0 or 1) of the virtual null-modem cable; -1 an end with nothing
// on the other side.
std::unique_ptr<Device> openNullModem(int end);
// The port on another machine at a Kind::Remote target's address; nullptr
// when the server refuses, or does not agree to the Com Port Control Option
// within 2 s.
std::unique_ptr<Device> openRemote(const Target &target);

} // namespace rscom
