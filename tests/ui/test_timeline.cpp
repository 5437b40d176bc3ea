// The edges in the program: the read-outs' counters and orange marks on a
// driver with EDGES, the saved record as viewers read it, and the timeline
// window. The judgement itself and the record's formats are tested in
// tests/lines.
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

    void missedPulseIsShown();
    void markLastsASecondFromItsTick();
    void fullBufferIsTakenAgain();
    void portsThatCannotTellHaveNoCounter();
    void eachPortHasItsCounts();
    void sigrokReadsTheVcd_data() { recordings(); }
    void sigrokReadsTheVcd();
    void gtkwaveReadsTheVcd_data() { recordings(); }
    void gtkwaveReadsTheVcd();
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
    void select(int port)
    {
        QTest::mouseClick(portOption(Registry::get<Form2>(), port), Qt::LeftButton);
    }
    static void recordings();
    // Plays the row's recording and saves it; its path, or empty.
    QString record(const QTemporaryDir &dir);
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

// What the read-outs show of a pulse between two reads: the digit is the
// read's, orange, and its tooltip the count.
void TestTimeline::missedPulseIsShown()
{
    h.fake.scriptTick(0, 0, 0, 0, {edge(3000, 1, 1, 1), edge(1000, 2, 1, 0)});
    h.fake.scriptTick(0, 0, 0, 0);
    tick();
    QVERIFY(monitor()->marked(0));
    QVERIFY(orange(dcd()));
    QCOMPARE(dcd()->text(), QStringLiteral("0"));
    QCOMPARE(dcd()->toolTip(), QStringLiteral("Změn od otevření portu: 2"));
    QCOMPARE(QAccessible::queryAccessibleInterface(dcd())->text(QAccessible::Description),
             dcd()->toolTip());
    QCOMPARE(child<QLabel>(monitor(), "Label3")->toolTip(),
             QStringLiteral("Změn od otevření portu: 0"));
    QVERIFY(!orange(child<QLabel>(monitor(), "Label3")));
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
    QTRY_COMPARE(monitor()->lines().record().levels()[LineRecord::kDcd], std::int8_t{1});
}

// The tooltips follow the port: each has its counts.
void TestTimeline::eachPortHasItsCounts()
{
    h.fake.scriptTick(0, 0, 0, 0, {edge(2000, 1, 1, 1), edge(1000, 2, 1, 0)});
    tick();
    select(3);
    // Not told yet on COM3; then its own count.
    QCOMPARE(dcd()->toolTip(), QString());
    h.fake.scriptTick(1, 0, 0, 0, {edge(1000, 5, 1, 1)});
    h.fake.scriptTick(1, 0, 0, 0);
    tick();
    QCOMPARE(dcd()->toolTip(), QStringLiteral("Změn od otevření portu: 5"));
    QVERIFY(!monitor()->marked(0));
    select(2);
    QCOMPARE(dcd()->toolTip(), QStringLiteral("Změn od otevření portu: 2"));
}

// Recordings played on the monitor: one step a tick, or a port selected
// when the step's port is not 0.
struct Step {
    int port;
    std::array<std::int16_t, 4> reads;
    // How long before the tick each edge came, its count, line and level.
    std::vector<std::array<int, 4>> edges;
};
using Steps = std::vector<Step>;
Q_DECLARE_METATYPE(Steps)

void TestTimeline::recordings()
{
    QTest::addColumn<Steps>("steps");
    QTest::newRow("a pulse the reads missed")
        << Steps{{0, {1, 1, 0, 0}, {{30000, 1, 1, 1}}},
                 {0, {1, 1, 0, 0}, {{2000, 2, 1, 0}, {1000, 3, 1, 1}}}};
    QTest::newRow("two port switches")
        << Steps{{0, {1, 1, 0, 0}, {{30000, 1, 1, 1}}},
                 {3, {}, {}},
                 {0, {0, 1, 1, 0}, {{2000, 1, 3, 1}}},
                 {0, {0, 0, 1, 0}, {{3000, 1, 2, 0}, {2000, 2, 2, 1}, {1000, 3, 2, 0}}},
                 {2, {}, {}},
                 {0, {1, 0, 0, 1}, {{5000, 1, 4, 1}}},
                 {0, {0, 0, 0, 1}, {{1000, 2, 1, 0}}}};
}

QString TestTimeline::record(const QTemporaryDir &dir)
{
    QFETCH(Steps, steps);
    for (const Step &step : steps) {
        if (step.port != 0) {
            select(step.port);
            continue;
        }
        std::vector<FakeDriver::Edge> edges;
        for (const auto &e : step.edges)
            edges.push_back(edge(e[0], e[1], e[2], e[3]));
        h.fake.scriptTick(step.reads[0], step.reads[1], step.reads[2], step.reads[3], edges);
        tick();
    }
    const QString path = dir.filePath(QStringLiteral("lines.vcd"));
    return Registry::get<Form4>()->saveTo(path) ? path : QString();
}

namespace
{

// A Value Change Dump as its changes: each signal's levels from time 0 on,
// a level only where it differs from the one before, and the last time.
struct Dump {
    QMap<QByteArray, QList<QPair<std::int64_t, char>>> changes;
    std::int64_t end = 0;
    QByteArray header;
    bool commentInBody = false;
};

Dump parse(const QByteArray &text, bool xIsLow = false)
{
    Dump dump;
    const qsizetype body = text.indexOf("$enddefinitions");
    dump.header = text.left(body);
    QMap<QByteArray, QByteArray> names;
    const QList<QByteArray> declarations = dump.header.simplified().split(' ');
    for (qsizetype i = 0; i + 4 < declarations.size(); ++i)
        if (declarations[i] == "$var") names[declarations[i + 3]] = declarations[i + 4];
    std::int64_t time = 0;
    for (const QByteArray &word : text.mid(body).simplified().split(' ')) {
        if (word.startsWith('#')) {
            time = dump.end = word.mid(1).toLongLong();
        } else if (word == "$comment") {
            dump.commentInBody = true;
        } else if (!word.isEmpty() && QByteArray("01xXzZ").contains(word[0]) &&
                   names.contains(word.mid(1))) {
            char level = static_cast<char>(QChar::toLower(word[0]));
            if (xIsLow && level != '1') level = '0';
            auto &list = dump.changes[names[word.mid(1)]];
            if (!list.isEmpty() && list.last().first == time) list.removeLast();
            if (list.isEmpty() || list.last().second != level) list.append({time, level});
        }
    }
    return dump;
}

QByteArray run(const QString &program, const QStringList &arguments)
{
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(30000) || process.exitCode() != 0) {
        qWarning() << program << arguments << process.readAllStandardError();
        return {};
    }
    return process.readAllStandardOutput();
}

QByteArray contents(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

// What a logic analyser's own reader makes of a saved file: every change,
// before and after the port switches, at its time.
void TestTimeline::sigrokReadsTheVcd()
{
    const QString sigrok = QStandardPaths::findExecutable(QStringLiteral("sigrok-cli"));
    if (sigrok.isEmpty()) QSKIP("sigrok-cli is not installed (package sigrok-cli)");
    QTemporaryDir dir;
    const QString path = record(dir);
    QVERIFY(!path.isEmpty());
    const Dump saved = parse(contents(path), true);
    QVERIFY(!saved.commentInBody);
    QVERIFY(saved.end > 0);
    // Its own dump: "#t" and the changes at t on one line; it knows no x.
    const Dump read = parse(run(sigrok, {"-I", "vcd", "-i", path, "-O", "vcd"}));
    QCOMPARE(read.changes, saved.changes);
    QCOMPARE(read.end, saved.end);
    // The pulse is there, and the switches are listed in the header.
    QVERIFY(saved.changes.value("DCD").size() >= 3);
    QFETCH(Steps, steps);
    const auto switches =
        std::count_if(steps.begin(), steps.end(), [](const Step &step) { return step.port != 0; });
    QCOMPARE(saved.header.count(" COM"), 1 + switches);
}

// GTKWave's tools take the file in and give it back: every change, x too.
void TestTimeline::gtkwaveReadsTheVcd()
{
    const QString vcd2fst = QStandardPaths::findExecutable(QStringLiteral("vcd2fst"));
    const QString fst2vcd = QStandardPaths::findExecutable(QStringLiteral("fst2vcd"));
    if (vcd2fst.isEmpty() || fst2vcd.isEmpty())
        QSKIP("GTKWave's vcd2fst and fst2vcd are not installed (package gtkwave)");
    QTemporaryDir dir;
    const QString path = record(dir);
    QVERIFY(!path.isEmpty());
    const QString fst = dir.filePath(QStringLiteral("lines.fst"));
    run(vcd2fst, {path, fst});
    const Dump saved = parse(contents(path));
    const Dump read = parse(run(fst2vcd, {fst}));
    QVERIFY(!read.changes.isEmpty());
    QCOMPARE(read.changes, saved.changes);
    QCOMPARE(read.end, saved.end);
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
        const std::size_t recorded = monitor()->lines().record().size();
        timeline->close();
        QVERIFY(!Registry::exists<Form4>());
        QCOMPARE(h.programEnds, 0);
        QVERIFY(monitor()->lines().record().size() >= recorded);
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
