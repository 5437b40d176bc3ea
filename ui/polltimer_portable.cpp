// The polling timer on Qt's own timers.
#include "polltimer.h"

#include <QTimer>

#include <algorithm>

struct PollTimer::Platform {
    QTimer timer;
};

PollTimer::PollTimer(int interval, QObject *parent)
    : QObject(parent), m_platform(std::make_unique<Platform>())
{
    m_platform->timer.setTimerType(Qt::PreciseTimer);
    connect(&m_platform->timer, &QTimer::timeout, this, &PollTimer::timeout);
    setInterval(interval);
}

PollTimer::~PollTimer() = default;

void PollTimer::setInterval(int milliseconds)
{
    m_interval = std::max(milliseconds, kShortest);
    m_platform->timer.start(m_interval);
}
