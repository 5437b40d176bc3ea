// The edges in the program: the read-outs' counters and orange marks on a
// driver with EDGES, the record of all seven lines and its two formats, and
// the timeline window.
#include "form1.h"
#include "form2.h"
#include "form4.h"
#include "harness.h"
#include "linerecord.h"
#include "look.h"
#include "timelineview.h"

#include <QAccessible>
#include <QBuffer>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLabel>
#include <QMenu>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

using Edges = std::vector<FakeDriver::Edge>;
Q_DECLARE_METATYPE(Edges)

class TestTimeline : public QObject
{
    Q_OBJECT

private slots:
    void init();
    void cleanupTestCase() { h.reset(); }

    void missedPulses_data();
    void missedPulses();
    void markLastsASecondFromItsTick();
    void fullBufferIsTakenAgain();
    void portsThatCannotTellHaveNoCounter();
    void eachPortHasItsCounts();
    void recordLimits();
    void formats();
    void sigrokReadsTheVcd();
    void contextMenuOpensTheTimeline();
    void failedSaveSaysWhy();

private:
    Form1 *monitor() { return Registry::get<Form1>(); }
    QLabel *dcd() { return child<QLabel>(monitor(), "Label1"); }
    bool orange(QLabel *label) const
    {
        return label->palette().color(QPalette::WindowText) == Look::kOrange;
    }
    // Runs the scripted ticks.
    void tick() { QTRY_COMPARE(h.fake.scriptLeft(), 0); }
    static FakeDriver::Edge ago(std::int64_t microseconds, int count, int line, int level)
    {
        return {-microseconds, count, static_cast<std::int16_t>(line),
                static_cast<std::int16_t>(level)};
    }
    static FakeDriver::Edge edge(std::int64_t ago, int count, int line, int level)
    {
        return {LineRecord::now() - ago, count, static_cast<std::int16_t>(line),
                static_cast<std::int16_t>(level)};
    }

    Harness h;
};

void TestTimeline::init()
{
    h.reset();
    Registry::show(Registry::get<Form2>());
    QTest::mouseClick(portOption(Registry::get<Form2>(), 2), Qt::LeftButton);
    monitor()->setInterval(20);
    h.fake.scriptTick(0, 0, 0, 0);
    tick();
}

// Two ticks after a quiet one: DCD as read and the edges each brought.
void TestTimeline::missedPulses_data()
{
    QTest::addColumn<int>("read");
    QTest::addColumn<Edges>("edges");
    QTest::addColumn<int>("then");
    QTest::addColumn<Edges>("later");
    QTest::addColumn<bool>("marked");
    QTest::addColumn<int>("count");
    const Edges none;
    QTest::newRow("a pulse between two reads")
        << 0 << Edges{ago(3000, 1, 1, 1), ago(1000, 2, 1, 0)} << 0 << none << true << 2;
    QTest::newRow("a change the read saw")
        << 1 << Edges{ago(3000, 1, 1, 1)} << 1 << none << false << 1;
    QTest::newRow("a change and a pulse")
        << 1 << Edges{ago(5000, 1, 1, 1), ago(3000, 2, 1, 0), ago(1000, 3, 1, 1)} << 1 << none
        << true << 3;
    QTest::newRow("a count jump, no visible change")
        << 0 << Edges{ago(1000, 2, 1, 0)} << 0 << none << true << 2;
    QTest::newRow("an edge after the read")
        << 0 << Edges{ago(0, 1, 1, 1)} << 1 << none << false << 1;
    QTest::newRow("an edge later than the read")
        << 1 << none << 1 << Edges{ago(0, 1, 1, 1)} << false << 1;
    QTest::newRow("another line's pulse")
        << 0 << Edges{ago(3000, 1, 2, 1), ago(1000, 2, 2, 0)} << 0 << none << false << 0;
}

void TestTimeline::missedPulses()
{
    QFETCH(int, read);
    QFETCH(Edges, edges);
    QFETCH(int, then);
    QFETCH(Edges, later);
    QFETCH(bool, marked);
    QFETCH(int, count);
    // The rows give how long ago each edge was.
    const std::int64_t now = LineRecord::now();
    for (Edges *list : {&edges, &later})
        for (FakeDriver::Edge &e : *list)
            e.time += now;
    h.fake.scriptTick(static_cast<std::int16_t>(read), 0, 0, 0, edges);
    h.fake.scriptTick(static_cast<std::int16_t>(then), 0, 0, 0, later);
    tick();
    QCOMPARE(monitor()->marked(0), marked);
    QCOMPARE(orange(dcd()), marked);
    // The digit is the read's, whatever the edges said.
    QCOMPARE(dcd()->text(), QString::number(then));
    QCOMPARE(dcd()->toolTip(), QStringLiteral("Změn od otevření portu: %1").arg(count));
    QCOMPARE(QAccessible::queryAccessibleInterface(dcd())->text(QAccessible::Description),
             dcd()->toolTip());
    const bool dsr = !edges.empty() && edges.back().line == 2;
    QCOMPARE(child<QLabel>(monitor(), "Label3")->toolTip(),
             QStringLiteral("Změn od otevření portu: %1").arg(dsr ? 2 : 0));
    // The record has the first edge at its time, in its row.
    const FakeDriver::Edge first = edges.empty() ? later.front() : edges.front();
    const LineRecord &record = monitor()->record();
    const std::size_t i = record.lowerBound(first.time);
    QVERIFY(i < record.size());
    QCOMPARE(record.at(i).time, first.time);
    QCOMPARE(record.at(i).line, LineRecord::kDcd + first.line - 1);
}

void TestTimeline::markLastsASecondFromItsTick()
{
    const Edges pulse{edge(3000, 1, 1, 1), edge(1000, 2, 1, 0)};
    h.fake.scriptTick(0, 0, 0, 0, pulse);
    tick();
    QElapsedTimer clock;
    clock.start();
    QVERIFY(orange(dcd()));
    QTest::qWait(600);
    QVERIFY(orange(dcd()));
    // Another missed pulse starts the second again.
    h.fake.scriptTick(0, 0, 0, 0, {edge(3000, 3, 1, 1), edge(1000, 4, 1, 0)});
    tick();
    clock.restart();
    QTRY_VERIFY_WITH_TIMEOUT(!orange(dcd()), 2000);
    QVERIFY2(clock.elapsed() >= 900, qPrintable(QString::number(clock.elapsed())));
    QCOMPARE(Look::kWhite, dcd()->palette().color(QPalette::WindowText));
    QCOMPARE(dcd()->text(), QStringLiteral("0"));
}

void TestTimeline::fullBufferIsTakenAgain()
{
    Edges many;
    for (int i = 0; i < Form1::kEdgesAtOnce + 10; ++i)
        many.push_back(edge(100000 - i * 10, i + 1, 3, (i + 1) % 2));
    h.fake.clearLog();
    h.fake.scriptTick(0, 0, 0, 0, many);
    h.fake.scriptTick(0, 0, 0, 0);
    tick();
    const QStringList log = h.fake.log();
    QCOMPARE(log.mid(0, 6), QStringList({"DCD", "DSR", "CTS", "RI", "EDGES", "EDGES"}));
    QCOMPARE(child<QLabel>(monitor(), "Label4")->toolTip(),
             QStringLiteral("Změn od otevření portu: %1").arg(many.size()));
}

void TestTimeline::portsThatCannotTellHaveNoCounter()
{
    QVERIFY(!dcd()->toolTip().isEmpty());
    h.fake.scriptTick(1, 0, 0, 0, {}, -2);
    tick();
    QTRY_VERIFY(dcd()->toolTip().isEmpty());
    QCOMPARE(dcd()->accessibleDescription(), QString());
    // The record follows the reads then.
    QTRY_COMPARE(monitor()->record().levels()[LineRecord::kDcd], std::int8_t{1});
}

void TestTimeline::eachPortHasItsCounts()
{
    auto select = [](int port) {
        QTest::mouseClick(portOption(Registry::get<Form2>(), port), Qt::LeftButton);
    };
    h.fake.scriptTick(0, 0, 0, 0, {edge(2000, 1, 1, 1), edge(1000, 2, 1, 0)});
    tick();
    select(3);
    // Not told yet on COM3; then its own count.
    QCOMPARE(dcd()->toolTip(), QString());
    h.fake.scriptTick(1, 0, 0, 0, {edge(1000, 5, 1, 1)});
    h.fake.scriptTick(1, 0, 0, 0);
    tick();
    QCOMPARE(dcd()->toolTip(), QStringLiteral("Změn od otevření portu: 5"));
    // The pulses COM3 had before it was selected are no missed pulse.
    QVERIFY(!monitor()->marked(0));
    select(2);
    QCOMPARE(dcd()->toolTip(), QStringLiteral("Změn od otevření portu: 2"));
    int port = 0;
    monitor()->record().levelsAt(LineRecord::now(), &port);
    QCOMPARE(port, 2);
}

void TestTimeline::recordLimits()
{
    LineRecord record;
    QVERIFY(record.capacity() >= 1000000);
    record.switchPort(1000, 2);
    const std::size_t total = record.capacity() + 300000;
    for (std::size_t i = 0; i < total; ++i)
        record.set(2000 + static_cast<std::int64_t>(i), LineRecord::kDcd, static_cast<int>(i % 2));
    QCOMPARE(record.size(), record.capacity());
    QVERIFY2(record.bytes() <= 32u << 20, qPrintable(QString::number(record.bytes())));
    // The oldest went into the start.
    const std::int64_t first = 2000 + static_cast<std::int64_t>(total - record.capacity());
    QCOMPARE(record.at(0).time, first);
    QCOMPARE(record.startTime(), first - 1);
    QCOMPARE(record.startLevels()[LineRecord::kDcd],
             std::int8_t((total - record.capacity() - 1) % 2));
    QCOMPARE(record.originTime(), 1000);
    for (std::int64_t at : {first - 1, first + 5, first + 123457, std::int64_t(total) + 1999})
        QCOMPARE(record.levelsAt(at)[LineRecord::kDcd], std::int8_t((at - 2000) % 2));
    QCOMPARE(record.lowerBound(first + 10), std::size_t{10});
}

void TestTimeline::formats()
{
    LineRecord record;
    record.switchPort(5000000, 2);
    record.set(5000000, LineRecord::kTxd, 0);
    record.set(5000000, LineRecord::kDtr, 1);
    record.set(5100000, LineRecord::kDcd, 1);
    record.set(5100000, LineRecord::kDsr, 0);
    record.set(5600000, LineRecord::kDcd, 0);
    record.set(5602500, LineRecord::kDcd, 1);
    record.switchPort(6000000, 3);
    record.jump(6250000, LineRecord::kRi, 1);

    QBuffer vcd;
    vcd.open(QIODevice::WriteOnly);
    record.writeVcd(vcd, QDateTime(QDate(2026, 12, 9), QTime(10, 0)),
                    QStringLiteral("Lintara 1.1.0.8"), 7000000);
    QCOMPARE(QString::fromUtf8(vcd.data()), QStringLiteral(R"($date
	2026-12-09 10:00:00
$end
$version
	Lintara 1.1.0.8
$end
$timescale 1 us $end
$scope module COM2 $end
$var wire 1 ! TxD $end
$var wire 1 " DTR $end
$var wire 1 # RTS $end
$var wire 1 $ DCD $end
$var wire 1 % DSR $end
$var wire 1 & CTS $end
$var wire 1 ' RI $end
$upscope $end
$enddefinitions $end
#0
$dumpvars
x!
x"
x#
x$
x%
x&
x'
$end
0!
1"
#100000
1$
0%
#600000
0$
#602500
1$
#1000000
$comment COM3 $end
x$
x%
#1250000
1'
#2000000
)"));

    QBuffer csv;
    csv.open(QIODevice::WriteOnly);
    record.writeCsv(csv);
    QCOMPARE(QString::fromUtf8(csv.data()), QStringLiteral(R"(time_s,TxD,DTR,RTS,DCD,DSR,CTS,RI
0.000000,-1,-1,-1,-1,-1,-1,-1
0.000000,0,1,-1,-1,-1,-1,-1
0.100000,0,1,-1,1,0,-1,-1
0.600000,0,1,-1,0,0,-1,-1
0.602500,0,1,-1,1,0,-1,-1
1.000000,0,1,-1,-1,-1,-1,-1
1.250000,0,1,-1,-1,-1,-1,1
)"));
}

// What a logic analyser's own reader makes of a saved file: the pulse that
// the reads missed, with its edges at their times.
void TestTimeline::sigrokReadsTheVcd()
{
    const QString sigrok = QStandardPaths::findExecutable(QStringLiteral("sigrok-cli"));
    if (sigrok.isEmpty()) QSKIP("sigrok-cli is not installed (package sigrok-cli)");
    h.fake.scriptTick(1, 1, 0, 0, {edge(30000, 1, 1, 1)});
    h.fake.scriptTick(1, 1, 0, 0, {edge(2000, 2, 1, 0), edge(1000, 3, 1, 1)});
    tick();
    QVERIFY(monitor()->marked(0));
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("pulse.vcd"));
    QVERIFY(Registry::get<Form4>()->saveTo(path));

    QProcess process;
    process.start(sigrok, {"-I", "vcd", "-i", path, "-O", "vcd"});
    QVERIFY(process.waitForFinished(30000));
    QCOMPARE(process.exitCode(), 0);
    // Its own dump: "#t" and the changes at t on one line; DCD is "$".
    QList<std::int64_t> dcdTimes;
    for (const QByteArray &line : process.readAllStandardOutput().split('\n')) {
        if (!line.startsWith('#')) continue;
        const QList<QByteArray> fields = line.mid(1).split(' ');
        for (const QByteArray &f : fields.mid(1))
            if (f.endsWith('$')) dcdTimes << fields[0].toLongLong();
    }
    const LineRecord &record = monitor()->record();
    QList<std::int64_t> expected;
    for (std::size_t i = 0; i < record.size(); ++i) {
        const LineRecord::Change &c = record.at(i);
        if (c.kind != LineRecord::kPort && c.line == LineRecord::kDcd && c.level >= 0)
            expected << c.time - record.startTime();
    }
    QVERIFY(expected.size() >= 3);
    QCOMPARE(dcdTimes.mid(dcdTimes.size() - 3), expected.mid(expected.size() - 3));
}

void TestTimeline::contextMenuOpensTheTimeline()
{
    const int children = monitor()->findChildren<QWidget *>().size();
    for (bool key : {false, true}) {
        QTimer::singleShot(100, [] {
            auto *menu = qobject_cast<QMenu *>(QApplication::activePopupWidget());
            QVERIFY(menu != nullptr);
            QCOMPARE(menu->actions().size(), 2);
            QCOMPARE(menu->actions().first()->text(), QStringLiteral("Průběh signálů"));
            QCOMPARE(menu->actions().last()->text(), QStringLiteral("Test zapojení"));
            menu->actions().first()->trigger();
            menu->close();
        });
        QWidget *target = key ? static_cast<QWidget *>(monitor()) : dcd();
        QContextMenuEvent event(key ? QContextMenuEvent::Keyboard : QContextMenuEvent::Mouse,
                                QPoint(5, 5), target->mapToGlobal(QPoint(5, 5)));
        QApplication::sendEvent(target, &event);
        QTRY_VERIFY(Registry::exists<Form4>());
        Form4 *timeline = Registry::get<Form4>();
        QCOMPARE(timeline->windowTitle(), QStringLiteral("Průběh signálů - COM2"));
        QVERIFY(timeline->isVisible());
        QVERIFY(!timeline->isModal());
        QVERIFY(timeline->view()->live());
        QCOMPARE(timeline->view()->rightTime() - timeline->view()->leftTime() + 999 >= 10000000,
                 true);
        // Closed, it ends nothing, and the record stays the monitor's.
        const std::size_t recorded = monitor()->record().size();
        timeline->close();
        QVERIFY(!Registry::exists<Form4>());
        QCOMPARE(h.programEnds, 0);
        QVERIFY(monitor()->record().size() >= recorded);
    }
    QCOMPARE(monitor()->findChildren<QWidget *>().size(), children);
    QTest::mouseClick(portOption(Registry::get<Form2>(), 3), Qt::LeftButton);
    QCOMPARE(Registry::get<Form4>()->windowTitle(), QStringLiteral("Průběh signálů - COM3"));
}

void TestTimeline::failedSaveSaysWhy()
{
    BoxAnswerer answerer;
    const QString path = QStringLiteral("/nonexistent/folder/pulse.vcd");
    QVERIFY(!Registry::get<Form4>()->saveTo(path));
    QCOMPARE(answerer.boxes.size(), 1);
    QCOMPARE(answerer.boxes[0].caption, QStringLiteral("Lintara"));
    QCOMPARE(answerer.boxes[0].icon, QMessageBox::Warning);
    const QStringList lines = answerer.boxes[0].text.split(QLatin1Char('\n'));
    QCOMPARE(lines.size(), 2);
    QCOMPARE(lines[0], QStringLiteral("Soubor nelze uložit: ") + path);
    QVERIFY(!lines[1].isEmpty());
}

QTEST_MAIN(TestTimeline)
#include "test_timeline.moc"
