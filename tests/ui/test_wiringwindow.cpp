// The wiring test's window on the real driver's virtual ports: COM1 has a
// test plug, COM3 and COM4 are the ends of a null-modem cable. The result
// as the window shows it, and the lines afterwards as the toggles show.
#include "form1.h"
#include "form2.h"
#include "form5.h"
#include "modul1.h"
#include "ports.h"
#include "startup.h"

#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTimer>

class TestWiringWindow : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void results_data();
    void results();

private:
    // Clicks `button` of the next message box, and keeps its caption and text.
    void answer(const QString &button);
    QStringList m_asked;
};

void TestWiringWindow::initTestCase()
{
    Startup::prepare();
    Registry::setProgramEnd([] {});
    Registry::get<Form2>(); // its probe finds the ports
    QCOMPARE(Port::foundAvailable(4), true);
}

void TestWiringWindow::answer(const QString &button)
{
    auto *poll = new QTimer(this);
    connect(poll, &QTimer::timeout, this, [this, poll, button] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        poll->deleteLater();
        m_asked << box->windowTitle() + QLatin1Char('|') + box->text();
        for (QAbstractButton *b : box->buttons()) {
            if (b->text() == button) b->click();
        }
    });
    poll->start(5);
}

void TestWiringWindow::results_data()
{
    QTest::addColumn<int>("port");
    QTest::addColumn<QString>("other");
    QTest::addColumn<QStringList>("result");

    QTest::newRow("loopback") << 1 << "žádný (zkušební zástrčka)"
                              << QStringList{"TxD → RI", "DTR → DCD, DSR", "RTS → CTS",
                                             "Zapojení odpovídá zkušební zástrčce."};
    QTest::newRow("nullmodem pair")
        << 3 << "COM 4"
        << QStringList{"COM3 TxD → nic",
                       "COM3 DTR → COM4 DCD, DSR",
                       "COM3 RTS → COM4 CTS",
                       "COM4 TxD → nic",
                       "COM4 DTR → COM3 DCD, DSR",
                       "COM4 RTS → COM3 CTS",
                       "COM3 RI: stále 0",
                       "COM4 RI: stále 0",
                       "Zapojení odpovídá kříženému kabelu (null-modem) s řídicími signály."};
}

void TestWiringWindow::results()
{
    QFETCH(int, port);
    QFETCH(QString, other);
    QFETCH(QStringList, result);

    Form1 *monitor = Registry::get<Form1>();
    QVERIFY(Modul1::opened(Modul1::OPENCOM(Port::settings(port))));
    monitor->setPortTitle(port);
    auto *dtr = monitor->findChild<QPushButton *>(QStringLiteral("Check2"));
    if (!dtr->isChecked()) dtr->click(); // DTR stays active through the test

    Form5 *window = Registry::get<Form5>();
    Registry::show(window);
    QCOMPARE(window->windowTitle(), QStringLiteral("Test zapojení - COM%1").arg(port));
    auto *choice = window->findChild<QComboBox *>(QStringLiteral("Combo1"));
    auto *start = window->findChild<QPushButton *>(QStringLiteral("Command1"));
    auto *text = window->findChild<QPlainTextEdit *>(QStringLiteral("Text1"));
    QCOMPARE(choice->findText(QStringLiteral("COM %1").arg(port)), -1);
    choice->setCurrentIndex(choice->findText(other));
    QVERIFY(choice->currentIndex() >= 0);

    // "Ne" does nothing.
    answer(QStringLiteral("Ne"));
    start->click();
    QVERIFY(!window->running());
    QCOMPARE(m_asked.last(), QStringLiteral("Lintara|Test přepíná výstupy TxD, DTR a RTS. Zařízení "
                                            "připojené k portu na to může reagovat. Pokračovat?"));

    answer(QStringLiteral("Ano"));
    start->click();
    QVERIFY(window->running());
    QVERIFY(!start->isEnabled());
    QTRY_VERIFY_WITH_TIMEOUT(!window->running(), 5000);
    QVERIFY(start->isEnabled());
    QCOMPARE(text->toPlainText().split(QLatin1Char('\n')), result);

    // The monitor polls its own port again, whose DSR is the toggle's DTR
    // (the nullmodem pair: the other end's), and so is the record's.
    QTRY_COMPARE(monitor->findChild<QLabel *>(QStringLiteral("Label3"))->text(), "1");
    QCOMPARE(monitor->findChild<QLabel *>(QStringLiteral("Label4"))->text(), "0");
    QCOMPARE(monitor->lines().record().port(), port);
    if (port == 3) { // COM3's own DTR, seen from COM4
        QVERIFY(Modul1::opened(Modul1::OPENCOM(Port::settings(4))));
        QCOMPARE(Modul1::DSR(), 1);
        QVERIFY(Modul1::opened(Modul1::OPENCOM(Port::settings(3))));
    }
}

QTEST_MAIN(TestWiringWindow)
#include "test_wiringwindow.moc"
