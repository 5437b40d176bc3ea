// Ports on another machine, without a server: the rfc2217:// address, the
// telnet reading of what a server sends, the changes between two reports,
// and what COMSTATUS tells of such a port without connecting. Then, where a
// harness started one (tests/windows/remote_wine.sh, for Windows under
// wine), against pyserial's server.
#include "network/address.h"
#include "network/telnet.h"
#include "testenv.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

using namespace rscom;

namespace
{

struct AddressRow {
    const char *value;
    const char *host; // nullptr: not a valid address
    int port;
};

void PrintTo(const AddressRow &row, std::ostream *os)
{
    *os << row.value;
}

class RemoteAddresses : public testing::TestWithParam<AddressRow>
{
};

TEST_P(RemoteAddresses, Parsed)
{
    const AddressRow &row = GetParam();
    const std::optional<RemoteAddress> address = parseRemoteAddress(row.value);
    if (row.host == nullptr) {
        EXPECT_FALSE(address) << row.value;
        return;
    }
    ASSERT_TRUE(address) << row.value;
    EXPECT_EQ(address->host, row.host);
    EXPECT_EQ(address->port, row.port);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RemoteAddresses,
    testing::Values(
        AddressRow{"rfc2217://localhost:2217", "localhost", 2217},
        AddressRow{"rfc2217://ser2net.lab-3.example:1", "ser2net.lab-3.example", 1},
        AddressRow{"rfc2217://192.168.1.20:65535", "192.168.1.20", 65535},
        AddressRow{"rfc2217://[::1]:2217", "::1", 2217},
        AddressRow{"rfc2217://[fe80::1%eth0]:7000", "fe80::1%eth0", 7000},
        AddressRow{"rfc2217://", nullptr, 0}, AddressRow{"rfc2217://:2217", nullptr, 0},
        AddressRow{"rfc2217://host", nullptr, 0}, AddressRow{"rfc2217://host:", nullptr, 0},
        AddressRow{"rfc2217://host:0", nullptr, 0}, AddressRow{"rfc2217://host:65536", nullptr, 0},
        AddressRow{"rfc2217://host:22x", nullptr, 0}, AddressRow{"rfc2217://::1:2217", nullptr, 0},
        AddressRow{"rfc2217://[::1]2217", nullptr, 0},
        AddressRow{"rfc2217://[host]:2217", nullptr, 0},
        AddressRow{"rfc2217://host:2217?logging=debug", nullptr, 0},
        AddressRow{"rfc2217://host:2217/", nullptr, 0},
        AddressRow{"rfc2217://ho st:2217", nullptr, 0},
        AddressRow{"rfc2217://user@host:2217", nullptr, 0},
        AddressRow{"telnet://host:2217", nullptr, 0}));

constexpr uint8_t I = telnet::kIac;

std::vector<uint8_t> bytes(std::initializer_list<int> list)
{
    std::vector<uint8_t> out;
    for (int b : list)
        out.push_back(static_cast<uint8_t>(b));
    return out;
}

// A report of `state` as a server sends it.
std::vector<uint8_t> report(int state)
{
    std::vector<uint8_t> out = bytes({I, 250, 44, 107, state});
    if (state == I) out.push_back(I);
    out.push_back(I);
    out.push_back(240);
    return out;
}

std::vector<uint8_t> operator+(std::vector<uint8_t> a, const std::vector<uint8_t> &b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct SessionRow {
    const char *name;
    std::vector<uint8_t> input;
    std::vector<uint8_t> reports;
    std::vector<uint8_t> replies;
    ComPortSession::Agreement agreement;
};

void PrintTo(const SessionRow &row, std::ostream *os)
{
    *os << row.name;
}

class SessionReading : public testing::TestWithParam<SessionRow>
{
};

// Every row is read whole and byte by byte: the split must not matter.
TEST_P(SessionReading, ReportsRepliesAndAgreement)
{
    const SessionRow &row = GetParam();
    for (const bool byteByByte : {false, true}) {
        ComPortSession session;
        session.greeting();
        std::string replies;
        std::vector<uint8_t> reports;
        if (byteByByte) {
            for (uint8_t b : row.input)
                session.receive(&b, 1, replies, reports);
        } else {
            session.receive(row.input.data(), row.input.size(), replies, reports);
        }
        EXPECT_EQ(reports, row.reports) << row.name;
        EXPECT_EQ(std::vector<uint8_t>(replies.begin(), replies.end()), row.replies) << row.name;
        EXPECT_EQ(session.agreement(), row.agreement) << row.name;
    }
}

using A = ComPortSession::Agreement;
const std::vector<uint8_t> kAgree = bytes({I, 253, 44});
const std::vector<uint8_t> kLong(TelnetParser::kCapacity + 1, 7);

INSTANTIATE_TEST_SUITE_P(
    Table, SessionReading,
    testing::Values(
        SessionRow{"nothing yet", {}, {}, {}, A::Pending},
        SessionRow{"DO accepts", kAgree, {}, {}, A::Agreed},
        SessionRow{"WILL accepts", bytes({I, 251, 44}), {}, bytes({I, 253, 44}), A::Agreed},
        SessionRow{"DONT refuses", bytes({I, 254, 44}), {}, {}, A::Refused},
        SessionRow{"a report", kAgree + report(0xB1), {0xB1}, {}, A::Agreed},
        SessionRow{"a report of IAC, doubled", report(0xFF), {0xFF}, {}, A::Pending},
        SessionRow{"data around",
                   bytes({1, 2, I, I, 3}) + report(0x10) + bytes({4}),
                   {0x10},
                   {},
                   A::Pending},
        SessionRow{"unknown options refused once",
                   bytes({I, 251, 1, I, 251, 1, I, 253, 24, I, 253, 24}),
                   {},
                   bytes({I, 254, 1, I, 252, 24}),
                   A::Pending},
        SessionRow{"offered options not answered again",
                   bytes({I, 253, 0, I, 251, 3, I, 253, 0}),
                   {},
                   {},
                   A::Pending},
        SessionRow{"agreed options withdrawn are confirmed",
                   bytes({I, 253, 0, I, 254, 0}),
                   {},
                   bytes({I, 252, 0}),
                   A::Pending},
        SessionRow{"unknown sub-options and other reports ignored",
                   bytes({I,   250, 44,  101, 0,   0, 4,   176, I,   240, I,   250, 24, 0, I,
                          240, I,   250, 44,  107, I, 240, I,   250, 44,  107, 1,   2,  I, 240}),
                   {},
                   {},
                   A::Pending},
        SessionRow{"an overlong sub-negotiation is dropped to its IAC SE",
                   bytes({I, 250, 44, 107}) + kLong + bytes({I, 240}) + report(0x20),
                   {0x20},
                   {},
                   A::Pending},
        SessionRow{"one cut short by a command",
                   bytes({I, 250, 44, 107, 9, 9, 9, I, 253, 44}) + report(0x40),
                   {0x40},
                   {},
                   A::Agreed},
        SessionRow{"one cut short by another",
                   bytes({I, 250, 44, 107, 9, 9}) + kLong + report(0x80),
                   {0x80},
                   {},
                   A::Pending},
        SessionRow{"a stray SE and other commands",
                   bytes({I, 240, I, 241, I, 249}) + report(0x11),
                   {0x11},
                   {},
                   A::Pending}));

struct ChangeRow {
    uint8_t before, after;
    std::array<int, 4> changes; // DCD, DSR, CTS, RI
};

void PrintTo(const ChangeRow &row, std::ostream *os)
{
    *os << int{row.before} << " to " << int{row.after};
}

class ReportChanges : public testing::TestWithParam<ChangeRow>
{
};

TEST_P(ReportChanges, Counted)
{
    const ChangeRow &row = GetParam();
    EXPECT_EQ(reportChanges(row.before, row.after), row.changes);
}

INSTANTIATE_TEST_SUITE_P(Table, ReportChanges,
                         testing::Values(ChangeRow{0x00, 0x00, {0, 0, 0, 0}},
                                         ChangeRow{0x00, 0x99, {1, 0, 1, 0}},
                                         ChangeRow{0xF0, 0x00, {1, 1, 1, 1}},
                                         // Delta bits at the same level: there and back.
                                         ChangeRow{0x00, 0x0F, {2, 2, 2, 2}},
                                         ChangeRow{0xF0, 0xFF, {2, 2, 2, 2}},
                                         // A change with its delta bit is one change.
                                         ChangeRow{0x00, 0x22, {0, 1, 0, 0}}));

struct StatusRow {
    const char *value;
    int code;
    const char *detail;
};

void PrintTo(const StatusRow &row, std::ostream *os)
{
    *os << row.value;
}

class RemoteStatus : public testing::TestWithParam<StatusRow>
{
};

// Never connects: nothing listens at these addresses, and a well-formed one
// is still available. Opening it is refused by the system at once.
TEST_P(RemoteStatus, ToldWithoutConnecting)
{
    const StatusRow &row = GetParam();
    mapNoPorts();
    mapPort(2, row.value);
    const Answer answer = comStatus(2);
    EXPECT_EQ(answer.code, row.code);
    EXPECT_EQ(answer.detail, row.detail);
    EXPECT_EQ(OPENCOM("COM2,1200,N,8,1"), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RemoteStatus,
    testing::Values(StatusRow{"rfc2217://127.0.0.1:1", RSCOM_AVAILABLE,
                              "rfc2217://127.0.0.1:1\tsíťový port RFC 2217\t\t\t\t\t"},
                    StatusRow{"rfc2217://localhost:1", RSCOM_AVAILABLE,
                              "rfc2217://localhost:1\tsíťový port RFC 2217\t\t\t\t\t"},
                    StatusRow{"rfc2217://[::1]:1", RSCOM_AVAILABLE,
                              "rfc2217://[::1]:1\tsíťový port RFC 2217\t\t\t\t\t"},
                    StatusRow{"rfc2217://127.0.0.1", RSCOM_MISSING, "\t\t\t\t\t\t"},
                    StatusRow{"rfc2217://::1:2217", RSCOM_MISSING, "\t\t\t\t\t\t"}));

bool eventually(const std::function<bool()> &holds, int ms)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!holds()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// rfc2217_server.py pyserial-break at RSCOM_TEST_RFC2217: loop:// behind it
// (DCD on, DSR follows DTR, CTS follows RTS); the first break ends the
// connection, and the server is away for a second. The harness checks what
// the server was sent after that: the outputs as last set, with no change
// between.
TEST(RemoteServer, OutputsComeBackAsInputsAndAfterALoss)
{
    // A copy: setting variables may move the environment.
    const char *given = std::getenv("RSCOM_TEST_RFC2217");
    const std::string address = given == nullptr ? "" : given;
    if (address.empty()) GTEST_SKIP() << "no server: tests/windows/remote_wine.sh starts one";
    mapNoPorts();
    mapPort(1, address);
    ASSERT_NE(OPENCOM("COM1,9600,N,8,1"), 0);
    DTR(1);
    EXPECT_TRUE(eventually([] { return lines() == Lines{1, 1, 0, 0}; }, 2000));
    RTS(1);
    EXPECT_TRUE(eventually([] { return lines() == Lines{1, 1, 1, 0}; }, 2000));
    RTS(0);
    EXPECT_TRUE(eventually([] { return lines() == Lines{1, 1, 0, 0}; }, 2000));
    TXD(1);
    EXPECT_TRUE(eventually([] { return lines() == Lines{-1, -1, -1, -1}; }, 2000));
    // A fresh loop:// has RTS on: CTS off shows that the driver set it again.
    EXPECT_TRUE(eventually([] { return lines() == Lines{1, 1, 0, 0}; }, 4000));
    CLOSECOM();
}

} // namespace
