#include "network/telnet.h"

namespace rscom
{

using namespace telnet;

void TelnetParser::feed(const uint8_t *data, size_t size, Handler &handler)
{
    for (size_t i = 0; i < size; ++i) {
        const uint8_t byte = data[i];
        switch (m_state) {
        case State::Data:
            if (byte == kIac) m_state = State::Iac;
            break;
        case State::Iac:
            command(byte);
            break;
        case State::Option:
            handler.negotiation(m_command, byte);
            m_state = State::Data;
            break;
        case State::Sub:
            if (byte == kIac)
                m_state = State::SubIac;
            else
                keep(byte);
            break;
        case State::SubIac:
            if (byte == kIac) {
                keep(byte);
                m_state = State::Sub;
            } else if (byte == kSe) {
                if (!m_overlong && m_size > 0) handler.subnegotiation(m_sub.data(), m_size);
                m_state = State::Data;
            } else {
                // Another command before IAC SE: the sub-negotiation is cut
                // short and dropped; the command counts.
                command(byte);
            }
            break;
        }
    }
}

void TelnetParser::command(uint8_t byte)
{
    if (byte == kDo || byte == kDont || byte == kWill || byte == kWont) {
        m_command = byte;
        m_state = State::Option;
    } else if (byte == kSb) {
        m_size = 0;
        m_overlong = false;
        m_state = State::Sub;
    } else {
        // IAC IAC is a data byte; other commands (NOP, GA, a stray SE) say
        // nothing to a client of the port.
        m_state = State::Data;
    }
}

void TelnetParser::keep(uint8_t byte)
{
    if (m_size == m_sub.size())
        m_overlong = true;
    else
        m_sub[m_size++] = byte;
}

namespace
{

bool offered(uint8_t option)
{
    return option == kBinary || option == kSuppressGoAhead || option == kComPort;
}

} // namespace

std::string ComPortSession::greeting()
{
    std::string out;
    for (uint8_t option : {kComPort, kBinary, kSuppressGoAhead}) {
        m_us[option] = Side::WantYes;
        out += {static_cast<char>(kIac), static_cast<char>(kWill), static_cast<char>(option)};
    }
    for (uint8_t option : {kBinary, kSuppressGoAhead}) {
        m_him[option] = Side::WantYes;
        out += {static_cast<char>(kIac), static_cast<char>(kDo), static_cast<char>(option)};
    }
    return out;
}

void ComPortSession::receive(const uint8_t *data, size_t size, std::string &replies,
                             std::vector<uint8_t> &reports)
{
    m_replies = &replies;
    m_reports = &reports;
    m_parser.feed(data, size, *this);
    m_replies = nullptr;
    m_reports = nullptr;
}

ComPortSession::Agreement ComPortSession::agreement() const
{
    if (m_us[kComPort] == Side::Yes || m_him[kComPort] == Side::Yes) return Agreement::Agreed;
    return m_refused ? Agreement::Refused : Agreement::Pending;
}

void ComPortSession::answer(uint8_t command, uint8_t option)
{
    *m_replies += {static_cast<char>(kIac), static_cast<char>(command), static_cast<char>(option)};
}

// The client's side of each option and the server's are kept apart, as in
// RFC 1143: a request the client made is not answered again, an option
// already in force is not confirmed again, so that no two peers loop.
void ComPortSession::negotiation(uint8_t command, uint8_t option)
{
    const bool forUs = command == kDo || command == kDont;
    Side &side = forUs ? m_us[option] : m_him[option];
    const bool yes = command == kDo || command == kWill;
    if (yes) {
        if (side == Side::Yes) return;
        if (side == Side::WantYes) {
            side = Side::Yes;
            return;
        }
        if (offered(option)) {
            side = Side::Yes;
            answer(forUs ? kWill : kDo, option);
            return;
        }
        // Refused, once per option and side.
        bool &told = forUs ? m_refusedUs[option] : m_refusedHim[option];
        if (!told) answer(forUs ? kWont : kDont, option);
        told = true;
        return;
    }
    if (side == Side::No) return;
    const bool wasYes = side == Side::Yes;
    side = Side::No;
    if (wasYes) answer(forUs ? kWont : kDont, option);
    if (option == kComPort && forUs) m_refused = true;
}

void ComPortSession::subnegotiation(const uint8_t *data, size_t size)
{
    // Only the modem-state report is read: the answers to the settings
    // (which a server may give or not) and everything unknown pass.
    if (size == 3 && data[0] == kComPort && data[1] == kServerNotifyModemState)
        m_reports->push_back(data[2]);
}

std::string comPortCommand(uint8_t code, const std::vector<uint8_t> &value)
{
    std::string out{static_cast<char>(kIac), static_cast<char>(kSb), static_cast<char>(kComPort),
                    static_cast<char>(code)};
    for (uint8_t byte : value) {
        out += static_cast<char>(byte);
        if (byte == kIac) out += static_cast<char>(kIac);
    }
    out += {static_cast<char>(kIac), static_cast<char>(kSe)};
    return out;
}

std::string settingsCommands(const Settings &settings)
{
    const auto baud = static_cast<uint32_t>(settings.baud);
    uint8_t parity = 1;
    switch (settings.parity) {
    case Parity::None:
        parity = 1;
        break;
    case Parity::Odd:
        parity = 2;
        break;
    case Parity::Even:
        parity = 3;
        break;
    case Parity::Mark:
        parity = 4;
        break;
    case Parity::Space:
        parity = 5;
        break;
    }
    constexpr uint8_t kNoFlowControl = 1;
    return comPortCommand(kSetBaudRate,
                          {static_cast<uint8_t>(baud >> 24), static_cast<uint8_t>(baud >> 16),
                           static_cast<uint8_t>(baud >> 8), static_cast<uint8_t>(baud)}) +
           comPortCommand(kSetDataSize, {static_cast<uint8_t>(settings.dataBits)}) +
           comPortCommand(kSetParity, {parity}) +
           comPortCommand(kSetStopSize, {static_cast<uint8_t>(settings.stopBits)}) +
           comPortCommand(kSetControl, {kNoFlowControl});
}

std::string outputCommand(Output line, bool active)
{
    uint8_t value = 0;
    switch (line) {
    case Output::Txd:
        value = active ? 5 : 6;
        break;
    case Output::Dtr:
        value = active ? 8 : 9;
        break;
    case Output::Rts:
        value = active ? 11 : 12;
        break;
    }
    return comPortCommand(kSetControl, {value});
}

std::string reportRequest()
{
    return comPortCommand(kSetModemStateMask, {255}) + comPortCommand(kNotifyModemState, {});
}

namespace
{

// Each line's level bit and its delta bit, in the order of Input.
constexpr std::array<uint8_t, 4> kLevelBits{0x80, 0x20, 0x10, 0x40};
constexpr std::array<uint8_t, 4> kDeltaBits{0x08, 0x02, 0x01, 0x04};

} // namespace

bool reportLevel(uint8_t report, Input line)
{
    return (report & kLevelBits[static_cast<size_t>(line)]) != 0;
}

std::array<int, 4> reportChanges(uint8_t before, uint8_t after)
{
    std::array<int, 4> changes{};
    for (size_t i = 0; i < changes.size(); ++i) {
        if (((before ^ after) & kLevelBits[i]) != 0)
            changes[i] = 1;
        else if ((after & kDeltaBits[i]) != 0)
            changes[i] = 2;
    }
    return changes;
}

} // namespace rscom
