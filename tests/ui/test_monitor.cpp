// The line monitor: its read-outs, toggles, blink and timer, through the real
// registry and the scriptable driver.
#include "form1.h"
#include "form2.h"
#include "harness.h"
#include "look.h"
#include "widgets.h"

#include <QElapsedTimer>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>

#include <algorithm>

class TestMonitor : public QObject
{
    Q_OBJECT

private slots:
    void init() { h.reset(); }
    void cleanupTestCase() { h.reset(); }

    void readsAreShownVerbatim_data();
    void readsAreShownVerbatim();
    void fourReadsInOrderEveryTick();
    void blinkAlternatesStartingDarkOrange();
    void togglingTwice();
    void pollsWhileHiddenBeforeOk();
    void tenMillisecondInterval();
    void ticksGoOnWhileAMessageBoxIsOpen();
    void closingTheMonitorEndsTheProgram();
    void switchingPortsSendsTheToggles();
    void windowDesign();

private:
    Form1 *monitor() { return Registry::get<Form1>(); }
    QLabel *label(const char *name) { return child<QLabel>(monitor(), name); }
    QPushButton *toggle(const char *name) { return child<QPushButton>(monitor(), name); }
    int reads() { return h.fake.count(QStringLiteral("DCD")); }

    Harness h;
};

void TestMonitor::readsAreShownVerbatim_data()
{
    QTest::addColumn<int>("level");
    QTest::newRow("0") << 0;
    QTest::newRow("1") << 1;
    QTest::newRow("-1") << -1;
    QTest::newRow("larger") << 32767;
    QTest::newRow("most negative") << -32768;
}

void TestMonitor::readsAreShownVerbatim()
{
    QFETCH(int, level);
    const auto v = static_cast<std::int16_t>(level);
    // First a level no row has, so that every read-out has to change,
    // whatever it shows at the start.
    h.fake.setInputs(2, 2, 2, 2);
    monitor();
    for (const char *name : {"Label1", "Label3", "Label4", "Label5"})
        QTRY_COMPARE(label(name)->text(), QStringLiteral("2"));

    h.fake.setInputs(v, 0, v, 1);
    const int before = reads();
    QTRY_VERIFY(reads() > before);
    QCOMPARE(label("Label1")->text(), QString::number(level));
    QCOMPARE(label("Label3")->text(), QStringLiteral("0"));
    QCOMPARE(label("Label4")->text(), QString::number(level));
    QCOMPARE(label("Label5")->text(), QStringLiteral("1"));
    // Sized to the text, as wide as it needs to be.
    QVERIFY(label("Label1")->width() >= label("Label1")->sizeHint().width());
}

void TestMonitor::fourReadsInOrderEveryTick()
{
    monitor();
    QTRY_VERIFY(reads() >= 3);
    const QStringList log = h.fake.log();
    const QStringList tick{"DCD", "DSR", "CTS", "RI"};
    for (qsizetype i = 0; i + 4 <= log.size(); i += 4)
        QCOMPARE(log.mid(i, 4), tick);
}

void TestMonitor::blinkAlternatesStartingDarkOrange()
{
    auto *shape = child<IndicatorBar>(monitor(), "Shape1");
    QCOMPARE(shape->fillColor(), Look::kDarkRed);
    monitor()->setInterval(400); // slow enough to catch the first tick alone
    QTRY_COMPARE(reads(), 1);
    QCOMPARE(shape->fillColor(), Look::kDarkOrange);
    QSet<int> seen;
    for (int i = 0; i < 4; ++i) {
        const int before = reads();
        QTRY_VERIFY(reads() > before);
        // Between two checks no tick runs: the colour goes with the count.
        QCOMPARE(shape->fillColor(), reads() % 2 == 1 ? Look::kDarkOrange : Look::kDarkRed);
        seen << reads() % 2;
    }
    QCOMPARE(seen.size(), 2);
}

void TestMonitor::togglingTwice()
{
    QPushButton *dtr = toggle("Check2");
    QCOMPARE(dtr->text(), QStringLiteral("0"));
    QTest::mouseClick(dtr, Qt::LeftButton);
    QCOMPARE(dtr->text(), QStringLiteral("1"));
    QTest::mouseClick(dtr, Qt::LeftButton);
    QCOMPARE(dtr->text(), QStringLiteral("0"));
    QTest::mouseClick(toggle("Check1"), Qt::LeftButton);
    QTest::mouseClick(toggle("Check3"), Qt::LeftButton);
    QCOMPARE(h.fake.calls(), QStringList({"DTR 1", "DTR 0", "TXD 1", "RTS 1"}));
}

void TestMonitor::pollsWhileHiddenBeforeOk()
{
    Registry::show(Registry::get<Form2>());
    QTest::mouseClick(child<QRadioButton>(Registry::get<Form2>(), "Option1"), Qt::LeftButton);
    QVERIFY(!monitor()->isVisible());
    h.fake.setInputs(1, 1, 0, 0);
    QTRY_COMPARE(label("Label3")->text(), QStringLiteral("1"));
    QVERIFY(!monitor()->isVisible());
}

void TestMonitor::tenMillisecondInterval()
{
    monitor()->setInterval(10);
    QCOMPARE(monitor()->interval(), 10);
    h.fake.clearLog();
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(500);
    const qint64 elapsed = clock.elapsed();
    // Generous: a loaded machine may drop ticks, but not most of them.
    QVERIFY2(reads() >= elapsed / 10 / 3, qPrintable(QString::number(reads())));
    QVERIFY(reads() <= elapsed / 10 + 2);

    monitor()->setInterval(10000);
    h.fake.clearLog();
    QTest::qWait(300);
    QCOMPARE(reads(), 0);
}

void TestMonitor::ticksGoOnWhileAMessageBoxIsOpen()
{
    monitor()->setInterval(10);
    h.fake.clearLog();
    BoxAnswerer answerer(300);
    QElapsedTimer clock;
    clock.start();
    QMessageBox::information(nullptr, QStringLiteral("Lintara"), QStringLiteral("…"));
    QVERIFY(clock.elapsed() >= 250);
    QVERIFY2(reads() >= 5, qPrintable(QString::number(reads())));
}

void TestMonitor::closingTheMonitorEndsTheProgram()
{
    Registry::show(monitor());
    monitor()->close();
    QCOMPARE(h.programEnds, 1);
    QVERIFY(!Registry::exists<Form1>());
}

void TestMonitor::switchingPortsSendsTheToggles()
{
    Registry::show(Registry::get<Form2>());
    auto option = [](const char *name) {
        return child<QRadioButton>(Registry::get<Form2>(), name);
    };
    h.fake.clearLog();
    QTest::mouseClick(option("Option2"), Qt::LeftButton);
    // The first selection already sends the toggles' states, all off.
    QCOMPARE(h.fake.calls().mid(1, 3), QStringList({"TXD 0", "DTR 0", "RTS 0"}));
    QCOMPARE(monitor()->port(), 2);

    QTest::mouseClick(toggle("Check2"), Qt::LeftButton);
    QTest::mouseClick(option("Option4"), Qt::LeftButton);
    QCOMPARE(monitor()->port(), 4);
    QCOMPARE(h.fake.calls().mid(h.fake.calls().size() - 4),
             QStringList({"OPENCOM COM4,1200,N,8,1", "TXD 0", "DTR 1", "RTS 0"}));
}

void TestMonitor::windowDesign()
{
    Form1 *m = monitor();
    QCOMPARE(m->windowTitle(), QStringLiteral("Lintara - COM0"));
    QCOMPARE(m->port(), 0);
    QCOMPARE(m->interval(), 100);
    QCOMPARE(m->size(), QSize(208, 160));
    QVERIFY(!(m->windowFlags() & Qt::WindowMinMaxButtonsHint));
    QCOMPARE(m->minimumSize(), m->maximumSize());
    QVERIFY(toggle("Check1")->isCheckable());
    QCOMPARE(toggle("Check2")->geometry(), QRect(8, 16, 49, 33));
    QCOMPARE(child<QWidget>(m, "Frame2")->geometry(), QRect(72, 8, 65, 57));
    QCOMPARE(child<QWidget>(m, "Shape1")->geometry(), QRect(8, 69, 193, 9));
    QCOMPARE(child<QPushButton>(m, "Command1")->text(), QStringLiteral("O programu / nastavení"));
    const QStringList captions{"TxD", "DTR", "RTS", "DCD", "DSR", "CTS", "RI"};
    QStringList found;
    for (const char *name : {"Frame1", "Frame2", "Frame3", "Frame4", "Frame6", "Frame7", "Frame8"})
        found << child<QGroupBox>(m, name)->title();
    QCOMPARE(found, captions);
    QVERIFY(hasProgramIcon(m));
    // The text is in "MS Sans Serif" (on Windows: "Microsoft Sans Serif",
    // its outline form) or the first installed font of its metrics, not in
    // whatever the system takes for an unknown family.
#ifdef Q_OS_WIN
    const QStringList metric{"Microsoft Sans Serif", "MS Sans Serif", "Tahoma", "Arial",
                             "Liberation Sans"};
#else
    const QStringList metric{"MS Sans Serif", "Microsoft Sans Serif", "Liberation Sans", "Arimo"};
#endif
    const QStringList installed = QFontDatabase::families();
    const auto font = std::find_if(metric.begin(), metric.end(),
                                   [&](const QString &f) { return installed.contains(f); });
    if (font != metric.end()) QCOMPARE(QFontInfo(label("Label1")->font()).family(), *font);
}

QTEST_MAIN(TestMonitor)
#include "test_monitor.moc"
