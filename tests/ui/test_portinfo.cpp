// The windows with a driver that has COMSTATUS: the probes ask instead of
// opening, every port option says what its port is and why it cannot be
// used, and a refused port says why. Runs with the variant of the scriptable
// driver that has the entry.
#include "form1.h"
#include "form2.h"
#include "form3.h"
#include "harness.h"

#include <QAccessible>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

namespace
{

QString asked(int n)
{
    return QStringLiteral("COMSTATUS %1").arg(n);
}

QString opened(int n)
{
    return QStringLiteral("OPENCOM COM%1,1200,N,8,1").arg(n);
}

const QString kRefused =
    QStringLiteral("Port COM%1 nelze otevřít - je nepřístupný, nebo neexistuje");

} // namespace

class TestPortInfo : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanupTestCase() { h.reset(); }

    void chooserAsksAndOpensNothing();
    void dialogAsksAndThePortInUseStaysCurrent_data();
    void dialogAsksAndThePortInUseStaysCurrent();
    void refusedSelectionSaysWhy();
    void refusedOkSaysWhy();
    void refusedWithoutAReasonSaysWhatItAlwaysSaid();

private:
    QRadioButton *chooserOption(int n) { return portOption(Registry::get<Form2>(), n); }
    QRadioButton *dialogOption(int n) { return portOption(Registry::get<Form3>(), n); }
    QPushButton *ok() { return child<QPushButton>(Registry::get<Form2>(), "Command1"); }

    Harness h;
};

void TestPortInfo::init()
{
    h.reset();
    h.fake.setStatus(1, 1, QStringLiteral("loopback\t\t\t\t\t\t"));
    h.fake.setStatus(2, 1, QStringLiteral("/dev/ttyUSB0\tFT232R USB UART\tFTDI\tA12345\t\t\t"));
    h.fake.setStatus(3, -1, QStringLiteral("/dev/ttyS2\t\t\t\tdialout\t\t"));
    h.fake.setStatus(4, 1, QStringLiteral("/dev/ttyACM0\t\t\t\t\t\t"));
    h.fake.setStatus(5, 0, QString());
}

void TestPortInfo::chooserAsksAndOpensNothing()
{
    Registry::show(Registry::get<Form2>());
    QCOMPARE(h.fake.log(), QStringList({asked(1), asked(2), asked(3), asked(4), asked(5)}));
    const QStringList tips{
        "virtuální port se zkušební zástrčkou",
        "/dev/ttyUSB0 – FT232R USB UART (FTDI, A12345)",
        "/dev/ttyS2\nNemáte k portu oprávnění. Přidejte se do skupiny dialout a znovu se "
        "přihlaste.",
        "/dev/ttyACM0",
        "Port neexistuje.",
    };
    for (int n = 1; n <= 5; ++n) {
        QCOMPARE(chooserOption(n)->toolTip(), tips[n - 1]);
        // Read out by a screen reader as the option's description.
        QAccessibleInterface *a = QAccessible::queryAccessibleInterface(chooserOption(n));
        QVERIFY(a != nullptr);
        QCOMPARE(a->text(QAccessible::Description), tips[n - 1]);
        QCOMPARE(chooserOption(n)->isEnabled(), n != 3 && n != 5);
        QVERIFY(!chooserOption(n)->isChecked());
    }
    QVERIFY(!Registry::exists<Form1>());
    QVERIFY(!Registry::exists<Form3>());
}

// What OPENCOM answers for a port that opens: our driver's 1, or any other
// value but 0, as another driver may answer.
void TestPortInfo::dialogAsksAndThePortInUseStaysCurrent_data()
{
    QTest::addColumn<int>("openedAs");
    QTest::newRow("opened as 1") << 1;
    QTest::newRow("opened as -1") << -1;
    QTest::newRow("opened as 7") << 7;
}

void TestPortInfo::dialogAsksAndThePortInUseStaysCurrent()
{
    QFETCH(int, openedAs);
    h.fake.setOpenResult(2, static_cast<std::int16_t>(openedAs));
    Registry::show(Registry::get<Form2>());
    h.fake.clearLog();
    QTest::mouseClick(chooserOption(2), Qt::LeftButton);
    // The chooser's open, the monitor's toggles, the hidden dialog asking,
    // its mirrored re-open of COM2 and the toggles once more.
    QCOMPARE(h.fake.calls(),
             QStringList({opened(2), "TXD 0", "DTR 0", "RTS 0", asked(1), asked(2), asked(3),
                          asked(4), asked(5), opened(2), "TXD 0", "DTR 0", "RTS 0"}));
    QCOMPARE(dialogOption(3)->toolTip(), chooserOption(3)->toolTip());
    QVERIFY(!dialogOption(5)->isEnabled());

    BoxAnswerer answerer;
    QTest::mouseClick(ok(), Qt::LeftButton);
    QVERIFY(!Registry::exists<Form2>());
    Registry::get<Form3>()->close();
    h.fake.clearLog();

    // A dialog made after OK: it and the chooser it makes anew ask; the
    // port in use is made current again, as before, and nothing else is
    // opened.
    Registry::get<Form3>();
    const QStringList calls = h.fake.calls();
    QCOMPARE(calls.filter(QStringLiteral("COMSTATUS")),
             QStringList({asked(1), asked(2), asked(3), asked(4), asked(5), asked(1), asked(2),
                          asked(3), asked(4), asked(5)}));
    QCOMPARE(calls.filter(QStringLiteral("OPENCOM")), QStringList({opened(2), opened(2)}));
    QVERIFY(dialogOption(2)->isChecked());
    QCOMPARE(Registry::get<Form1>()->windowTitle(), QStringLiteral("Lintara - COM2"));
}

void TestPortInfo::refusedSelectionSaysWhy()
{
    Registry::show(Registry::get<Form2>());
    QTest::mouseClick(chooserOption(1), Qt::LeftButton);
    // Another program took COM4 since the probe.
    h.fake.setOpenResult(4, 0);
    h.fake.setStatus(4, -2, QStringLiteral("/dev/ttyACM0\t\t\t\t\tminicom\t4242"));
    h.fake.clearLog();

    BoxAnswerer answerer;
    QTest::mouseClick(chooserOption(4), Qt::LeftButton);
    const QString why = QStringLiteral("Port používá jiný program: minicom (PID 4242).");
    QCOMPARE(answerer.texts(), QStringList{kRefused.arg(4) + "\n" + why});
    QCOMPARE(answerer.boxes[0].icon, QMessageBox::Warning);
    QCOMPARE(chooserOption(4)->toolTip(), "/dev/ttyACM0\n" + why);
    QVERIFY(!chooserOption(4)->isEnabled());
    QVERIFY(chooserOption(1)->isChecked());
    QCOMPARE(h.fake.calls().mid(0, 2), QStringList({opened(4), asked(4)}));
    QCOMPARE(h.fake.calls().filter(QStringLiteral("OPENCOM")).last(), opened(1));
}

void TestPortInfo::refusedOkSaysWhy()
{
    Registry::show(Registry::get<Form2>());
    QTest::mouseClick(chooserOption(2), Qt::LeftButton);
    h.fake.setOpenResult(2, 0);
    h.fake.setStatus(2, 0, QStringLiteral("/dev/ttyUSB0\tFT232R USB UART\tFTDI\tA12345\t\t\t"));

    BoxAnswerer answerer;
    QTest::mouseClick(ok(), Qt::LeftButton);
    QCOMPARE(answerer.texts(), QStringList{kRefused.arg(2) + "\nPort neexistuje."});
    QVERIFY(Registry::exists<Form2>());
    QVERIFY(!chooserOption(2)->isEnabled());
    QVERIFY(!ok()->isEnabled());
}

// The driver cannot tell why (it says the port is available): the box says
// what it always said.
void TestPortInfo::refusedWithoutAReasonSaysWhatItAlwaysSaid()
{
    Registry::show(Registry::get<Form2>());
    h.fake.setOpenResult(4, 0);
    BoxAnswerer answerer;
    QTest::mouseClick(chooserOption(4), Qt::LeftButton);
    QCOMPARE(answerer.texts(), QStringList{kRefused.arg(4)});
}

QTEST_MAIN(TestPortInfo)
#include "test_portinfo.moc"
