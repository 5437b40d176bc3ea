// The C entries on paths of a POSIX system that are no serial lines, and the
// claim a real port gets: nothing blocks, nothing is left open, a held port
// keeps out a second opener.
#include "descriptors.h"
#include "posix/serial.h"
#include "testenv.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace
{

// A pseudo-terminal pair; the other side stands in for a device.
struct Pty {
    int master = -1;
    std::string path;
    Pty()
    {
        master = ::posix_openpt(O_RDWR | O_NOCTTY);
        if (master >= 0 && ::grantpt(master) == 0 && ::unlockpt(master) == 0)
            path = ::ptsname(master);
    }
    ~Pty() { ::close(master); }
};

class PosixEntries : public testing::Test
{
protected:
    void SetUp() override
    {
        char folder[] = "/tmp/rscom-entries-XXXXXX";
        ASSERT_NE(::mkdtemp(folder), nullptr);
        dir = folder;
        mapNoPorts();
    }

    void TearDown() override
    {
        closePorts();
        ::unlink((dir + "/file").c_str());
        ::unlink((dir + "/fifo").c_str());
        ::rmdir(dir.c_str());
    }

    std::string dir;
};

TEST_F(PosixEntries, NonSerialPathsAreRefusedWithoutBlocking)
{
    const std::string file = dir + "/file";
    ::close(::open(file.c_str(), O_WRONLY | O_CREAT, 0600));
    // A FIFO without a writer would block an ordinary open.
    const std::string fifo = dir + "/fifo";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const Pty pty;
    ASSERT_FALSE(pty.path.empty());

    mapPort(1, "loopback");
    ASSERT_EQ(OPENCOM("COM1,1200,N,8,1"), 1);
    DTR(1);
    const size_t before = openDescriptors().size();
    for (const std::string &path :
         {file, fifo, dir, std::string("/dev/null"), pty.path, std::string("/dev/ptmx")}) {
        mapPort(2, path);
        EXPECT_EQ(OPENCOM("COM2,1200,N,8,1"), 0) << path;
    }
    // What COMSTATUS can tell of any POSIX system: not a device at all.
    for (const std::string &path : {file, fifo, dir}) {
        mapPort(2, path);
        const Answer answer = comStatus(2);
        EXPECT_EQ(answer.code, RSCOM_NOT_SERIAL) << path;
        EXPECT_EQ(answer.detail, path + "\t\t\t\t\t\t");
    }
    EXPECT_EQ(openDescriptors().size(), before);
    EXPECT_EQ(DSR(), 1); // COM1 is still current
}

TEST_F(PosixEntries, DescriptorCountStaysConstant)
{
    mapPort(1, "loopback");
    mapPort(2, "loopback");
    mapPort(3, "/dev/null");
    mapPort(4, dir);
    const size_t before = openDescriptors().size();
    for (int i = 0; i < 10000; ++i) {
        OPENCOM(settingsOf(i % 5 + 1).c_str());
        if (i % 10 == 0) COMSTATUS(static_cast<int16_t>(i % 5 + 1), nullptr, 0);
    }
    EXPECT_EQ(openDescriptors().size(), before);
}

// The claim on a descriptor: its lock keeps out a second opener of the same
// device, and programs we start do not inherit it. A pty stands in for the
// device here.
TEST_F(PosixEntries, ClaimedPortIsRefusedToASecondOpener)
{
    const Pty pty;
    ASSERT_FALSE(pty.path.empty());

    const int first = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(first, 0);
    ASSERT_TRUE(rscom::claimDescriptor(first));
    EXPECT_TRUE(::fcntl(first, F_GETFD) & FD_CLOEXEC);

    // TIOCEXCL does not stop a privileged opener; the lock does.
    const int second = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (second >= 0) {
        EXPECT_FALSE(rscom::claimDescriptor(second));
        ::close(second);
    } else {
        EXPECT_EQ(errno, EBUSY);
    }
    ::close(first);

    // Once the holder is gone the port can be claimed again.
    const int third = ::open(pty.path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    ASSERT_GE(third, 0);
    EXPECT_TRUE(rscom::claimDescriptor(third));
    ::close(third);
}

} // namespace
