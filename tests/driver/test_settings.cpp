// The settings string parser: what opens a port and what does not. The same
// answers on every platform, whatever the width of its integers.
#include "core/settings.h"

#include <gtest/gtest.h>

#include <string>

using rscom::Parity;
using rscom::Settings;

namespace
{

struct Accepted {
    const char *text;
    Settings settings;
};

void PrintTo(const Accepted &a, std::ostream *os)
{
    *os << '"' << a.text << '"';
}

class SettingsAccepted : public testing::TestWithParam<Accepted>
{
};

TEST_P(SettingsAccepted, Parsed)
{
    const auto s = rscom::parseSettings(GetParam().text);
    ASSERT_TRUE(s.has_value());
    const Settings &want = GetParam().settings;
    EXPECT_EQ(s->port, want.port);
    EXPECT_EQ(s->baud, want.baud);
    EXPECT_EQ(s->parity, want.parity);
    EXPECT_EQ(s->dataBits, want.dataBits);
    EXPECT_EQ(s->stopBits, want.stopBits);
}

INSTANTIATE_TEST_SUITE_P(
    Table, SettingsAccepted,
    testing::Values(Accepted{"COM1,1200,N,8,1", {1, 1200, Parity::None, 8, 1}},
                    Accepted{"COM5,1200,N,8,1", {5, 1200, Parity::None, 8, 1}},
                    Accepted{"COM255,9600,E,7,2", {255, 9600, Parity::Even, 7, 2}},
                    Accepted{"COM2,300,O,5,1", {2, 300, Parity::Odd, 5, 1}},
                    Accepted{"COM3,115200,M,6,2", {3, 115200, Parity::Mark, 6, 2}},
                    Accepted{"COM4,1,S,8,1", {4, 1, Parity::Space, 8, 1}},
                    Accepted{"COM1,2147483647,N,8,1", {1, 2147483647, Parity::None, 8, 1}}));

class SettingsRefused : public testing::TestWithParam<const char *>
{
};

TEST_P(SettingsRefused, NotParsed)
{
    EXPECT_FALSE(rscom::parseSettings(GetParam()).has_value());
}

INSTANTIATE_TEST_SUITE_P(Table, SettingsRefused,
                         testing::Values("", "COM1", "COM0,1200,N,8,1", "COM256,1200,N,8,1",
                                         "COM01,1200,N,8,1", "COM,1200,N,8,1", "com1,1200,N,8,1",
                                         "LPT1,1200,N,8,1", "COM1,0,N,8,1", "COM1,-1200,N,8,1",
                                         // Past a 32-bit integer, and far past a 64-bit one:
                                         // a step that overflowed would wrap round to a
                                         // small baud rate.
                                         "COM1,2147483648,N,8,1", "COM1,4294968496,N,8,1",
                                         "COM1,18446744073709552816,N,8,1",
                                         "COM4294967297,1200,N,8,1", "COM1,01200,N,8,1",
                                         "COM1,fast,N,8,1", "COM1,1200,X,8,1", "COM1,1200,n,8,1",
                                         "COM1,1200,NO,8,1", "COM1,1200,N,4,1", "COM1,1200,N,9,1",
                                         "COM1,1200,N,8,0", "COM1,1200,N,8,3", "COM1,1200,N,8,1.5",
                                         "COM1,1200,N,8", "COM1,1200,N,,1", "COM1,1200,N,8,1,",
                                         "COM1,1200,N,8,1x", "COM1, 1200, N, 8, 1",
                                         " COM1,1200,N,8,1", "COM1:1200,N,8,1"));

TEST(Settings, RefusesNullAndOverlongText)
{
    EXPECT_FALSE(rscom::parseSettings(nullptr).has_value());

    // Valid in form, but longer than any settings string can be.
    std::string padded = "COM1,";
    padded += std::string(static_cast<size_t>(rscom::kMaxSettingsLength), '0');
    padded += "1200,N,8,1";
    EXPECT_FALSE(rscom::parseSettings(padded.c_str()).has_value());
}

} // namespace
