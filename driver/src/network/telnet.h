// Telnet and its Com Port Control Option (RFC 2217) as the client of a port
// on another machine speaks them: what the server's bytes say, and what to
// send it. What a server sends is untrusted: the reading keeps a fixed buffer
// whatever comes, and finds its way again after garbage.
#pragma once

#include "core/device.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rscom
{

namespace telnet
{
constexpr uint8_t kIac = 255;
constexpr uint8_t kDont = 254;
constexpr uint8_t kDo = 253;
constexpr uint8_t kWont = 252;
constexpr uint8_t kWill = 251;
constexpr uint8_t kSb = 250;
constexpr uint8_t kSe = 240;

constexpr uint8_t kBinary = 0;
constexpr uint8_t kSuppressGoAhead = 3;
constexpr uint8_t kComPort = 44;

// The Com Port Control Option's commands, as the client sends them; the
// server answers each with its code plus 100.
constexpr uint8_t kSetBaudRate = 1;
constexpr uint8_t kSetDataSize = 2;
constexpr uint8_t kSetParity = 3;
constexpr uint8_t kSetStopSize = 4;
constexpr uint8_t kSetControl = 5;
constexpr uint8_t kNotifyModemState = 7;
constexpr uint8_t kSetModemStateMask = 11;
constexpr uint8_t kServerNotifyModemState = kNotifyModemState + 100;
} // namespace telnet

// Splits a server's bytes into telnet negotiations and sub-negotiations;
// data is passed over. A sub-negotiation longer than the buffer is dropped
// whole, and so is one that another command cuts short: the reading goes on
// at the next IAC SE or at that command.
class TelnetParser
{
public:
    // Longer than any sub-negotiation the client reads (a modem-state
    // report is 3 bytes with its option).
    static constexpr size_t kCapacity = 32;

    struct Handler {
        virtual ~Handler() = default;
        // DO, DONT, WILL or WONT `option`.
        virtual void negotiation(uint8_t command, uint8_t option) = 0;
        // What stood between IAC SB and IAC SE, unescaped: its option first.
        virtual void subnegotiation(const uint8_t *data, size_t size) = 0;
    };

    void feed(const uint8_t *data, size_t size, Handler &handler);

private:
    enum class State { Data, Iac, Option, Sub, SubIac };

    void command(uint8_t byte);
    void keep(uint8_t byte);

    State m_state = State::Data;
    uint8_t m_command = 0;
    std::array<uint8_t, kCapacity> m_sub{};
    size_t m_size = 0;
    bool m_overlong = false;
};

// One connection's negotiation with the server, and the server's
// modem-state reports. The client offers the Com Port Control Option, and
// BINARY and SUPPRESS-GO-AHEAD both ways; it refuses every other option,
// each once, so that a server that asks again and again gets no stream of
// answers.
class ComPortSession final : private TelnetParser::Handler
{
public:
    enum class Agreement { Pending, Agreed, Refused };

    // What the client says first.
    std::string greeting();

    // Reads the server's bytes: the answers to send go to `replies`, each
    // modem-state report (the byte of NOTIFY-MODEMSTATE) to `reports`.
    void receive(const uint8_t *data, size_t size, std::string &replies,
                 std::vector<uint8_t> &reports);

    // Whether the server agreed to the Com Port Control Option (DO or WILL).
    Agreement agreement() const;

private:
    enum class Side : uint8_t { No, WantYes, Yes };

    void negotiation(uint8_t command, uint8_t option) override;
    void subnegotiation(const uint8_t *data, size_t size) override;
    void answer(uint8_t command, uint8_t option);

    TelnetParser m_parser;
    std::array<Side, 256> m_us{};  // what the client does (WILL)
    std::array<Side, 256> m_him{}; // what the server does (DO)
    std::array<bool, 256> m_refusedUs{};
    std::array<bool, 256> m_refusedHim{};
    bool m_refused = false;
    std::string *m_replies = nullptr;
    std::vector<uint8_t> *m_reports = nullptr;
};

// A command of the Com Port Control Option, with IAC in its value doubled.
std::string comPortCommand(uint8_t code, const std::vector<uint8_t> &value);

// The settings: baud rate, data bits, parity, stop bits, no flow control.
std::string settingsCommands(const Settings &settings);

// SET-CONTROL for an output: break on/off 5/6, DTR 8/9, RTS 11/12.
std::string outputCommand(Output line, bool active);

// SET-MODEMSTATE-MASK 255, as a server reports a change only when its delta
// bit is in the mask; then a request for the lines as they are, which
// servers answer with a report.
std::string reportRequest();

// Each input line's changes from one report to the next, in the order of
// Input. A line whose level changed changed once; one whose delta bit (for
// RI the trailing-edge bit) is set at the same level moved and came back:
// twice.
std::array<int, 4> reportChanges(uint8_t before, uint8_t after);

// A line's level in a report.
bool reportLevel(uint8_t report, Input line);

} // namespace rscom
