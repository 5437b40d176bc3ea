// The about and settings dialog, and the windows working together: whole
// journeys through the real registry and the scriptable driver.
#include "form1.h"
#include "form2.h"
#include "form3.h"
#include "harness.h"

#include <QDesktopServices>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QTest>
#include <QUrl>

namespace
{

QString com(int n)
{
    return QStringLiteral("OPENCOM COM%1,1200,N,8,1").arg(n);
}

} // namespace

class UrlCatcher : public QObject
{
    Q_OBJECT

public:
    QList<QUrl> opened;

public slots:
    void open(const QUrl &url) { opened << url; }
};

class TestDialog : public QObject
{
    Q_OBJECT

private slots:
    void init() { h.reset(); }
    void cleanupTestCase() { h.reset(); }

    void firstMarkInTheChooser();
    void markingInTheDialogRetitlesAndMirrors();
    void intervalOverItsWholeRange();
    void expandAndCollapse();
    void report_data();
    void report();
    void reportIsNotRefreshedWhileOpen();
    void reopeningAfterOkKeepsThePortInUse();
    void dialogSelectionFailure();
    void webLink();
    void openedModallyFromBothWindows();

private:
    Form3 *dialog() { return Registry::get<Form3>(); }
    QRadioButton *dialogOption(int n) { return portOption(dialog(), n); }
    QRadioButton *chooserOption(int n) { return portOption(Registry::get<Form2>(), n); }
    QLabel *label(const char *name) { return child<QLabel>(dialog(), name); }
    void click(const char *name) { child<QPushButton>(dialog(), name)->click(); }
    void chooseAndConfirm(int port);

    Harness h;
};

void TestDialog::chooseAndConfirm(int port)
{
    Registry::show(Registry::get<Form2>());
    QTest::mouseClick(chooserOption(port), Qt::LeftButton);
    BoxAnswerer answerer;
    QTest::mouseClick(child<QPushButton>(Registry::get<Form2>(), "Command1"), Qt::LeftButton);
    QVERIFY(!Registry::exists<Form2>());
}

void TestDialog::firstMarkInTheChooser()
{
    Registry::show(Registry::get<Form2>());
    h.fake.clearLog();
    QTest::mouseClick(chooserOption(2), Qt::LeftButton);
    // The chooser's open, the monitor's toggles, the hidden dialog's probe,
    // its mirrored re-open of COM2 and the toggles once more.
    QCOMPARE(h.fake.calls(), QStringList({com(2), "TXD 0", "DTR 0", "RTS 0", com(1), com(2), com(3),
                                          com(4), com(5), com(2), "TXD 0", "DTR 0", "RTS 0"}));
    QVERIFY(dialogOption(2)->isChecked());
    QVERIFY(!dialog()->isVisible());
    QCOMPARE(label("Label4")->text(), QStringLiteral("100 ms"));
}

void TestDialog::markingInTheDialogRetitlesAndMirrors()
{
    Registry::show(Registry::get<Form2>());
    QTest::mouseClick(chooserOption(1), Qt::LeftButton);
    h.fake.clearLog();

    dialogOption(3)->click();
    QCOMPARE(Registry::get<Form1>()->windowTitle(), QStringLiteral("Lintara - COM3"));
    QVERIFY(chooserOption(3)->isChecked());
    QVERIFY(!chooserOption(1)->isChecked());
    // The dialog's open, then the chooser's: one exchange, no more.
    QCOMPARE(h.fake.calls(),
             QStringList({com(3), "TXD 0", "DTR 0", "RTS 0", com(3), "TXD 0", "DTR 0", "RTS 0"}));

    // Marking the port already marked does nothing at all.
    h.fake.clearLog();
    dialogOption(3)->click();
    QVERIFY(h.fake.calls().isEmpty());
}

void TestDialog::intervalOverItsWholeRange()
{
    Form1 *monitor = Registry::get<Form1>();
    QCOMPARE(label("Label4")->text(), QStringLiteral("100 ms"));
    for (int i = 0; i < 990; ++i)
        click("Command1");
    QCOMPARE(label("Label4")->text(), QStringLiteral("10000 ms"));
    QCOMPARE(monitor->interval(), 10000);
    click("Command1");
    QCOMPARE(label("Label4")->text(), QStringLiteral("10000 ms"));
    QCOMPARE(monitor->interval(), 10000);

    for (int i = 0; i < 999; ++i)
        click("Command2");
    QCOMPARE(label("Label4")->text(), QStringLiteral("10 ms"));
    QCOMPARE(monitor->interval(), 10);
    click("Command2");
    click("Command2");
    QCOMPARE(label("Label4")->text(), QStringLiteral("10 ms"));
    QCOMPARE(monitor->interval(), 10);
    click("Command1");
    QCOMPARE(label("Label4")->text(), QStringLiteral("20 ms"));
    QCOMPARE(monitor->interval(), 20);

    // The interval outlives the dialog, for as long as the monitor lives.
    dialog()->close();
    QVERIFY(!Registry::exists<Form3>());
    QCOMPARE(label("Label4")->text(), QStringLiteral("20 ms"));
}

void TestDialog::expandAndCollapse()
{
    Form3 *d = dialog();
    QCOMPARE(d->windowTitle(), QStringLiteral("O programu Lintara"));
    QVERIFY(hasProgramIcon(d));
    QCOMPARE(d->size(), QSize(263, 189));
    auto *toggle = label("Label1");
    QCOMPARE(toggle->text(), QStringLiteral("Nastavení >>"));
    QTest::mouseClick(toggle, Qt::LeftButton);
    QCOMPARE(toggle->text(), QStringLiteral("Nastavení <<"));
    QCOMPARE(d->size(), QSize(263, 313)); // 124 px taller: 5055 - 3195 twips
    QTest::mouseClick(toggle, Qt::LeftButton);
    QCOMPARE(toggle->text(), QStringLiteral("Nastavení >>"));
    QCOMPARE(d->size(), QSize(263, 189));
    QCOMPARE(label("Label3")->text(), QStringLiteral("Vyberte si port 1 - 5"));
}

void TestDialog::report_data()
{
    QTest::addColumn<QList<int>>("failing");
    QTest::addColumn<QString>("text");
    // What OPENCOM answers for the ports that open: any value but 0.
    QTest::addColumn<int>("opened");
    const QString tail = QStringLiteral(" nelze otevřít - jsou nepřístupné, nebo neexistují");
    QTest::newRow("none") << QList<int>{} << QStringLiteral("Vyberte si port 1 - 5") << 1;
    QTest::newRow("2 and 4") << QList<int>{2, 4} << QStringLiteral("Port(y)  2, 4,") + tail << 1;
    QTest::newRow("only 5") << QList<int>{5} << QStringLiteral("Port(y)  5 ") + tail << 1;
    QTest::newRow("all") << QList<int>{1, 2, 3, 4, 5}
                         << QStringLiteral("Port(y) 1, 2, 3, 4, 5 ") + tail << 1;
    QTest::newRow("2 and 4, opened as -1")
        << QList<int>{2, 4} << QStringLiteral("Port(y)  2, 4,") + tail << -1;
    QTest::newRow("none, opened as 7")
        << QList<int>{} << QStringLiteral("Vyberte si port 1 - 5") << 7;
}

void TestDialog::report()
{
    QFETCH(QList<int>, failing);
    QFETCH(int, opened);
    for (int port = 1; port <= 5; ++port)
        h.fake.setOpenResult(port, static_cast<std::int16_t>(failing.contains(port) ? 0 : opened));
    QTest::mouseClick(label("Label1"), Qt::LeftButton);
    QFETCH(QString, text);
    QCOMPARE(label("Label3")->text(), text);
    for (int n = 1; n <= 5; ++n)
        QCOMPARE(dialogOption(n)->isEnabled(), !failing.contains(n));
}

void TestDialog::reportIsNotRefreshedWhileOpen()
{
    h.fake.setOpenResult(3, 0);
    dialog();
    h.fake.setOpenResult(3, 1);
    h.fake.setOpenResult(1, 0);
    QTest::mouseClick(label("Label1"), Qt::LeftButton);
    QTest::mouseClick(label("Label1"), Qt::LeftButton);
    QTest::mouseClick(label("Label1"), Qt::LeftButton);
    QCOMPARE(label("Label3")->text(),
             QStringLiteral("Port(y)  3, nelze otevřít - jsou nepřístupné, nebo neexistují"));

    // A new dialog probes again.
    dialog()->close();
    QTest::mouseClick(label("Label1"), Qt::LeftButton);
    QCOMPARE(label("Label3")->text(),
             QStringLiteral("Port(y) 1, nelze otevřít - jsou nepřístupné, nebo neexistují"));
}

void TestDialog::reopeningAfterOkKeepsThePortInUse()
{
    chooseAndConfirm(2);
    QVERIFY(!Registry::exists<Form3>() || !dialog()->isVisible());
    if (Registry::exists<Form3>()) dialog()->close();
    h.fake.clearLog();

    dialog();
    const QStringList opens = h.fake.calls().filter(QStringLiteral("OPENCOM"));
    // Two probes (the dialog's and the re-created chooser's), then COM2 made
    // current again, by the dialog and by the chooser that mirrors it.
    QCOMPARE(opens.mid(0, 10), QStringList({com(1), com(2), com(3), com(4), com(5), com(1), com(2),
                                            com(3), com(4), com(5)}));
    QCOMPARE(opens.mid(10), QStringList({com(2), com(2)}));
    QVERIFY(dialogOption(2)->isChecked());
    QCOMPARE(Registry::get<Form1>()->windowTitle(), QStringLiteral("Lintara - COM2"));
    QVERIFY(Registry::exists<Form2>());
    QVERIFY(!Registry::get<Form2>()->isVisible());
}

void TestDialog::dialogSelectionFailure()
{
    Registry::show(Registry::get<Form2>());
    QTest::mouseClick(chooserOption(1), Qt::LeftButton);
    h.fake.setOpenResult(5, 0);
    h.fake.clearLog();

    BoxAnswerer answerer;
    dialogOption(5)->click();
    QCOMPARE(answerer.texts(), QStringList{QStringLiteral(
                                   "Port COM5 nelze otevřít - je nepřístupný, nebo neexistuje")});
    QCOMPARE(answerer.boxes[0].icon, QMessageBox::Warning);
    QVERIFY(!dialogOption(5)->isEnabled());
    QVERIFY(!dialogOption(5)->isChecked());
    QVERIFY(dialogOption(1)->isChecked());
    QVERIFY(chooserOption(1)->isChecked());
    QVERIFY(!chooserOption(5)->isChecked());
    QCOMPARE(Registry::get<Form1>()->windowTitle(), QStringLiteral("Lintara - COM1"));
    QCOMPARE(h.fake.calls().filter(QStringLiteral("OPENCOM")).last(), com(1));
}

void TestDialog::webLink()
{
    UrlCatcher catcher;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &catcher, "open");
    QLabel *credit = label("Label2");
    QCOMPARE(credit->text(), Form3::kCredit);
    QCOMPARE(credit->cursor().shape(), Qt::UpArrowCursor);
    QTest::mouseClick(credit, Qt::LeftButton);
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QCOMPARE(catcher.opened, QList<QUrl>{QUrl(Form3::kHomePage)});
    QVERIFY(QUrl(Form3::kHomePage).isValid());
}

void TestDialog::openedModallyFromBothWindows()
{
    Registry::show(Registry::get<Form2>());
    bool seen = false;
    QVERIFY(whileModal([] { child<QPushButton>(Registry::get<Form2>(), "Command2")->click(); },
                       [&](Window *w) { seen = w == dialog() && w->isModal(); }));
    QVERIFY(seen);
    QVERIFY(!Registry::exists<Form3>()); // closing destroyed it

    chooseAndConfirm(4);
    Form1 *monitor = Registry::get<Form1>();
    h.fake.clearLog();
    int readsWhileOpen = 0;
    QVERIFY(whileModal([&] { child<QPushButton>(monitor, "Command1")->click(); },
                       [&](Window *w) {
                           // The monitor goes on polling, and "-" changes its
                           // rate at once.
                           auto *minus = child<QPushButton>(w, "Command2");
                           for (int i = 0; i < 9; ++i)
                               minus->click();
                           const int before = h.fake.count(QStringLiteral("DCD"));
                           QTest::qWait(200);
                           readsWhileOpen = h.fake.count(QStringLiteral("DCD")) - before;
                       }));
    QVERIFY2(readsWhileOpen >= 5, qPrintable(QString::number(readsWhileOpen)));
    QCOMPARE(monitor->interval(), 10);
    QVERIFY(!Registry::exists<Form3>());
    QCOMPARE(h.programEnds, 0);
}

QTEST_MAIN(TestDialog)
#include "test_dialog.moc"
