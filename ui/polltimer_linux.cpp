#include "polltimer.h"

#include <QSocketNotifier>
#include <QTimer>

#include <cstdint>
#include <sys/timerfd.h>
#include <unistd.h>

PollTimer::PollTimer(int interval, QObject *parent) : QObject(parent), m_interval(interval)
{
    m_fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_fd >= 0) {
        m_notifier = new QSocketNotifier(m_fd, QSocketNotifier::Read, this);
        connect(m_notifier, &QSocketNotifier::activated, this, &PollTimer::expired);
    } else {
        m_timer = new QTimer(this);
        m_timer->setTimerType(Qt::PreciseTimer);
        connect(m_timer, &QTimer::timeout, this, &PollTimer::timeout);
    }
    start();
}

PollTimer::~PollTimer()
{
    if (m_fd >= 0) ::close(m_fd);
}

void PollTimer::setInterval(int milliseconds)
{
    m_interval = milliseconds;
    start();
}

void PollTimer::start()
{
    if (m_timer != nullptr) {
        m_timer->start(m_interval);
        return;
    }
    itimerspec period{};
    period.it_interval.tv_sec = m_interval / 1000;
    period.it_interval.tv_nsec = static_cast<long>(m_interval % 1000) * 1000000L;
    period.it_value = period.it_interval;
    ::timerfd_settime(m_fd, 0, &period, nullptr);
}

void PollTimer::expired()
{
    // Ticks that were missed while the program was busy are not made up.
    std::uint64_t expirations = 0;
    if (::read(m_fd, &expirations, sizeof expirations) == sizeof expirations) emit timeout();
}
