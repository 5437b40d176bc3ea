// The Linux driver on a system tree the test makes: sysfs with built-in
// UARTs, empty slots and USB adapters, /proc with consoles, locks and other
// programs' descriptors, lock folders and the numbers' file. Device nodes are
// stand-ins: links to harmless character devices (/dev/zero and the like),
// which nothing here opens.
#include "core/platform.h"
#include "linux/numbers.h"
#include "linux/system.h"
#include "testenv.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace rscom;

namespace
{

// The stand-ins: each tty of a tree gets its own.
constexpr const char *kZero = "/dev/zero";
constexpr const char *kFull = "/dev/full";
constexpr const char *kRandom = "/dev/random";
constexpr const char *kUrandom = "/dev/urandom";

class FakeSystem
{
public:
    FakeSystem()
    {
        char folder[] = "/tmp/rscom-fake-system-XXXXXX";
        root = ::mkdtemp(folder);
        for (const char *f : {"sys/class/tty", "sys/class/mem", "sys/dev/char", "sys/devices",
                              "proc", "dev", "run/lock", "var/lock"})
            fs::create_directories(path(f));
        systemPaths().root = root;
        systemPaths().stateFolder = path("state/rscom");
    }

    ~FakeSystem()
    {
        systemPaths() = SystemPaths{};
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }

    std::string path(const std::string &relative) const { return root + "/" + relative; }
    std::string node(const std::string &name) const { return path("dev/" + name); }

    void write(const std::string &relative, const std::string &text) const
    {
        fs::create_directories(fs::path(path(relative)).parent_path());
        std::ofstream(path(relative)) << text;
    }

    // A tty whose device is the folder `device` under sys/devices (none for a
    // virtual one); its node is a link to `standIn`. Returns its folder.
    std::string tty(const std::string &name, const std::string &device,
                    const std::string &standIn) const
    {
        const std::string owner = path("sys/devices/" + (device.empty() ? "virtual" : device));
        const std::string folder = owner + "/tty/" + name;
        fs::create_directories(folder);
        if (!device.empty()) fs::create_directory_symlink(owner, folder + "/device");
        fs::create_directory_symlink(path("sys/class/tty"), folder + "/subsystem");
        fs::create_directory_symlink(folder, path("sys/class/tty/" + name));
        if (!standIn.empty()) plugNode(name, folder, standIn);
        return folder;
    }

    void builtinUart(int k, int type, const std::string &standIn = {}) const
    {
        const std::string folder = tty("ttyS" + std::to_string(k), "platform/serial8250", standIn);
        write(fs::relative(folder, root).string() + "/type", std::to_string(type) + "\n");
    }

    // A USB adapter's tty `name` at the USB port `place` (1-1), on the
    // adapter's interface `interface`. A ttyACM's device is the interface
    // itself; a ttyUSB's is a port folder below it.
    void usb(const std::string &name, const std::string &place, const std::string &serial,
             const std::string &product = "FT232R USB UART", const std::string &maker = "FTDI",
             int interface = 0, bool acm = false, const std::string &standIn = {}) const
    {
        const std::string device = "pci0000:00/0000:00:14.0/usb1/" + place;
        const std::string face = device + "/" + place + ":1." + std::to_string(interface);
        write("sys/devices/" + device + "/idVendor", "0403\n");
        write("sys/devices/" + device + "/idProduct", "6001\n");
        write("sys/devices/" + device + "/product", product + "\n");
        write("sys/devices/" + device + "/manufacturer", maker + "\n");
        if (!serial.empty()) write("sys/devices/" + device + "/serial", serial + "\n");
        write("sys/devices/" + face + "/bInterfaceNumber", "0" + std::to_string(interface) + "\n");
        if (acm) {
            tty(name, face, standIn);
        } else {
            write("sys/devices/" + face + "/" + name + "/port_number", "0\n");
            tty(name, face + "/" + name, standIn);
        }
    }

    // The tty and its node go; its device's folders stay, as a replugged
    // device's would come back.
    void unplug(const std::string &name) const
    {
        const std::string folder = fs::canonical(path("sys/class/tty/" + name)).string();
        fs::remove(path("sys/class/tty/" + name));
        fs::remove(node(name));
        fs::remove_all(folder);
    }

    // A device that is no tty: /dev/null's kind.
    void memoryDevice(const std::string &name, const std::string &standIn) const
    {
        const std::string folder = path("sys/devices/virtual/mem/" + name);
        fs::create_directories(folder);
        fs::create_directory_symlink(path("sys/class/mem"), folder + "/subsystem");
        plugNode(name, folder, standIn);
    }

    std::string root;

private:
    void plugNode(const std::string &name, const std::string &folder,
                  const std::string &standIn) const
    {
        fs::create_symlink(standIn, node(name));
        struct stat st {
        };
        ::stat(standIn.c_str(), &st);
        const std::string number =
            std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
        fs::create_directory_symlink(folder, path("sys/dev/char/" + number));
    }
};

// "1=ttyS0 2=ttyUSB0"
std::string numbered(DeviceNumbers &keeper)
{
    std::string text;
    for (const auto &[number, device] : keeper.numbers())
        text += (text.empty() ? "" : " ") + std::to_string(number) + "=" + device.name;
    return text;
}

std::string readFile(const std::string &path)
{
    std::ifstream in(path);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

class LinuxSystem : public testing::Test
{
protected:
    void SetUp() override
    {
        for (int n = 1; n <= 255; ++n)
            unsetVariable("RSCOM_COM" + std::to_string(n));
    }

    // COMSTATUS of a device named by its path.
    Answer statusOf(const std::string &path)
    {
        mapPort(9, path);
        const Answer answer = comStatus(9);
        unsetVariable("RSCOM_COM9");
        return answer;
    }

    FakeSystem system;
};

// --- numbering ---------------------------------------------------------------

TEST_F(LinuxSystem, BuiltinUartsAndAdaptersAreNumberedWithoutEmptySlots)
{
    system.builtinUart(0, 4);
    system.builtinUart(1, 0); // an empty slot: its number is free
    system.builtinUart(2, 4);
    system.usb("ttyUSB0", "1-1", "A12345");
    system.usb("ttyACM0", "1-2", "", "Arduino Uno", "Arduino", 0, true);
    system.tty("tty1", "", ""); // a virtual console
    DeviceNumbers keeper;
    EXPECT_EQ(numbered(keeper), "1=ttyS0 2=ttyACM0 3=ttyS2 4=ttyUSB0");
    EXPECT_EQ(keeper.numbers().at(4).path, system.node("ttyUSB0"));
}

TEST_F(LinuxSystem, AnAdapterWithASerialNumberKeepsItsNumberWhereverItIsPlugged)
{
    system.usb("ttyUSB0", "1-1", "AAA111");
    system.usb("ttyUSB1", "1-2", "BBB222");
    DeviceNumbers keeper;
    EXPECT_EQ(numbered(keeper), "1=ttyUSB0 2=ttyUSB1");
    system.unplug("ttyUSB0");
    system.unplug("ttyUSB1");
    // Replugged the other way round: the kernel names them the other way too.
    system.usb("ttyUSB0", "1-1", "BBB222");
    system.usb("ttyUSB1", "1-3", "AAA111");
    EXPECT_EQ(numbered(keeper), "1=ttyUSB1 2=ttyUSB0");
}

TEST_F(LinuxSystem, AnAdapterWithoutSerialNumberIsKnownByItsPlace)
{
    system.usb("ttyUSB0", "1-2", "");
    DeviceNumbers keeper;
    EXPECT_EQ(numbered(keeper), "1=ttyUSB0");
    system.unplug("ttyUSB0");
    system.usb("ttyUSB4", "1-2", ""); // same socket, new name
    system.usb("ttyUSB5", "1-4", ""); // the same kind of adapter elsewhere
    EXPECT_EQ(numbered(keeper), "1=ttyUSB4 2=ttyUSB5");
}

TEST_F(LinuxSystem, EachPortOfATwoPortAdapterHasItsOwnNumber)
{
    system.usb("ttyUSB0", "1-1", "DUAL1", "Dual RS232", "FTDI", 0);
    system.usb("ttyUSB1", "1-1", "DUAL1", "Dual RS232", "FTDI", 1);
    DeviceNumbers keeper;
    EXPECT_EQ(numbered(keeper), "1=ttyUSB0 2=ttyUSB1");
    system.unplug("ttyUSB0");
    system.unplug("ttyUSB1");
    system.usb("ttyUSB2", "1-1", "DUAL1", "Dual RS232", "FTDI", 1);
    system.usb("ttyUSB3", "1-1", "DUAL1", "Dual RS232", "FTDI", 0);
    EXPECT_EQ(numbered(keeper), "1=ttyUSB3 2=ttyUSB2");
}

TEST_F(LinuxSystem, NumbersAreWrittenDownWhenGivenAndSurviveARestart)
{
    system.usb("ttyUSB1", "1-1", "BBB222");
    DeviceNumbers first;
    EXPECT_EQ(numbered(first), "1=ttyUSB1");
    const std::string text = readFile(system.path("state/rscom/ports"));
    EXPECT_NE(text.find("\n1\t"), std::string::npos) << text;
    EXPECT_NE(text.find("\tusb 0403:6001 serial BBB222 interface 00\n"), std::string::npos) << text;

    // Another program, or this one started again: without the memory
    // ttyUSB0 would come first.
    system.usb("ttyUSB0", "1-2", "AAA111");
    DeviceNumbers second;
    EXPECT_EQ(numbered(second), "1=ttyUSB1 2=ttyUSB0");
    EXPECT_EQ(numbered(first), "1=ttyUSB1 2=ttyUSB0");
    EXPECT_FALSE(fs::exists(system.path("state/rscom/ports.") + std::to_string(::getpid())));
}

TEST_F(LinuxSystem, ADamagedFileIsWrittenAnew)
{
    system.write("state/rscom/ports", "2\t100\tusb port 1-2 interface 00\n\x01garbage\n7\n");
    system.usb("ttyUSB0", "1-2", "");
    system.usb("ttyUSB1", "1-3", "");
    DeviceNumbers keeper;
    // What could be read is kept: 1-2's adapter is COM2.
    EXPECT_EQ(numbered(keeper), "1=ttyUSB1 2=ttyUSB0");
    const std::string text = readFile(system.path("state/rscom/ports"));
    EXPECT_EQ(text.find("garbage"), std::string::npos);
    bool damaged = true;
    EXPECT_EQ(readMemory(text, damaged).size(), 2u);
    EXPECT_FALSE(damaged);
}

TEST_F(LinuxSystem, WithoutAFileToWriteNumbersAreGivenInOrder)
{
    system.write("not-a-folder", "");
    systemPaths().stateFolder = system.path("not-a-folder/rscom");
    system.usb("ttyUSB1", "1-1", "BBB222");
    DeviceNumbers keeper;
    EXPECT_EQ(numbered(keeper), "1=ttyUSB1");
    system.usb("ttyUSB0", "1-2", "AAA111");
    // This program still keeps what it gave ...
    EXPECT_EQ(numbered(keeper), "1=ttyUSB1 2=ttyUSB0");
    // ... but the next one numbers in name order.
    DeviceNumbers next;
    EXPECT_EQ(numbered(next), "1=ttyUSB0 2=ttyUSB1");
}

TEST_F(LinuxSystem, WhenOneToFiveAreTakenTheAdapterSeenLongestAgoGivesWay)
{
    system.write("state/rscom/ports", "1\t500\tusb port 9-1\n"
                                      "2\t100\tusb port 9-2\n"
                                      "3\t300\tusb port 9-3\n"
                                      "4\t200\tusb port 9-4\n"
                                      "5\t400\tusb port 9-5\n");
    system.usb("ttyUSB0", "1-1", "NEW");
    DeviceNumbers keeper;
    EXPECT_EQ(numbered(keeper), "2=ttyUSB0");
    EXPECT_EQ(readFile(system.path("state/rscom/ports")).find("9-2"), std::string::npos);
}

TEST_F(LinuxSystem, VariablesWinOverNumbers)
{
    system.usb("ttyUSB0", "1-1", "AAA111");
    system.usb("ttyACM0", "1-2", "", "Arduino Uno", "Arduino", 0, true);
    system.builtinUart(0, 4);
    mapPort(1, "loopback");             // ttyS0's own number
    mapPort(2, system.node("ttyACM0")); // this device by its path
    mapPort(3, "none");                 // and no port at all
    DeviceNumbers keeper;
    EXPECT_EQ(numbered(keeper), "4=ttyUSB0");
}

TEST_F(LinuxSystem, TheNumbersFileLivesInTheUsersStateFolder)
{
    systemPaths().stateFolder.clear();
    system.usb("ttyUSB0", "1-1", "AAA111");
    setVariable("XDG_STATE_HOME", system.path("xdg"));
    DeviceNumbers{}.numbers();
    EXPECT_TRUE(fs::exists(system.path("xdg/rscom/ports")));

    // A relative XDG_STATE_HOME is not used; HOME's default is.
    const char *home = std::getenv("HOME");
    const std::string savedHome = home != nullptr ? home : "";
    setVariable("XDG_STATE_HOME", "relative/state");
    setVariable("HOME", system.path("home"));
    DeviceNumbers{}.numbers();
    EXPECT_TRUE(fs::exists(system.path("home/.local/state/rscom/ports")));
    EXPECT_FALSE(fs::exists("relative/state"));
    unsetVariable("XDG_STATE_HOME");
    setVariable("HOME", savedHome);
}

// --- what COMSTATUS tells --------------------------------------------------

TEST_F(LinuxSystem, AnAdapterIsAvailableWithWhatItTellsOfItself)
{
    system.usb("ttyUSB0", "1-1", "A12345", "FT232R USB UART", "FTDI", 0, false, kUrandom);
    const std::string detail = system.node("ttyUSB0") + "\tFT232R USB UART\tFTDI\tA12345\t\t\t";
    EXPECT_EQ(statusOf(system.node("ttyUSB0")).code, RSCOM_AVAILABLE);
    EXPECT_EQ(statusOf(system.node("ttyUSB0")).detail, detail);
    // Numbered by itself as well: the only device is COM1.
    const Answer numbered = comStatus(1);
    EXPECT_EQ(numbered.code, RSCOM_AVAILABLE);
    EXPECT_EQ(numbered.detail, detail);
    EXPECT_EQ(comStatus(2).code, RSCOM_MISSING);
    EXPECT_EQ(comStatus(2).detail, "\t\t\t\t\t\t");
}

TEST_F(LinuxSystem, MissingDevicesAndPorts)
{
    EXPECT_EQ(statusOf(system.node("ttyUSB7")).code, RSCOM_MISSING);
    EXPECT_EQ(statusOf(system.node("ttyUSB7")).detail, system.node("ttyUSB7") + "\t\t\t\t\t\t");
    mapPort(3, "none");
    EXPECT_EQ(comStatus(3).code, RSCOM_MISSING);
    unsetVariable("RSCOM_COM3");
}

TEST_F(LinuxSystem, ConsolesAreToldFromProcAndFromSysfs)
{
    system.builtinUart(0, 4, kZero);
    system.builtinUart(1, 4, kFull);
    EXPECT_EQ(statusOf(system.node("ttyS0")).code, RSCOM_AVAILABLE);
    // /proc/consoles names the device by its number.
    system.write("proc/consoles", "tty0                 -WU (E  p  )    4:1\n"
                                  "ttyS0                -W- (EC p a)    1:5\n");
    EXPECT_EQ(statusOf(system.node("ttyS0")).code, RSCOM_CONSOLE);
    EXPECT_EQ(comStatus(1).code, RSCOM_CONSOLE);
    // sysfs's console attribute says it as well.
    system.write("sys/devices/platform/serial8250/tty/ttyS1/console", "Y\n");
    EXPECT_EQ(statusOf(system.node("ttyS1")).code, RSCOM_CONSOLE);
}

TEST_F(LinuxSystem, WhatIsNoSerialLine)
{
    system.builtinUart(2, 0, kRandom); // a slot with no UART
    system.memoryDevice("null", kZero);
    system.tty("tty1", "", kFull); // a virtual console
    system.write("dev/file", "");
    fs::create_directory(system.path("dev/folder"));
    ASSERT_EQ(::mkfifo(system.path("dev/fifo").c_str(), 0600), 0);
    for (const char *name : {"ttyS2", "null", "tty1", "file", "folder", "fifo"})
        EXPECT_EQ(statusOf(system.node(name)).code, RSCOM_NOT_SERIAL) << name;
    // The numbering leaves the empty slot out.
    EXPECT_EQ(comStatus(3).code, RSCOM_MISSING);
}

TEST_F(LinuxSystem, InUseByALockOnTheNode)
{
    system.usb("ttyUSB0", "1-1", "A1", "FT232R USB UART", "FTDI", 0, false, kUrandom);
    struct stat node {
    };
    ASSERT_EQ(::stat(system.node("ttyUSB0").c_str(), &node), 0);
    char id[64];
    std::snprintf(id, sizeof id, "%02x:%02x:%llu", major(node.st_dev), minor(node.st_dev),
                  static_cast<unsigned long long>(node.st_ino));
    system.write("proc/4242/comm", "minicom\n");
    system.write("proc/" + std::to_string(::getpid()) + "/comm", "ourselves\n");
    // Locks that name no other live holder: one being waited for, an
    // open-file-description lock, our own, and one of a process gone.
    system.write("proc/locks", "1: FLOCK  ADVISORY  WRITE 99 00:05:1 0 EOF\n"
                               "2: -> FLOCK  ADVISORY  WRITE 4242 " +
                                   std::string(id) +
                                   " 0 EOF\n"
                                   "3: OFDLCK ADVISORY  WRITE -1 " +
                                   id +
                                   " 0 EOF\n"
                                   "4: FLOCK  ADVISORY  WRITE " +
                                   std::to_string(::getpid()) + " " + id +
                                   " 0 EOF\n"
                                   "5: POSIX  ADVISORY  WRITE 5151 " +
                                   id + " 0 EOF\n");
    EXPECT_EQ(statusOf(system.node("ttyUSB0")).code, RSCOM_AVAILABLE);

    system.write("proc/locks", "1: FLOCK  ADVISORY  WRITE 4242 " + std::string(id) + " 0 EOF\n");
    const Answer answer = statusOf(system.node("ttyUSB0"));
    EXPECT_EQ(answer.code, RSCOM_IN_USE);
    EXPECT_EQ(answer.detail,
              system.node("ttyUSB0") + "\tFT232R USB UART\tFTDI\tA1\t\tminicom\t4242");
}

TEST_F(LinuxSystem, InUseByAUucpLockFile)
{
    system.usb("ttyUSB0", "1-1", "A1", "FT232R USB UART", "FTDI", 0, false, kUrandom);
    // A lock file of a process that is gone does not count.
    system.write("run/lock/LCK..ttyUSB0", "      4243\n");
    EXPECT_EQ(statusOf(system.node("ttyUSB0")).code, RSCOM_AVAILABLE);
    system.write("proc/4243/comm", "cu\n");
    Answer answer = statusOf(system.node("ttyUSB0"));
    EXPECT_EQ(answer.code, RSCOM_IN_USE);
    EXPECT_NE(answer.detail.find("\tcu\t4243"), std::string::npos) << answer.detail;

    // In /var/lock, with the pid as four bytes.
    fs::remove(system.path("run/lock/LCK..ttyUSB0"));
    const std::int32_t pid = 4243;
    system.write("var/lock/LCK..ttyUSB0", std::string(reinterpret_cast<const char *>(&pid), 4));
    EXPECT_EQ(statusOf(system.node("ttyUSB0")).code, RSCOM_IN_USE);
}

TEST_F(LinuxSystem, InUseByAnotherProgramsDescriptor)
{
    system.usb("ttyUSB0", "1-1", "A1", "FT232R USB UART", "FTDI", 0, false, kUrandom);
    system.usb("ttyUSB1", "1-2", "B2", "FT232R USB UART", "FTDI", 0, false, kFull);
    // Another program with ttyUSB1 open, and this one with ttyUSB0.
    const std::string own = std::to_string(::getpid());
    system.write("proc/" + own + "/comm", "ourselves\n");
    fs::create_directories(system.path("proc/" + own + "/fd"));
    fs::create_symlink(system.node("ttyUSB0"), system.path("proc/" + own + "/fd/3"));
    system.write("proc/777/comm", "screen\n");
    fs::create_directories(system.path("proc/777/fd"));
    fs::create_symlink("socket:[1234]", system.path("proc/777/fd/0"));
    fs::create_symlink(system.node("ttyUSB1"), system.path("proc/777/fd/4"));

    EXPECT_EQ(statusOf(system.node("ttyUSB0")).code, RSCOM_AVAILABLE);
    const Answer answer = statusOf(system.node("ttyUSB1"));
    EXPECT_EQ(answer.code, RSCOM_IN_USE);
    EXPECT_NE(answer.detail.find("\tscreen\t777"), std::string::npos) << answer.detail;
}

// The holders found in one look are kept while the kernel tells that nobody
// opened or closed the device: a program that opens it right after an answer
// is in the next one, and its end frees the port at the next one.
TEST_F(LinuxSystem, AHolderThatOpensOrEndsIsSeenAtTheNextAnswer)
{
    system.usb("ttyUSB0", "1-1", "A1", "FT232R USB UART", "FTDI", 0, false, kFull);
    const std::string node = system.node("ttyUSB0");
    EXPECT_EQ(statusOf(node).code, RSCOM_AVAILABLE);
    EXPECT_EQ(statusOf(node).code, RSCOM_AVAILABLE);

    int go[2], opened[2];
    ASSERT_EQ(::pipe(go), 0);
    ASSERT_EQ(::pipe(opened), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(go[1]);
        ::close(opened[0]);
        char c = 0;
        if (::read(go[0], &c, 1) != 1) ::_exit(2);
        const int fd = ::open(node.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0 || ::write(opened[1], "o", 1) != 1) ::_exit(3);
        ::read(go[0], &c, 1); // until the test lets go
        ::_exit(0);
    }
    // The child as the system tree shows it, then its open.
    const std::string entry = "proc/" + std::to_string(child);
    system.write(entry + "/comm", "holder\n");
    fs::create_directories(system.path(entry + "/fd"));
    fs::create_symlink(node, system.path(entry + "/fd/5"));
    char c = 0;
    ::close(go[0]);
    ::close(opened[1]);
    ASSERT_EQ(::write(go[1], "g", 1), 1);
    ASSERT_EQ(::read(opened[0], &c, 1), 1);
    const Answer held = statusOf(node);
    EXPECT_EQ(held.code, RSCOM_IN_USE);
    EXPECT_NE(held.detail.find("\tholder\t" + std::to_string(child)), std::string::npos);

    fs::remove_all(system.path(entry));
    ::close(go[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    EXPECT_EQ(statusOf(node).code, RSCOM_AVAILABLE);
    ::close(opened[0]);
}

// With RSCOM_DEBUG=1 each refusal is one line on standard error that says
// why; without it nothing is written.
TEST_F(LinuxSystem, RscomDebugTellsWhyEachRefusal)
{
    system.builtinUart(0, 4, kZero);
    system.usb("ttyUSB1", "1-2", "B2", "FT232R USB UART", "FTDI", 0, false, kFull);
    system.write("proc/consoles", "ttyS0                -W- (EC p a)    1:5\n");
    system.write("proc/777/comm", "screen\n");
    fs::create_directories(system.path("proc/777/fd"));
    fs::create_symlink(system.node("ttyUSB1"), system.path("proc/777/fd/4"));
    system.write("dev/file", "");
    mapPort(2, "none");

    setVariable("RSCOM_DEBUG", "1");
    testing::internal::CaptureStderr();
    EXPECT_EQ(OPENCOM("COM1,12x0,N,8,1"), 0);
    comStatus(2);
    for (const char *name : {"ttyUSB7", "ttyS0", "ttyUSB1", "file"})
        statusOf(system.node(name));
    mapPort(9, system.node("ttyUSB1"));
    EXPECT_EQ(OPENCOM("COM9,1200,N,8,1"), 0);
    const std::string told = testing::internal::GetCapturedStderr();
    const std::string about = "rscom: COMSTATUS COM9 " + system.path("dev/");
    EXPECT_EQ(told, "rscom: OPENCOM: not valid settings \"COM1,12x0,N,8,1\"\n"
                    "rscom: COMSTATUS COM2: no such port\n" +
                        about + "ttyUSB7: No such file or directory\n" + about +
                        "ttyS0: a system console\n" + about +
                        "ttyUSB1: in use by screen (PID 777)\n" + about +
                        "file: not a serial line with modem-control lines\n"
                        "rscom: OPENCOM COM9 " +
                        system.node("ttyUSB1") + ": in use by screen (PID 777)\n");

    unsetVariable("RSCOM_DEBUG");
    testing::internal::CaptureStderr();
    EXPECT_EQ(OPENCOM("COM9,1200,N,8,1"), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    unsetVariable("RSCOM_COM2");
    unsetVariable("RSCOM_COM9");
}

// Someone may not read and write the device: the group to join is named
// when joining it would help. Needs a node with an owner of the test's
// choosing, and a user who is not root.
TEST_F(LinuxSystem, NoPermissionNamesTheGroup)
{
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make device nodes and change user";
    system.builtinUart(1, 4, kFull);
    system.builtinUart(2, 4, kRandom);
    struct stat full {
    };
    ASSERT_EQ(::stat(kFull, &full), 0);
    struct stat random {
    };
    ASSERT_EQ(::stat(kRandom, &random), 0);
    // The nodes themselves, not links: their modes and groups count.
    for (const char *name : {"ttyS1", "ttyS2"})
        fs::remove(system.node(name));
    ASSERT_EQ(::mknod(system.node("ttyS1").c_str(), S_IFCHR | 0660, full.st_rdev), 0);
    ASSERT_EQ(::chown(system.node("ttyS1").c_str(), 0, 20), 0);
    ASSERT_EQ(::chmod(system.node("ttyS1").c_str(), 0660), 0);
    ASSERT_EQ(::mknod(system.node("ttyS2").c_str(), S_IFCHR | 0600, random.st_rdev), 0);
    ASSERT_EQ(::chmod(system.path("").c_str(), 0755), 0);

    int pipe[2];
    ASSERT_EQ(::pipe(pipe), 0);
    const pid_t child = ::fork();
    if (child == 0) {
        ::close(pipe[0]);
        if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(2);
        std::string out;
        for (const char *name : {"ttyS1", "ttyS2"}) {
            const Answer a = statusOf(system.node(name));
            out += std::to_string(a.code) + "|" + a.detail + "\n";
        }
        ::_exit(::write(pipe[1], out.data(), out.size()) == static_cast<ssize_t>(out.size()) ? 0
                                                                                             : 3);
    }
    ::close(pipe[1]);
    std::string out;
    char buffer[512];
    for (ssize_t n; (n = ::read(pipe[0], buffer, sizeof buffer)) > 0;)
        out.append(buffer, static_cast<size_t>(n));
    ::close(pipe[0]);
    int status = 0;
    ::waitpid(child, &status, 0);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    const group *dialout = ::getgrgid(20);
    const std::string group = dialout != nullptr ? dialout->gr_name : "";
    EXPECT_EQ(out, "-1|" + system.node("ttyS1") + "\t\t\t\t" + group + "\t\t\n" + "-1|" +
                       system.node("ttyS2") + "\t\t\t\t\t\t\n");
}

// OPENCOM decides before it opens anything: a console or a port in use is
// never opened, so never pulsed or set to other settings. An inotify watch on
// the node sees every open of it.
TEST_F(LinuxSystem, OpencomRefusesConsolesAndPortsInUseWithoutOpeningThem)
{
    if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a device node to watch";
    system.builtinUart(0, 4, kZero);
    struct stat zero {
    };
    ASSERT_EQ(::stat(kZero, &zero), 0);
    fs::remove(system.node("ttyS0"));
    ASSERT_EQ(::mknod(system.node("ttyS0").c_str(), S_IFCHR | 0600, zero.st_rdev), 0);
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, system.node("ttyS0").c_str(), IN_OPEN), 0);

    system.write("proc/consoles", "ttyS0                -W- (EC p a)    1:5\n");
    EXPECT_EQ(OPENCOM("COM1,1200,N,8,1"), 0);
    fs::remove(system.path("proc/consoles"));
    system.write("proc/55/comm", "getty\n");
    fs::create_directories(system.path("proc/55/fd"));
    fs::create_symlink(system.node("ttyS0"), system.path("proc/55/fd/0"));
    EXPECT_EQ(OPENCOM("COM1,1200,N,8,1"), 0);
    EXPECT_EQ(comStatus(1).code, RSCOM_IN_USE);
    fs::remove_all(system.path("proc/55"));
    EXPECT_EQ(comStatus(1).code, RSCOM_AVAILABLE);

    inotify_event events[4];
    EXPECT_LT(::read(watch, events, sizeof events), 0) << "the node was opened";
    ::close(watch);
}

// The real system's devices that are no serial lines, told from its sysfs.
// Nothing is opened.
TEST(LinuxRealSystem, PseudoTerminalsAndMemoryDevicesAreNoSerialLines)
{
    if (!fs::exists("/sys/dev/char")) GTEST_SKIP() << "no sysfs here";
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    ASSERT_GE(master, 0);
    ASSERT_EQ(::grantpt(master), 0);
    ASSERT_EQ(::unlockpt(master), 0);
    for (const std::string &path :
         {std::string("/dev/null"), std::string("/dev/ptmx"), std::string(::ptsname(master))}) {
        mapPort(9, path);
        EXPECT_EQ(comStatus(9).code, RSCOM_NOT_SERIAL) << path;
    }
    unsetVariable("RSCOM_COM9");
    ::close(master);
}

// This machine's own consoles, as /proc/consoles lists them, are consoles to
// COMSTATUS, whatever COM number they have. Only asked about, never opened.
TEST(LinuxRealSystem, TheMachinesConsolesAreConsoles)
{
    std::ifstream consoles("/proc/consoles");
    std::string line;
    int asked = 0;
    while (std::getline(consoles, line)) {
        unsigned devMajor = 0, devMinor = 0;
        const size_t last = line.find_last_of(' ');
        if (std::sscanf(line.c_str() + last + 1, "%u:%u", &devMajor, &devMinor) != 2) continue;
        const std::string link =
            "/sys/dev/char/" + std::to_string(devMajor) + ":" + std::to_string(devMinor);
        std::error_code error;
        const fs::path target = fs::read_symlink(link, error);
        const std::string node = "/dev/" + target.filename().string();
        if (error || !fs::exists(node)) continue;
        mapPort(9, node);
        EXPECT_EQ(comStatus(9).code, RSCOM_CONSOLE) << node;
        ++asked;
    }
    unsetVariable("RSCOM_COM9");
    if (asked == 0) GTEST_SKIP() << "this machine lists no console with a device node";
}

} // namespace
