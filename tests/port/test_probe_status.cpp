// The probe with a driver that has COMSTATUS: it asks, and opens nothing.
// Runs with the variant of the scriptable driver that has the entry.
#include "fakedriver.h"
#include "modul1.h"
#include "ports.h"

#include <QTest>

#include <map>

class TestProbeStatus : public QObject
{
    Q_OBJECT

private slots:
    void init() { m_fake.reset(); }

    void probeAsksEachPortOnceInOrderAndOpensNone();
    void detailIsTakenApart();

private:
    FakeDriver m_fake;
};

void TestProbeStatus::probeAsksEachPortOnceInOrderAndOpensNone()
{
    m_fake.setStatus(1, 1, QStringLiteral("loopback\t\t\t\t\t\t"));
    m_fake.setStatus(2, -2, QStringLiteral("/dev/ttyUSB0\t\t\t\t\tminicom\t4242"));
    m_fake.setStatus(3, 0, QString());
    m_fake.setStatus(4, -3, QStringLiteral("/dev/ttyS3\t\t\t\t\t\t"));
    m_fake.setStatus(5, 1, QStringLiteral("/dev/ttyACM0\tUno\tArduino\t\t\t\t"));
    QStringList reports;
    Modul1::setFailureHandler([&](const QString &, const QString &reason) { reports << reason; });

    std::vector<int> disabled;
    std::map<int, QString> described;
    QString unavailable = QStringLiteral("left over");
    Port::probe([&](int port) { disabled.push_back(port); },
                [&](int port, const QString &text) { described[port] = text; }, unavailable);

    QCOMPARE(m_fake.log(), QStringList({"COMSTATUS 1", "COMSTATUS 2", "COMSTATUS 3", "COMSTATUS 4",
                                        "COMSTATUS 5"}));
    QCOMPARE(disabled, (std::vector<int>{2, 3, 4}));
    QCOMPARE(unavailable, QStringLiteral(" 2, 3, 4,"));
    QCOMPARE(described.size(), size_t(5));
    QCOMPARE(described[1], QStringLiteral("virtuální port se zkušební zástrčkou"));
    QCOMPARE(described[2],
             QStringLiteral("/dev/ttyUSB0\nPort používá jiný program: minicom (PID 4242)."));
    QCOMPARE(described[3], QStringLiteral("Port neexistuje."));
    QCOMPARE(described[5], QStringLiteral("/dev/ttyACM0 – Uno (Arduino)"));
    QVERIFY(reports.isEmpty());
}

void TestProbeStatus::detailIsTakenApart()
{
    // UTF-8 from the driver, and fields it leaves out at the end.
    m_fake.setStatus(2, -1, QStringLiteral("/dev/ttyUSB0\tPřevodník €\tVýrobce\t\tdialout"));
    const std::optional<Port::State> state = Port::state(2);
    QVERIFY(state.has_value());
    QCOMPARE(state->code, std::int16_t(-1));
    QCOMPARE(state->product, QStringLiteral("Převodník €"));
    QCOMPARE(state->maker, QStringLiteral("Výrobce"));
    QCOMPARE(state->group, QStringLiteral("dialout"));
    QCOMPARE(state->program, QString());
    QCOMPARE(m_fake.log(), QStringList{"COMSTATUS 2"});
}

QTEST_GUILESS_MAIN(TestProbeStatus)
#include "test_probe_status.moc"
