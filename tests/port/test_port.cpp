// The program's side of the ports: the probe and its report, and the binding
// that loads the driver, through the scriptable driver found by the library
// search path.
#include "fakedriver.h"
#include "modul1.h"
#include "ports.h"

#include <QTest>

#include <set>

class TestPort : public QObject
{
    Q_OBJECT

private slots:
    void init();

    void probeOpensEachPortOnceInOrder();
    void probeWithoutComstatusIsQuietAndDescribesNothing();
    void probeReport_data();
    void probeReport();
    void texts();
    void descriptions_data();
    void descriptions();

    void bindingPassesCallsThrough();
    void entryMissingFromDriverIsReportedOnItsFirstCall();
    void missingLibraryIsReported();

private:
    FakeDriver m_fake;
};

void TestPort::init()
{
    m_fake.reset();
    Modul1::setFailureHandler(nullptr);
    Modul1::useLibrary(Modul1::libraryName());
}

void TestPort::probeOpensEachPortOnceInOrder()
{
    m_fake.setOpenResult(2, 0);
    m_fake.setOpenResult(4, 0);
    std::vector<int> disabled;
    QString unavailable = QStringLiteral("left over");
    Port::probe([&](int port) { disabled.push_back(port); }, [](int, const QString &) {},
                unavailable);

    QCOMPARE(m_fake.log(), QStringList({"OPENCOM COM1,1200,N,8,1", "OPENCOM COM2,1200,N,8,1",
                                        "OPENCOM COM3,1200,N,8,1", "OPENCOM COM4,1200,N,8,1",
                                        "OPENCOM COM5,1200,N,8,1"}));
    QCOMPARE(disabled, (std::vector<int>{2, 4}));
    QCOMPARE(unavailable, QStringLiteral(" 2, 4,"));
}

// A driver made for the original entries has no COMSTATUS: the probe opens
// the ports as it always did, and nobody is told that an entry is missing.
void TestPort::probeWithoutComstatusIsQuietAndDescribesNothing()
{
    QStringList reports;
    Modul1::setFailureHandler([&](const QString &, const QString &reason) { reports << reason; });
    QStringList described;
    QString unavailable;
    Port::probe([](int) {}, [&](int port, const QString &) { described << QString::number(port); },
                unavailable);
    QCOMPARE(m_fake.calls().filter(QStringLiteral("OPENCOM")).size(), 5);
    QVERIFY(reports.isEmpty());
    QVERIFY(described.isEmpty());
    QString detail;
    QVERIFY(!Modul1::COMSTATUS(1, detail).has_value());
    QVERIFY(reports.isEmpty());
}

void TestPort::probeReport_data()
{
    QTest::addColumn<QList<int>>("failing");
    QTest::addColumn<QString>("unavailable");
    QTest::addColumn<QString>("report");
    // What OPENCOM answers for the ports that open: any value but 0.
    QTest::addColumn<int>("opened");

    const QString tail = QStringLiteral(" nelze otevřít - jsou nepřístupné, nebo neexistují");
    QTest::newRow("none") << QList<int>{} << QString() << QStringLiteral("Vyberte si port 1 - 5")
                          << 1;
    // Fourteen characters, from the digit 1 to a space.
    QTest::newRow("all") << QList<int>{1, 2, 3, 4, 5} << QStringLiteral("1, 2, 3, 4, 5 ")
                         << QStringLiteral("Port(y) 1, 2, 3, 4, 5 ") + tail << 1;
    QTest::newRow("only 3") << QList<int>{3} << QStringLiteral(" 3,")
                            << QStringLiteral("Port(y)  3,") + tail << 1;
    QTest::newRow("only 5") << QList<int>{5} << QStringLiteral(" 5 ")
                            << QStringLiteral("Port(y)  5  nelze otevřít - jsou nepřístupné, "
                                              "nebo neexistují")
                            << 1;
    QTest::newRow("1 and 3") << QList<int>{1, 3} << QStringLiteral("1, 3,")
                             << QStringLiteral("Port(y) 1, 3,") + tail << 1;
    QTest::newRow("2 and 4") << QList<int>{2, 4} << QStringLiteral(" 2, 4,")
                             << QStringLiteral("Port(y)  2, 4,") + tail << 1;
    // Another driver's "opened", as a language whose true is -1 gives it.
    QTest::newRow("2 and 4, opened as -1") << QList<int>{2, 4} << QStringLiteral(" 2, 4,")
                                           << QStringLiteral("Port(y)  2, 4,") + tail << -1;
    QTest::newRow("none, opened as -1")
        << QList<int>{} << QString() << QStringLiteral("Vyberte si port 1 - 5") << -1;
    QTest::newRow("1 and 5, opened as 7") << QList<int>{1, 5} << QStringLiteral("1, 5 ")
                                          << QStringLiteral("Port(y) 1, 5  nelze otevřít - jsou "
                                                            "nepřístupné, nebo neexistují")
                                          << 7;
}

void TestPort::probeReport()
{
    QFETCH(QList<int>, failing);
    QFETCH(int, opened);
    for (int port = Port::kFirst; port <= Port::kLast; ++port)
        m_fake.setOpenResult(port, static_cast<std::int16_t>(failing.contains(port) ? 0 : opened));

    std::set<int> disabled;
    QString text;
    Port::probe([&](int port) { disabled.insert(port); }, [](int, const QString &) {}, text);

    QFETCH(QString, unavailable);
    QCOMPARE(text, unavailable);
    QCOMPARE(disabled, std::set<int>(failing.begin(), failing.end()));
    QCOMPARE(m_fake.count(QStringLiteral("OPENCOM COM3,1200,N,8,1")), 1);
    QFETCH(QString, report);
    QCOMPARE(Port::unavailableMessage(text), report);
}

void TestPort::texts()
{
    QCOMPARE(Port::settings(5), QStringLiteral("COM5,1200,N,8,1"));
    QCOMPARE(Port::title(0), QStringLiteral("Lintara - COM0"));
    QCOMPARE(Port::title(3), QStringLiteral("Lintara - COM3"));
    QCOMPARE(Port::openedMessage(4), QStringLiteral("Otevřen port : COM4"));
    QCOMPARE(Port::refusedMessage(2),
             QStringLiteral("Port COM2 nelze otevřít - je nepřístupný, nebo neexistuje"));
    QCOMPARE(Port::refusedMessage(3, QStringLiteral("Port je systémová konzole.")),
             QStringLiteral("Port COM3 nelze otevřít - je nepřístupný, nebo neexistuje\n"
                            "Port je systémová konzole."));
    QString allFive;
    Port::probe([](int) {}, [](int, const QString &) {}, allFive);
    QCOMPARE(allFive, QString());
}

// What a port option's tooltip says, for every answer of COMSTATUS, with and
// without what the driver can tell of the device.
void TestPort::descriptions_data()
{
    QTest::addColumn<int>("code");
    QTest::addColumn<QStringList>("fields"); // path, product, maker, serial, group, program, pid
    QTest::addColumn<QString>("description");
    QTest::addColumn<QString>("reason");

    const auto row = [](const char *name, int code, const QStringList &fields,
                        const QString &description, const QString &reason = {}) {
        QTest::newRow(name) << code << fields << description << reason;
    };
    const QString usb = QStringLiteral("/dev/ttyUSB0");
    row("path alone", 1, {"/dev/ttyS1"}, "/dev/ttyS1");
    row("product, maker, serial", 1, {usb, "FT232R USB UART", "FTDI", "A12345"},
        "/dev/ttyUSB0 – FT232R USB UART (FTDI, A12345)");
    row("product and maker", 1, {usb, "FT232R USB UART", "FTDI", ""},
        "/dev/ttyUSB0 – FT232R USB UART (FTDI)");
    row("product and serial", 1, {usb, "FT232R USB UART", "", "A12345"},
        "/dev/ttyUSB0 – FT232R USB UART (A12345)");
    row("product alone", 1, {usb, "FT232R USB UART"}, "/dev/ttyUSB0 – FT232R USB UART");
    row("maker without product", 1, {usb, "", "FTDI", "A12345"}, "/dev/ttyUSB0");
    row("virtual port", 1, {"loopback"}, "virtuální port se zkušební zástrčkou");
    row("generator", 1, {"generator"}, "virtuální port s generátorem signálů");
    row("nothing known", 1, {}, "");

    const QString missing = QStringLiteral("Port neexistuje.");
    row("missing", 0, {}, missing, missing);
    row("missing path", 0, {"/dev/ttyUSB3"}, "/dev/ttyUSB3\n" + missing, missing);
    const QString group = QStringLiteral(
        "Nemáte k portu oprávnění. Přidejte se do skupiny dialout a znovu se přihlaste.");
    row("no permission, group", -1, {"/dev/ttyS1", "", "", "", "dialout"}, "/dev/ttyS1\n" + group,
        group);
    const QString denied = QStringLiteral("Nemáte k portu oprávnění.");
    row("no permission", -1, {"/dev/ttyS1"}, "/dev/ttyS1\n" + denied, denied);
    const QString both = QStringLiteral("Port používá jiný program: minicom (PID 4242).");
    row("in use, name and pid", -2,
        {usb, "FT232R USB UART", "FTDI", "A12345", "", "minicom", "4242"},
        "/dev/ttyUSB0 – FT232R USB UART (FTDI, A12345)\n" + both, both);
    const QString name = QStringLiteral("Port používá jiný program: minicom.");
    row("in use, name", -2, {usb, "", "", "", "", "minicom"}, "/dev/ttyUSB0\n" + name, name);
    const QString anyone = QStringLiteral("Port používá jiný program.");
    row("in use, nobody seen", -2, {usb}, "/dev/ttyUSB0\n" + anyone, anyone);
    const QString console = QStringLiteral("Port je systémová konzole.");
    row("console", -3, {"/dev/ttyAMA0"}, "/dev/ttyAMA0\n" + console, console);
    const QString serial = QStringLiteral("Není to sériový port s řídicími signály.");
    row("no serial line", -4, {"/dev/null"}, "/dev/null\n" + serial, serial);
    const QString other = QStringLiteral("Port nelze otevřít.");
    row("unknown result", -5, {"/dev/ttyS4"}, "/dev/ttyS4\n" + other, other);
    row("unknown positive result", 7, {}, other, other);
}

void TestPort::descriptions()
{
    QFETCH(int, code);
    QFETCH(QStringList, fields);
    while (fields.size() < 7)
        fields << QString();
    const Port::State state{static_cast<std::int16_t>(code),
                            fields[0],
                            fields[1],
                            fields[2],
                            fields[3],
                            fields[4],
                            fields[5],
                            fields[6]};
    QFETCH(QString, description);
    QFETCH(QString, reason);
    QCOMPARE(Port::description(state), description);
    QCOMPARE(Port::reason(state), reason);
}

void TestPort::bindingPassesCallsThrough()
{
    m_fake.setOpenResult(3, 0);
    m_fake.setInputs(1, -1, 0, 300);
    QCOMPARE(Modul1::OPENCOM(QStringLiteral("COM3,1200,N,8,1")), std::int16_t(0));
    QCOMPARE(Modul1::OPENCOM(QStringLiteral("COM2,1200,N,8,1")), std::int16_t(1));
    Modul1::TXD(1);
    Modul1::DTR(0);
    Modul1::RTS(1);
    QCOMPARE(Modul1::DCD(), std::int16_t(1));
    QCOMPARE(Modul1::DSR(), std::int16_t(-1));
    QCOMPARE(Modul1::CTS(), std::int16_t(0));
    QCOMPARE(Modul1::RI(), std::int16_t(300));
    QCOMPARE(m_fake.log(), QStringList({"OPENCOM COM3,1200,N,8,1", "OPENCOM COM2,1200,N,8,1",
                                        "TXD 1", "DTR 0", "RTS 1", "DCD", "DSR", "CTS", "RI"}));
}

void TestPort::entryMissingFromDriverIsReportedOnItsFirstCall()
{
    QStringList reports;
    Modul1::setFailureHandler([&](const QString &library, const QString &reason) {
        reports << library + QStringLiteral(" | ") + reason;
    });
    const QString path = QStringLiteral(LINTARA_FAKE_DRIVER_WITHOUT_RI);
    Modul1::useLibrary(path);

    // Everything the driver has works; nothing is reported before RI is
    // called, because entries are looked up one by one.
    QCOMPARE(Modul1::OPENCOM(QStringLiteral("COM1,1200,N,8,1")), std::int16_t(1));
    QCOMPARE(Modul1::DCD(), std::int16_t(0));
    QVERIFY(reports.isEmpty());

    QCOMPARE(Modul1::RI(), std::int16_t(-1));
    QCOMPARE(reports.size(), 1);
    QVERIFY2(reports[0].startsWith(path + QStringLiteral(" | ")), qPrintable(reports[0]));
    QVERIFY2(reports[0].contains(QStringLiteral("RI")), qPrintable(reports[0]));
    QVERIFY2(reports[0].contains(QStringLiteral("undefined symbol")), qPrintable(reports[0]));

    Modul1::RI(); // reported once
    QCOMPARE(reports.size(), 1);
    QCOMPARE(Modul1::CTS(), std::int16_t(0));
}

void TestPort::missingLibraryIsReported()
{
    QStringList reports;
    Modul1::setFailureHandler(
        [&](const QString &library, const QString &reason) { reports << library << reason; });
    Modul1::useLibrary(QStringLiteral("librscom-not-installed.so"));
    QCOMPARE(Modul1::OPENCOM(QStringLiteral("COM1,1200,N,8,1")), std::int16_t(0));
    QCOMPARE(reports.size(), 2);
    QCOMPARE(reports[0], QStringLiteral("librscom-not-installed.so"));
    QVERIFY2(reports[1].contains(QStringLiteral("cannot open shared object file")),
             qPrintable(reports[1]));
    Modul1::DTR(1);
    QCOMPARE(Modul1::DSR(), std::int16_t(-1));
    QCOMPARE(reports.size(), 2);
    QCOMPARE(Modul1::libraryName(), QStringLiteral("librscom.so.1"));
}

QTEST_GUILESS_MAIN(TestPort)
#include "test_port.moc"
