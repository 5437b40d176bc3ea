// COMSTATUS's detail text: seven fields a program can take apart, whatever
// a USB string holds, cut to the caller's room without splitting a character.
#include "core/portstatus.h"

#include <gtest/gtest.h>

#include <string>

using rscom::copyText;
using rscom::detailText;
using rscom::PortInfo;

namespace
{

std::string copied(const std::string &text, int size)
{
    char out[64];
    std::fill(std::begin(out), std::end(out), 'x');
    copyText(text, out, static_cast<std::int16_t>(size));
    return out;
}

TEST(Detail, SevenFieldsJoinedByTabs)
{
    EXPECT_EQ(detailText({}), "\t\t\t\t\t\t");
    EXPECT_EQ(detailText({"/dev/ttyUSB0", "FT232R USB UART", "FTDI", "A12345", "", "", ""}),
              "/dev/ttyUSB0\tFT232R USB UART\tFTDI\tA12345\t\t\t");
    EXPECT_EQ(detailText({"/dev/ttyS1", "", "", "", "dialout", "", ""}),
              "/dev/ttyS1\t\t\t\tdialout\t\t");
    EXPECT_EQ(detailText({"/dev/ttyACM0", "", "", "", "", "minicom", "4242"}),
              "/dev/ttyACM0\t\t\t\t\tminicom\t4242");
}

TEST(Detail, ValuesCannotBreakTheFields)
{
    // Tabs, line ends, escapes and C1 controls inside a USB string.
    EXPECT_EQ(detailText({"", "Dual\tPort\r\nAdapter\x1b[0m",
                          "Ma\x7f"
                          "ker\xc2\x85X",
                          "", "", "", ""}),
              "\tDual Port  Adapter [0m\tMa ker X\t\t\t\t");
    // Bytes that are not UTF-8 are not passed on.
    EXPECT_EQ(detailText({"", "\xff\xfe bad \xc3", "\xe2\x82", "\xc0\xaf\xed\xa0\x80", "", "", ""}),
              "\t?? bad ?\t??\t?????\t\t\t");
    // Good UTF-8 stays as it is.
    EXPECT_EQ(detailText({"", "Převodník €", "Ünïcode 🔌", "", "", "", ""}),
              "\tPřevodník €\tÜnïcode 🔌\t\t\t\t");
}

TEST(Detail, CutToTheRoomNeverInsideACharacter)
{
    EXPECT_EQ(copied("loopback", 100), "loopback");
    EXPECT_EQ(copied("loopback", 9), "loopback");
    EXPECT_EQ(copied("loopback", 8), "loopbac");
    EXPECT_EQ(copied("loopback", 1), "");
    // "ž" takes two bytes, "€" three, "🔌" four.
    EXPECT_EQ(copied("až", 4), "až");
    EXPECT_EQ(copied("až", 3), "a");
    EXPECT_EQ(copied("a€", 4), "a");
    EXPECT_EQ(copied("a€", 5), "a€");
    EXPECT_EQ(copied("a🔌b", 5), "a");
    EXPECT_EQ(copied("a🔌b", 6), "a🔌");
}

TEST(Detail, NoRoomWritesNothing)
{
    char out[4] = "abc";
    copyText("loopback", out, 0);
    EXPECT_STREQ(out, "abc");
    copyText("loopback", out, -1);
    EXPECT_STREQ(out, "abc");
    copyText("loopback", nullptr, 10); // no crash
}

} // namespace
