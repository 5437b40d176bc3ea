// Start-up and the port chooser, through the real registry and windows.
#include "form1.h"
#include "form2.h"
#include "form3.h"
#include "harness.h"

#include <QPushButton>
#include <QRadioButton>
#include <QTest>

namespace
{

const QString kCom(int n)
{
    return QStringLiteral("OPENCOM COM%1,1200,N,8,1").arg(n);
}

} // namespace

class TestChooser : public QObject
{
    Q_OBJECT

private slots:
    void init() { h.reset(); }
    void cleanupTestCase() { h.reset(); }

    void startupProbesAndDisablesUnavailablePorts_data() { openedValues(); }
    void startupProbesAndDisablesUnavailablePorts();
    void noPortAvailable();
    void okIsEnabledByTheFirstMark();
    void markTwoThenFourThenOk_data() { openedValues(); }
    void markTwoThenFourThenOk();
    void closingBeforeAnyMarkEndsTheProgram();
    void okFailureIsReportedAndTheChooserStays();
    void selectionFailureRestoresThePreviousPort();
    void selectionFailureWithNothingBefore();
    void windowDesign();

private:
    Form2 *start();
    // What OPENCOM answers for a port that opens: our driver's 1, or any
    // other value but 0, as another driver may answer.
    static void openedValues();
    void openAs();
    QRadioButton *option(int n) { return portOption(Registry::get<Form2>(), n); }
    QPushButton *ok() { return child<QPushButton>(Registry::get<Form2>(), "Command1"); }

    Harness h;
};

Form2 *TestChooser::start()
{
    Form2 *chooser = Registry::get<Form2>();
    Registry::show(chooser);
    return chooser;
}

void TestChooser::openedValues()
{
    QTest::addColumn<int>("opened");
    QTest::newRow("opened as 1") << 1;
    QTest::newRow("opened as -1") << -1;
    QTest::newRow("opened as 7") << 7;
}

void TestChooser::openAs()
{
    QFETCH(int, opened);
    for (int n = 1; n <= 5; ++n)
        h.fake.setOpenResult(n, static_cast<std::int16_t>(opened));
}

void TestChooser::startupProbesAndDisablesUnavailablePorts()
{
    openAs();
    h.fake.setOpenResult(3, 0);
    h.fake.setOpenResult(5, 0);
    start();
    QCOMPARE(h.fake.log(), QStringList({kCom(1), kCom(2), kCom(3), kCom(4), kCom(5)}));
    for (int n = 1; n <= 5; ++n) {
        QCOMPARE(option(n)->isEnabled(), n != 3 && n != 5);
        QVERIFY(!option(n)->isChecked());
        // A driver without COMSTATUS tells nothing to put in a tooltip.
        QVERIFY(option(n)->toolTip().isEmpty());
    }
    QVERIFY(!ok()->isEnabled());
    // Nothing else exists before a port is marked.
    QVERIFY(!Registry::exists<Form1>());
    QVERIFY(!Registry::exists<Form3>());
}

void TestChooser::noPortAvailable()
{
    for (int n = 1; n <= 5; ++n)
        h.fake.setOpenResult(n, 0);
    start();
    for (int n = 1; n <= 5; ++n)
        QVERIFY(!option(n)->isEnabled());
    QTest::mouseClick(option(2), Qt::LeftButton);
    QVERIFY(!option(2)->isChecked());
    QVERIFY(!ok()->isEnabled());
    QVERIFY(child<QPushButton>(Registry::get<Form2>(), "Command2")->isEnabled());
}

void TestChooser::okIsEnabledByTheFirstMark()
{
    start();
    QVERIFY(!ok()->isEnabled());
    QTest::mouseClick(option(1), Qt::LeftButton);
    QVERIFY(option(1)->isChecked());
    QVERIFY(ok()->isEnabled());
    // The monitor and the dialog now exist, hidden, and the monitor polls.
    QVERIFY(Registry::exists<Form1>());
    QVERIFY(Registry::exists<Form3>());
    QVERIFY(!Registry::get<Form1>()->isVisible());
    QVERIFY(!Registry::get<Form3>()->isVisible());
    QCOMPARE(Registry::get<Form1>()->windowTitle(), QStringLiteral("Lintara - COM1"));
    QTRY_VERIFY(h.fake.log().contains(QStringLiteral("DCD")));
}

void TestChooser::markTwoThenFourThenOk()
{
    openAs();
    start();
    QTest::mouseClick(option(2), Qt::LeftButton);
    QTest::mouseClick(option(4), Qt::LeftButton);
    QCOMPARE(Registry::get<Form1>()->windowTitle(), QStringLiteral("Lintara - COM4"));
    h.fake.clearLog();

    BoxAnswerer answerer;
    QTest::mouseClick(ok(), Qt::LeftButton);
    QCOMPARE(answerer.texts(), QStringList{QStringLiteral("Otevřen port : COM4")});
    QCOMPARE(answerer.boxes[0].caption, QStringLiteral("Lintara"));
    QCOMPARE(answerer.boxes[0].icon, QMessageBox::NoIcon);
    QCOMPARE(answerer.boxes[0].buttons, 1);
    // OK opens the marked port once more, and only that one.
    QCOMPARE(h.fake.calls(), QStringList{kCom(4)});

    // The chooser is gone, the monitor is shown, and the program goes on.
    QVERIFY(!Registry::exists<Form2>());
    QVERIFY(Registry::get<Form1>()->isVisible());
    QCOMPARE(h.programEnds, 0);
}

void TestChooser::closingBeforeAnyMarkEndsTheProgram()
{
    start()->close();
    QCOMPARE(h.programEnds, 1);
    QVERIFY(!Registry::exists<Form1>());
    QVERIFY(!Registry::exists<Form2>());
    QVERIFY(!Registry::exists<Form3>());
}

void TestChooser::okFailureIsReportedAndTheChooserStays()
{
    start();
    QTest::mouseClick(option(2), Qt::LeftButton);
    h.fake.setOpenResult(2, 0); // taken by another program since it was marked

    BoxAnswerer answerer;
    QTest::mouseClick(ok(), Qt::LeftButton);
    QCOMPARE(answerer.texts(), QStringList{QStringLiteral(
                                   "Port COM2 nelze otevřít - je nepřístupný, nebo neexistuje")});
    QCOMPARE(answerer.boxes[0].icon, QMessageBox::Warning);
    QCOMPARE(answerer.boxes[0].caption, QStringLiteral("Lintara"));

    QVERIFY(Registry::exists<Form2>());
    QVERIFY(Registry::get<Form2>()->isVisible());
    QVERIFY(!option(2)->isEnabled());
    QVERIFY(!option(2)->isChecked());
    QVERIFY(!ok()->isEnabled());
    QVERIFY(!Registry::get<Form1>()->isVisible());

    // Another port can be chosen and confirmed.
    QTest::mouseClick(option(1), Qt::LeftButton);
    QTest::mouseClick(ok(), Qt::LeftButton);
    QCOMPARE(answerer.texts().last(), QStringLiteral("Otevřen port : COM1"));
    QVERIFY(!Registry::exists<Form2>());
    QCOMPARE(h.programEnds, 0);
}

void TestChooser::selectionFailureRestoresThePreviousPort()
{
    start();
    QTest::mouseClick(option(1), Qt::LeftButton);
    h.fake.setOpenResult(4, 0);
    h.fake.clearLog();

    BoxAnswerer answerer;
    QTest::mouseClick(option(4), Qt::LeftButton);
    QCOMPARE(answerer.texts(), QStringList{QStringLiteral(
                                   "Port COM4 nelze otevřít - je nepřístupný, nebo neexistuje")});
    QVERIFY(!option(4)->isEnabled());
    QVERIFY(!option(4)->isChecked());
    QVERIFY(option(1)->isChecked());
    QCOMPARE(Registry::get<Form1>()->windowTitle(), QStringLiteral("Lintara - COM1"));
    // COM 1 is current again, and the failed mark never reached the dialog.
    const QStringList opens = h.fake.calls().filter(QStringLiteral("OPENCOM"));
    QCOMPARE(opens.first(), kCom(4));
    QCOMPARE(opens.last(), kCom(1));
    QVERIFY(!opens.mid(1).contains(kCom(4)));
    QVERIFY(!child<QRadioButton>(Registry::get<Form3>(), "Option4")->isChecked());
    QVERIFY(child<QRadioButton>(Registry::get<Form3>(), "Option1")->isChecked());
}

void TestChooser::selectionFailureWithNothingBefore()
{
    start();
    h.fake.setOpenResult(3, 0);
    BoxAnswerer answerer;
    QTest::mouseClick(option(3), Qt::LeftButton);
    QCOMPARE(answerer.boxes.size(), 1);
    for (int n = 1; n <= 5; ++n)
        QVERIFY(!option(n)->isChecked());
    QVERIFY(!ok()->isEnabled());
    QVERIFY(!Registry::exists<Form1>());
}

void TestChooser::windowDesign()
{
    Form2 *chooser = start();
    QCOMPARE(chooser->windowTitle(), QStringLiteral("Vyber port"));
    QVERIFY(hasProgramIcon(chooser));
    QCOMPARE(chooser->size(), QSize(98, 177));
    QVERIFY(chooser->windowFlags() & Qt::Tool);
    QVERIFY(!(chooser->windowFlags() & Qt::WindowMinMaxButtonsHint));
    QCOMPARE(option(3)->text(), QStringLiteral("COM 3"));
    QCOMPARE(option(3)->geometry(), QRect(8, 48, 57, 17));
    QCOMPARE(ok()->text(), QStringLiteral("OK >>"));
    QCOMPARE(ok()->toolTip(), QStringLiteral("Kliknutím otevřete port"));
    QCOMPARE(ok()->geometry(), QRect(8, 120, 81, 25));
    // Tab order: COM 1 to 3, OK, O programu, COM 4, COM 5.
    QWidget *w = option(1);
    QStringList order;
    for (int i = 0; i < 7; ++i, w = w->nextInFocusChain()) {
        while (!(w->focusPolicy() & Qt::TabFocus))
            w = w->nextInFocusChain();
        order << w->objectName();
    }
    QCOMPARE(order, QStringList({"Option1", "Option2", "Option3", "Command1", "Command2", "Option4",
                                 "Option5"}));
}

QTEST_MAIN(TestChooser)
#include "test_chooser.moc"
