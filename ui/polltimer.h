// The monitor's polling timer: ticks every interval, counted from the moment
// the interval is set, keeping to absolute deadlines (a late tick does not
// push the next one back; ticks missed while the program was busy are not
// made up).
//
// On Linux it is a timerfd in the event loop, because the kernel wakes the
// program at its deadline to the microsecond, while Qt's event dispatcher
// rounds every timeout to a whole millisecond (GLib's poll timeout is in
// milliseconds): at a 10 ms interval that is up to a tenth of the period.
// Elsewhere, and in the portable build (LINTARA_PORTABLE), it is a QTimer
// of type Qt::PreciseTimer, which keeps to its deadlines just as well, to the
// millisecond: on Windows Qt runs it on the multimedia timer (timeSetEvent,
// one millisecond resolution), not on the window timers, which round to the
// system's tick of about 15.6 ms.
#pragma once

#include <QObject>

#include <memory>

class PollTimer : public QObject
{
    Q_OBJECT

public:
    // The shortest interval: less, zero or negative, is taken as this, so
    // that the timer never stops without being told to.
    static constexpr int kShortest = 1;

    // Starts ticking at once.
    PollTimer(int interval, QObject *parent);
    ~PollTimer() override;

    int interval() const { return m_interval; }
    // Restarts the period from now. Should the system refuse the new period,
    // a warning says why and the timer keeps the period it had. (Linux: a
    // process out of file descriptors gets no timerfd at all; the timer is
    // then a precise QTimer, and a warning says so once.)
    void setInterval(int milliseconds);

signals:
    void timeout();

private:
    struct Platform;

    int m_interval = 0;
    std::unique_ptr<Platform> m_platform;
};
