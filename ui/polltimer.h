// The monitor's polling timer: ticks every interval, keeping to the period.
// On Linux it follows the kernel's absolute deadlines (a timerfd in the event
// loop), so a late tick does not push the next one back; elsewhere it is a
// precise QTimer.
#pragma once

#include <QObject>

class QSocketNotifier;
class QTimer;

class PollTimer : public QObject
{
    Q_OBJECT

public:
    PollTimer(int interval, QObject *parent);
    ~PollTimer() override;

    int interval() const { return m_interval; }
    // Restarts the period from now.
    void setInterval(int milliseconds);

signals:
    void timeout();

private:
    void start();
    void expired();

    int m_interval;
    int m_fd = -1;
    QSocketNotifier *m_notifier = nullptr;
    QTimer *m_timer = nullptr;
};
