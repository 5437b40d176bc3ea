// The driver's C entries as a program calls them: the virtual test plug, and
// paths that are not serial lines.
#include "platform_posix.h"
#include "rscom.h"

#include <QTemporaryDir>
#include <QTest>

#include <atomic>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace
{

void mapPort(int port, const QByteArray &target)
{
    const QByteArray name = "RSCOM_COM" + QByteArray::number(port);
    qputenv(name.constData(), target);
}

int openDescriptors()
{
    int count = 0;
    DIR *dir = ::opendir("/proc/self/fd");
    while (dirent *entry = ::readdir(dir)) {
        if (entry->d_name[0] != '.') ++count;
    }
    ::closedir(dir);
    return count - 1; // the directory's own
}

struct Lines {
    int dcd, dsr, cts, ri;
    bool operator==(const Lines &o) const
    {
        return dcd == o.dcd && dsr == o.dsr && cts == o.cts && ri == o.ri;
    }
};

Lines lines()
{
    return {DCD(), DSR(), CTS(), RI()};
}

} // namespace

namespace QTest
{
template <> char *toString(const Lines &l)
{
    return qstrdup(QByteArray("DCD ") + QByteArray::number(l.dcd) + " DSR " +
                   QByteArray::number(l.dsr) + " CTS " + QByteArray::number(l.cts) + " RI " +
                   QByteArray::number(l.ri));
}
} // namespace QTest

class TestEntries : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void loopbackPlugWiring();
    void eachVirtualPortHasItsOwnLines();
    void reopenKeepsLinesFailedOpenKeepsCurrent();
    void nonSerialPathsAreRefused();
    void descriptorCountStaysConstant();
    void claimedPortIsRefusedToASecondOpener();
    void callsFromManyThreads();

private:
    QTemporaryDir m_dir;
};

void TestEntries::init()
{
    for (int n = 1; n <= 5; ++n)
        mapPort(n, "none");
}

void TestEntries::cleanup()
{
    for (int n = 1; n <= 5; ++n) {
        mapPort(n, "loopback");
        if (OPENCOM(QByteArray("COM" + QByteArray::number(n) + ",1200,N,8,1")) != 0) CLOSECOM();
    }
}

void TestEntries::loopbackPlugWiring()
{
    QCOMPARE(lines(), (Lines{-1, -1, -1, -1})); // no current port
    mapPort(1, "loopback");
    QCOMPARE(OPENCOM("COM1,1200,N,8,1"), int16_t(1));
    QCOMPARE(lines(), (Lines{0, 0, 0, 0})); // outputs start inactive

    RTS(1);
    QCOMPARE(lines(), (Lines{0, 0, 1, 0}));
    DTR(1);
    QCOMPARE(lines(), (Lines{1, 1, 1, 0}));
    TXD(1);
    QCOMPARE(lines(), (Lines{1, 1, 1, 1}));
    RTS(0);
    DTR(0);
    QCOMPARE(lines(), (Lines{0, 0, 0, 1}));
    TXD(2); // any value but 0 is active
    QCOMPARE(RI(), int16_t(1));
    TXD(0);
    QCOMPARE(lines(), (Lines{0, 0, 0, 0}));

    CLOSECOM();
    QCOMPARE(lines(), (Lines{-1, -1, -1, -1}));
    DTR(1); // nothing to set
}

void TestEntries::eachVirtualPortHasItsOwnLines()
{
    mapPort(1, "loopback");
    mapPort(2, "loopback");
    QCOMPARE(OPENCOM("COM1,1200,N,8,1"), int16_t(1));
    DTR(1);
    QCOMPARE(OPENCOM("COM2,1200,N,8,1"), int16_t(1));
    QCOMPARE(lines(), (Lines{0, 0, 0, 0}));
    RTS(1);
    QCOMPARE(OPENCOM("COM1,1200,N,8,1"), int16_t(1));
    QCOMPARE(lines(), (Lines{1, 1, 0, 0}));
}

void TestEntries::reopenKeepsLinesFailedOpenKeepsCurrent()
{
    mapPort(3, "loopback");
    QCOMPARE(OPENCOM("COM3,1200,N,8,1"), int16_t(1));
    RTS(1);
    QCOMPARE(OPENCOM("COM3,9600,N,8,1"), int16_t(1));
    QCOMPARE(CTS(), int16_t(1));

    QCOMPARE(OPENCOM("COM4,1200,N,8,1"), int16_t(0)); // mapped to none
    QCOMPARE(OPENCOM("COM3,1200,Q,8,1"), int16_t(0));
    QCOMPARE(OPENCOM(nullptr), int16_t(0));
    QCOMPARE(CTS(), int16_t(1)); // still COM3
}

void TestEntries::nonSerialPathsAreRefused()
{
    QVERIFY(m_dir.isValid());
    const QByteArray file = QFile::encodeName(m_dir.filePath(QStringLiteral("file")));
    QFile f(QString::fromLocal8Bit(file));
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    const QByteArray fifo = QFile::encodeName(m_dir.filePath(QStringLiteral("fifo")));
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);

    // A pseudo-terminal has no modem lines.
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0);
    QCOMPARE(::grantpt(master), 0);
    QCOMPARE(::unlockpt(master), 0);
    const QByteArray pty = ::ptsname(master);

    mapPort(1, "loopback");
    QCOMPARE(OPENCOM("COM1,1200,N,8,1"), int16_t(1));
    DTR(1);
    const int before = openDescriptors();
    // A FIFO without a writer would block an ordinary open; a path that
    // does not exist, a folder, /dev/null and a pty are not serial lines.
    const QByteArray paths[] = {file,         fifo,       QFile::encodeName(m_dir.path()),
                                "/dev/null",  pty,        "/dev/lintara-no-such-port",
                                "relative/x", "/dev/ptmx"};
    for (const QByteArray &path : paths) {
        mapPort(2, path);
        QVERIFY2(OPENCOM("COM2,1200,N,8,1") == 0, path.constData());
    }
    QCOMPARE(openDescriptors(), before);
    QCOMPARE(DSR(), int16_t(1)); // COM1 is still current
    ::close(master);
}

void TestEntries::descriptorCountStaysConstant()
{
    mapPort(1, "loopback");
    mapPort(2, "loopback");
    mapPort(3, "/dev/null");
    mapPort(4, QFile::encodeName(m_dir.path()));
    const int before = openDescriptors();
    for (int i = 0; i < 10000; ++i) {
        const QByteArray settings = "COM" + QByteArray::number(i % 5 + 1) + ",1200,N,8,1";
        OPENCOM(settings.constData());
    }
    QCOMPARE(openDescriptors(), before);
}

// The claim on a descriptor: its lock keeps out a second opener of the same
// device, and programs we start do not inherit it. A pty stands in for the
// device here.
void TestEntries::claimedPortIsRefusedToASecondOpener()
{
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY);
    QVERIFY(master >= 0);
    QCOMPARE(::grantpt(master), 0);
    QCOMPARE(::unlockpt(master), 0);
    const char *pty = ::ptsname(master);

    const int first = ::open(pty, O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(first >= 0);
    QVERIFY(rscom::claimDescriptor(first));
    QVERIFY(::fcntl(first, F_GETFD) & FD_CLOEXEC);

    // TIOCEXCL does not stop a privileged opener; the lock does.
    const int second = ::open(pty, O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (second >= 0) {
        QVERIFY(!rscom::claimDescriptor(second));
        ::close(second);
    } else {
        QCOMPARE(errno, EBUSY);
    }
    ::close(first);

    // Once the holder is gone the port can be claimed again.
    const int third = ::open(pty, O_RDWR | O_NOCTTY | O_NONBLOCK);
    QVERIFY(third >= 0);
    QVERIFY(rscom::claimDescriptor(third));
    ::close(third);
    ::close(master);
}

// The entries share one port table: threads that open, close, set and read
// at once see only whole answers (and the sanitizer build sees no race on
// freed ports).
void TestEntries::callsFromManyThreads()
{
    mapPort(1, "loopback");
    mapPort(2, "loopback");
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([t, &wrong] {
            const char *settings = t % 2 == 0 ? "COM1,1200,N,8,1" : "COM2,1200,N,8,1";
            for (int i = 0; i < 5000; ++i) {
                if (OPENCOM(settings) != 1) ++wrong;
                DTR(static_cast<int16_t>(i & 1));
                const int16_t level = DSR();
                if (level < -1 || level > 1) ++wrong;
                if (t == 3 && i % 100 == 0) CLOSECOM();
            }
        });
    }
    for (std::thread &thread : threads)
        thread.join();
    QCOMPARE(wrong.load(), 0);
}

QTEST_GUILESS_MAIN(TestEntries)
#include "test_entries.moc"
