// COM numbers for devices that have none of their own: built-in UARTs keep
// theirs, every other device takes the lowest free number and keeps it, and
// when COM1 to COM5 are full the absent device seen longest ago gives way.
#include "core/comnumbers.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace rscom;

namespace
{

FoundDevice usb(const std::string &name, const std::string &identity)
{
    return {name, "/dev/" + name, identity, 0};
}

FoundDevice uart(int k)
{
    const std::string name = "ttyS" + std::to_string(k);
    return {name, "/dev/" + name, "tty " + name, k + 1};
}

// The numbers as "number=name" pairs, in order.
std::string numbers(const Numbering &n)
{
    std::string text;
    for (const auto &[number, device] : n.ports)
        text += (text.empty() ? "" : " ") + std::to_string(number) + "=" + device.name;
    return text;
}

class ComNumbers : public testing::Test
{
protected:
    Numbering assign(const std::vector<FoundDevice> &found, std::int64_t at = 100000)
    {
        return assignNumbers(found, memory, reserved, at);
    }

    std::vector<Remembered> memory;
    std::set<int> reserved;
};

TEST_F(ComNumbers, BuiltinUartsHaveTheirOwnNumbersOthersTheLowestFree)
{
    const Numbering n = assign({usb("ttyUSB0", "A"), uart(1), usb("ttyACM0", "B"), uart(3)});
    // ttyACM0 comes before ttyUSB0: devices are numbered in name order.
    EXPECT_EQ(numbers(n), "1=ttyACM0 2=ttyS1 3=ttyUSB0 4=ttyS3");
    EXPECT_TRUE(n.memoryChanged);
    // Only devices without a number of their own are remembered.
    EXPECT_EQ(memory, (std::vector<Remembered>{{1, 100000, "B"}, {3, 100000, "A"}}));
    EXPECT_EQ(n.ports.at(3).path, "/dev/ttyUSB0");
}

TEST_F(ComNumbers, NamesAreOrderedAsPeopleRead)
{
    const Numbering n = assign({usb("ttyUSB10", "X"), usb("ttyUSB2", "Y"), usb("ttyACM1", "Z")});
    EXPECT_EQ(numbers(n), "1=ttyACM1 2=ttyUSB2 3=ttyUSB10");
    EXPECT_TRUE(namedBefore("ttyUSB9", "ttyUSB10"));
    EXPECT_FALSE(namedBefore("ttyUSB10", "ttyUSB9"));
    EXPECT_TRUE(namedBefore("ttyAMA0", "ttyUSB0"));
}

TEST_F(ComNumbers, ADeviceKeepsItsNumberWhenUnpluggedAndRenamed)
{
    assign({usb("ttyUSB0", "adapter A"), usb("ttyUSB1", "adapter B")});
    // A is unplugged; a new adapter does not take its number.
    Numbering n = assign({usb("ttyUSB1", "adapter B"), usb("ttyUSB0", "adapter C")});
    EXPECT_EQ(numbers(n), "2=ttyUSB1 3=ttyUSB0");
    // A comes back under another name, and has its number again.
    n = assign({usb("ttyUSB3", "adapter A"), usb("ttyUSB1", "adapter B")});
    EXPECT_EQ(numbers(n), "1=ttyUSB3 2=ttyUSB1");
    EXPECT_FALSE(n.memoryChanged);
}

TEST_F(ComNumbers, WhenOneToFiveAreFullTheOldestAbsentDeviceGivesWay)
{
    memory = {
        {1, 500, "one"}, {2, 100, "two"}, {3, 300, "three"}, {4, 200, "four"}, {5, 400, "five"}};
    // "two" was seen longest ago: its number goes to the new device.
    Numbering n = assign({usb("ttyUSB0", "new"), usb("ttyUSB1", "three")});
    EXPECT_EQ(numbers(n), "2=ttyUSB0 3=ttyUSB1");
    EXPECT_EQ(std::count_if(memory.begin(), memory.end(),
                            [](const Remembered &r) { return r.identity == "two"; }),
              0);
    // The next new device takes "four"'s, then "five"'s; present ones stay.
    n = assign({usb("ttyUSB0", "new"), usb("ttyUSB1", "three"), usb("ttyUSB2", "newer"),
                usb("ttyUSB3", "newest")});
    EXPECT_EQ(numbers(n), "2=ttyUSB0 3=ttyUSB1 4=ttyUSB2 5=ttyUSB3");
    // "two" comes back: it is a new device now, and the last of the five
    // absent ones ("one") gives way.
    n = assign({usb("ttyUSB0", "new"), usb("ttyUSB1", "three"), usb("ttyUSB2", "newer"),
                usb("ttyUSB3", "newest"), usb("ttyUSB4", "two")});
    EXPECT_EQ(n.ports.at(1).identity, "two");
}

TEST_F(ComNumbers, BeyondFiveOnlyWhenFivePresentDevicesHoldThem)
{
    std::vector<FoundDevice> found;
    for (int i = 0; i < 7; ++i)
        found.push_back(usb("ttyUSB" + std::to_string(i), "dev" + std::to_string(i)));
    const Numbering n = assign(found);
    EXPECT_EQ(numbers(n), "1=ttyUSB0 2=ttyUSB1 3=ttyUSB2 4=ttyUSB3 5=ttyUSB4 6=ttyUSB5 7=ttyUSB6");
    // With an absent device remembered at 6, a new one that finds 1 to 5
    // full of present devices takes 8, and 6 stays kept.
    found.erase(found.begin() + 5);
    found.push_back(usb("ttyUSB9", "dev9"));
    EXPECT_EQ(assign(found).ports.at(8).identity, "dev9");
}

TEST_F(ComNumbers, NumbersNamedByVariablesAreLeftOut)
{
    reserved = {1, 2};
    Numbering n = assign({usb("ttyUSB0", "A"), uart(0)});
    // ttyS0's own number is taken by the variable; it gets no other.
    EXPECT_EQ(numbers(n), "3=ttyUSB0");
    // A remembered device whose number a variable takes now moves.
    reserved = {1, 3};
    n = assign({usb("ttyUSB0", "A")});
    EXPECT_EQ(numbers(n), "2=ttyUSB0");
    EXPECT_EQ(memory, (std::vector<Remembered>{{2, 100000, "A"}}));
}

TEST_F(ComNumbers, ABuiltinUartThatAppearsTakesItsNumberBack)
{
    assign({usb("ttyUSB0", "A")}); // COM1, the empty slot ttyS0's number
    const Numbering n = assign({usb("ttyUSB0", "A"), uart(0)});
    EXPECT_EQ(numbers(n), "1=ttyS0 2=ttyUSB0");
}

TEST_F(ComNumbers, SightingsAreWrittenDownOnceAnHour)
{
    assign({usb("ttyUSB0", "A")}, 1000);
    EXPECT_FALSE(assign({usb("ttyUSB0", "A")}, 1000 + kSightingPeriod - 1).memoryChanged);
    EXPECT_EQ(memory[0].lastSeen, 1000);
    EXPECT_TRUE(assign({usb("ttyUSB0", "A")}, 1000 + kSightingPeriod).memoryChanged);
    EXPECT_EQ(memory[0].lastSeen, 1000 + kSightingPeriod);
    // A clock set back is believed.
    EXPECT_TRUE(assign({usb("ttyUSB0", "A")}, 10).memoryChanged);
    EXPECT_EQ(memory[0].lastSeen, 10);
}

TEST(NumbersFile, RoundTrip)
{
    const std::vector<Remembered> memory{
        {3, 1765267200, "usb 0403:6001 serial A12345 interface 00"},
        {1, 5, "usb port 1-1.2 interface 01"}};
    const std::string text = memoryText(memory);
    EXPECT_EQ(text.substr(text.find("\n1\t")),
              "\n1\t5\tusb port 1-1.2 interface 01\n"
              "3\t1765267200\tusb 0403:6001 serial A12345 interface 00\n");
    bool damaged = true;
    const std::vector<Remembered> back = readMemory(text, damaged);
    EXPECT_FALSE(damaged);
    EXPECT_EQ(back, (std::vector<Remembered>{memory[1], memory[0]}));
}

TEST(NumbersFile, DamagedLinesAreDroppedAndTold)
{
    bool damaged = false;
    EXPECT_TRUE(readMemory("", damaged).empty());
    EXPECT_FALSE(damaged);
    for (const char *text :
         {"garbage\n", "0\t5\tA\n", "256\t5\tA\n", "2\t-5\tA\n", "2\t5\t\n", "2\t5\n", "x2\t5\tA\n",
          "2\t5\tA", "2\t5\tA\n2\t6\tB\n", "2\t5\tA\n3\t6\tA\n", "\x01\x02\x03\xff", "+2\t5\tA\n",
          "2\t 5\tA\n", "2\t99999999999999999999\tA\n", "18446744073709551618\t5\tA\n"}) {
        damaged = false;
        const std::vector<Remembered> memory = readMemory(text, damaged);
        EXPECT_TRUE(damaged) << text;
        EXPECT_LE(memory.size(), 1u) << text;
    }
    const std::vector<Remembered> kept =
        readMemory("# a comment\n2\t5\tA\nnonsense\n4\t7\tB\n", damaged);
    EXPECT_TRUE(damaged);
    EXPECT_EQ(kept, (std::vector<Remembered>{{2, 5, "A"}, {4, 7, "B"}}));
}

} // namespace
