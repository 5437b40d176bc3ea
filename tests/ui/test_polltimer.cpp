// The monitor's polling timer, whichever the build has: it ticks, takes a
// new interval from the moment it is set, handles periods over a second, and
// never stops because of a short interval.
#include "polltimer.h"

#include <QElapsedTimer>
#include <QRegularExpression>
#include <QTest>

#include <climits>
#ifdef LINTARA_TIMERFD
#include <sys/resource.h>
#include <unistd.h>
#endif

class TestPollTimer : public QObject
{
    Q_OBJECT

private slots:
    void ticksAtItsInterval();
    void shortIntervalsAreTheShortest_data();
    void shortIntervalsAreTheShortest();
    void settingTheIntervalRestartsThePeriod();
    void periodsOverASecond();
    void ticksWithoutAFileDescriptor();
};

namespace
{

struct Counter {
    explicit Counter(PollTimer &timer)
    {
        QObject::connect(&timer, &PollTimer::timeout, [this] { ++ticks; });
    }
    int ticks = 0;
};

} // namespace

void TestPollTimer::ticksAtItsInterval()
{
    PollTimer timer(50, nullptr);
    QCOMPARE(timer.interval(), 50);
    Counter counter(timer);
    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(counter.ticks >= 3, true, 2000);
    // Never early: three periods have passed at least.
    QVERIFY2(clock.elapsed() >= 3 * 50 - 1, qPrintable(QString::number(clock.elapsed())));
}

void TestPollTimer::shortIntervalsAreTheShortest_data()
{
    QTest::addColumn<int>("interval");
    QTest::newRow("0") << 0;
    QTest::newRow("-10") << -10;
    QTest::newRow("most negative") << INT_MIN;
}

void TestPollTimer::shortIntervalsAreTheShortest()
{
    QFETCH(int, interval);
    PollTimer created(interval, nullptr);
    QCOMPARE(created.interval(), PollTimer::kShortest);
    Counter createdTicks(created);

    PollTimer set(100, nullptr);
    set.setInterval(interval);
    QCOMPARE(set.interval(), PollTimer::kShortest);
    Counter setTicks(set);

    // Both go on ticking.
    QTRY_VERIFY(createdTicks.ticks >= 5 && setTicks.ticks >= 5);
}

void TestPollTimer::settingTheIntervalRestartsThePeriod()
{
    PollTimer timer(400, nullptr);
    Counter counter(timer);
    QElapsedTimer clock;
    clock.start();
    QTest::qWait(250);
    QCOMPARE(counter.ticks, 0);
    timer.setInterval(400);
    clock.restart();
    // Due at 400 ms had it not been restarted: not before 400 ms from now.
    QTest::qWait(300);
    QCOMPARE(counter.ticks, 0);
    QTRY_COMPARE_WITH_TIMEOUT(counter.ticks, 1, 2000);
    QVERIFY2(clock.elapsed() >= 399, qPrintable(QString::number(clock.elapsed())));
}

void TestPollTimer::periodsOverASecond()
{
    PollTimer timer(1200, nullptr);
    QCOMPARE(timer.interval(), 1200);
    Counter counter(timer);
    QElapsedTimer clock;
    clock.start();
    QTRY_COMPARE_WITH_TIMEOUT(counter.ticks, 1, 4000);
    // A second and a fifth, not a fifth or a second.
    QVERIFY2(clock.elapsed() >= 1199, qPrintable(QString::number(clock.elapsed())));
}

// A process out of file descriptors gets no timerfd: the timer ticks all
// the same, and says once that it ticks another way.
void TestPollTimer::ticksWithoutAFileDescriptor()
{
#ifdef LINTARA_SANITIZED
    // UBSan's checks open a pipe to see whether memory may be read: without
    // a free descriptor they report every virtual call as one on a bad object.
    QSKIP("the sanitizers need free file descriptors of their own for their checks");
#endif
#ifndef LINTARA_TIMERFD
    QSKIP("only a timerfd takes a file descriptor");
#else
    rlimit limit{};
    QCOMPARE(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    const int lowestFree = ::dup(0);
    QVERIFY(lowestFree >= 0);
    ::close(lowestFree);
    rlimit none = limit;
    none.rlim_cur = static_cast<rlim_t>(lowestFree);
    QCOMPARE(::setrlimit(RLIMIT_NOFILE, &none), 0);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("no timerfd.*precise timer"));
    PollTimer first(20, nullptr);
    PollTimer second(20, nullptr); // no second warning: ignoreMessage takes one
    ::setrlimit(RLIMIT_NOFILE, &limit);
    Counter counter(first);
    Counter secondCounter(second);
    first.setInterval(30);
    QCOMPARE(first.interval(), 30);
    QTRY_VERIFY_WITH_TIMEOUT(counter.ticks >= 3 && secondCounter.ticks >= 3, 2000);
#endif // LINTARA_TIMERFD
}

QTEST_GUILESS_MAIN(TestPollTimer)
#include "test_polltimer.moc"
