// What the lines did, without a window: the judgement of the monitor's reads
// and the driver's edges (counts, missed pulses, late edges), port switches,
// the record and its two formats.
#include "lines.h"

#include <QBuffer>
#include <QDateTime>
#include <QTemporaryDir>
#include <QTest>

#include <climits>

using Edges = std::vector<Modul1::Edge>;
Q_DECLARE_METATYPE(Edges)

namespace
{

// The ticks of the rows, 100 ms apart.
constexpr std::int64_t kTick1 = 10'100'000, kTick2 = 10'200'000;
// A row's EDGES result: none when the driver has no EDGES.
constexpr int kNoEdges = INT_MIN;

Modul1::Edge edge(std::int64_t time, int count, int line, int level)
{
    return {time, count, static_cast<std::int16_t>(line), static_cast<std::int16_t>(level)};
}

Lines::Reads dcd(int level)
{
    return {static_cast<std::int16_t>(level), 0, 0, 0};
}

std::optional<std::int16_t> result(int value)
{
    if (value == kNoEdges) return std::nullopt;
    return static_cast<std::int16_t>(value);
}

QList<int> counts(const Lines &lines)
{
    const std::optional<Lines::Counts> c = lines.counts();
    return c ? QList<int>{(*c)[0], (*c)[1], (*c)[2], (*c)[3]} : QList<int>{};
}

// COM2 selected at 10 s and a quiet tick, as the monitor starts.
void start(Lines &lines)
{
    lines.switchPort(10'000'000, 2);
    lines.take(10'000'000, dcd(0), 0, {});
}

} // namespace

class TestLines : public QObject
{
    Q_OBJECT

private slots:
    void judgement_data();
    void judgement();
    void eachPortHasItsCounts();
    void recordLimits();
    void formats();
    void saveAs_data();
    void saveAs();
};

// Two ticks after a quiet one: DCD as read and the edges EDGES gave after
// each read.
void TestLines::judgement_data()
{
    QTest::addColumn<int>("read");
    QTest::addColumn<Edges>("edges");
    QTest::addColumn<int>("then");
    QTest::addColumn<Edges>("later");
    QTest::addColumn<int>("result");
    QTest::addColumn<int>("missed"); // the input that marks a missed pulse
    QTest::addColumn<QList<int>>("counts");
    QTest::addColumn<int>("level"); // DCD in the record at the end
    const Edges none;
    const auto before1 = [](std::int64_t ago) { return kTick1 - ago; };
    QTest::newRow("a pulse between two reads")
        << 0 << Edges{edge(before1(3000), 1, 1, 1), edge(before1(1000), 2, 1, 0)} << 0 << none << 0
        << 0 << QList<int>{2, 0, 0, 0} << 0;
    QTest::newRow("a change the read saw") << 1 << Edges{edge(before1(3000), 1, 1, 1)} << 1 << none
                                           << 0 << -1 << QList<int>{1, 0, 0, 0} << 1;
    QTest::newRow("a change and a pulse")
        << 1
        << Edges{edge(before1(5000), 1, 1, 1), edge(before1(3000), 2, 1, 0),
                 edge(before1(1000), 3, 1, 1)}
        << 1 << none << 0 << 0 << QList<int>{3, 0, 0, 0} << 1;
    QTest::newRow("a count jump, no visible change")
        << 0 << Edges{edge(before1(1000), 2, 1, 0)} << 0 << none << 0 << 0 << QList<int>{2, 0, 0, 0}
        << 0;
    QTest::newRow("an edge after the read") << 0 << Edges{edge(kTick1 + 100, 1, 1, 1)} << 1 << none
                                            << 0 << -1 << QList<int>{1, 0, 0, 0} << 1;
    QTest::newRow("an edge later than the read")
        << 1 << none << 1 << Edges{edge(kTick2 + 100, 1, 1, 1)} << 0 << -1 << QList<int>{1, 0, 0, 0}
        << 1;
    QTest::newRow("another line's pulse")
        << 0 << Edges{edge(before1(3000), 1, 2, 1), edge(before1(1000), 2, 2, 0)} << 0 << none << 0
        << 1 << QList<int>{0, 2, 0, 0} << 0;
    // The port cannot tell, or the driver has no EDGES: no counts, and the
    // record follows the reads.
    QTest::newRow("a port that cannot tell")
        << 0 << none << 1 << none << int{Modul1::kEdgesUntold} << -1 << QList<int>{} << 1;
    QTest::newRow("a driver without EDGES")
        << 1 << none << 0 << none << kNoEdges << -1 << QList<int>{} << 0;
    // A reader may return any small integer: positive is active, negative
    // unknown (the driver's -1, "cannot be read").
    QTest::newRow("a change and a pulse, active read as 7")
        << 7
        << Edges{edge(before1(5000), 1, 1, 1), edge(before1(3000), 2, 1, 0),
                 edge(before1(1000), 3, 1, 1)}
        << 7 << none << 0 << 0 << QList<int>{3, 0, 0, 0} << 1;
    QTest::newRow("a change the read saw as 7") << 7 << Edges{edge(before1(3000), 1, 1, 1)} << 7
                                                << none << 0 << -1 << QList<int>{1, 0, 0, 0} << 1;
    QTest::newRow("a pulse while the line cannot be read")
        << -1 << Edges{edge(before1(3000), 1, 1, 1), edge(before1(1000), 2, 1, 0)} << -1 << none
        << 0 << -1 << QList<int>{2, 0, 0, 0} << 0;
    QTest::newRow("reads without EDGES, active as 7 and -1")
        << 7 << none << -1 << none << kNoEdges << -1 << QList<int>{} << -1;
    QTest::newRow("reads without EDGES, -32768 and 32767")
        << -32768 << none << 32767 << none << kNoEdges << -1 << QList<int>{} << 1;
}

void TestLines::judgement()
{
    QFETCH(int, read);
    QFETCH(Edges, edges);
    QFETCH(int, then);
    QFETCH(Edges, later);
    QFETCH(int, result);
    QFETCH(int, missed);
    QFETCH(QList<int>, counts);
    QFETCH(int, level);
    Lines lines;
    start(lines);
    const Lines::Tick first = lines.take(kTick1, dcd(read), ::result(result), edges);
    const Lines::Tick second = lines.take(kTick2, dcd(then), ::result(result), later);
    for (std::size_t i = 0; i < 4; ++i)
        QCOMPARE(first.missed[i] || second.missed[i], static_cast<int>(i) == missed);
    QCOMPARE(::counts(lines), counts);
    // The counts are shown anew when they changed or were no longer told.
    QCOMPARE(first.countsChanged, !edges.empty() || result < 0);
    const LineRecord &record = lines.record();
    QCOMPARE(record.levels()[LineRecord::kDcd], std::int8_t(level));
    // Every edge is in the record at its time, in its row.
    for (const Edges &list : {edges, later}) {
        for (const Modul1::Edge &e : list) {
            const std::size_t i = record.lowerBound(e.time);
            QVERIFY(i < record.size());
            QCOMPARE(record.at(i).time, e.time);
            QCOMPARE(record.at(i).line, LineRecord::kDcd + e.line - 1);
        }
    }
}

void TestLines::eachPortHasItsCounts()
{
    Lines lines;
    start(lines);
    lines.take(kTick1, dcd(0), 0, {edge(kTick1 - 2000, 1, 1, 1), edge(kTick1 - 1000, 2, 1, 0)});
    QVERIFY(lines.switchPort(kTick1 + 10, 3));
    // Not told yet on COM3; then its own count.
    QCOMPARE(counts(lines), QList<int>{});
    // The pulses COM3 had before it was selected are no missed pulse.
    const Lines::Tick tick = lines.take(kTick2, dcd(1), 0, {edge(kTick2 - 1000, 5, 1, 1)});
    QVERIFY(tick.countsChanged);
    QVERIFY(!lines.take(kTick2 + 100'000, dcd(1), 0, {}).missed[0]);
    QCOMPARE(counts(lines), (QList<int>{5, 0, 0, 0}));
    QVERIFY(lines.switchPort(kTick2 + 100'010, 2));
    QCOMPARE(counts(lines), (QList<int>{2, 0, 0, 0}));
    // Selecting it again (the chooser and the dialog mirror each other)
    // goes on: no switch in the record.
    const std::size_t size = lines.record().size();
    QVERIFY(!lines.switchPort(kTick2 + 100'020, 2));
    QCOMPARE(lines.record().size(), size);
    int port = 0;
    lines.record().levelsAt(kTick2 + 100'030, &port);
    QCOMPARE(port, 2);
}

void TestLines::recordLimits()
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

void TestLines::formats()
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
    // A switch that changes no level: no moment of its own in the changes.
    record.switchPort(6500000, 4);

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
$comment
	Port switches (us):
	1000000 COM3
	1500000 COM4
$end
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
x$
x%
#1250000
1'
#1500000
x'
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
1.500000,0,1,-1,-1,-1,-1,-1
)"));

    // Without a port switch the header has no comment.
    LineRecord quiet;
    quiet.switchPort(1000, 1);
    QBuffer plain;
    plain.open(QIODevice::WriteOnly);
    quiet.writeVcd(plain, QDateTime(QDate(2026, 12, 9), QTime(10, 0)), QString(), 2000);
    QVERIFY(!plain.data().contains("$comment"));
}

// The file's name chooses its format; whole or nothing.
void TestLines::saveAs_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QByteArray>("begins");
    QTest::newRow("vcd") << "pulse.vcd" << QByteArray("$date\n");
    QTest::newRow("csv") << "pulse.csv" << QByteArray("time_s,");
    QTest::newRow("CSV") << "PULSE.CSV" << QByteArray("time_s,");
    QTest::newRow("no folder") << "missing/pulse.vcd" << QByteArray();
}

void TestLines::saveAs()
{
    QFETCH(QString, name);
    QFETCH(QByteArray, begins);
    Lines lines;
    start(lines);
    QTemporaryDir dir;
    QFile file(dir.filePath(name));
    QString error;
    QCOMPARE(lines.saveAs(file.fileName(), QStringLiteral("Lintara"), error), !begins.isEmpty());
    QCOMPARE(error.isEmpty(), !begins.isEmpty());
    QCOMPARE(file.exists(), !begins.isEmpty());
    if (begins.isEmpty()) return;
    QVERIFY(file.open(QIODevice::ReadOnly));
    QVERIFY(file.readAll().startsWith(begins));
}

QTEST_GUILESS_MAIN(TestLines)
#include "test_lines.moc"
