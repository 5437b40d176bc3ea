#include "polltimer.h"

#include <QTimer>

PollTimer::PollTimer(int interval, QObject *parent)
    : QObject(parent), m_interval(interval), m_timer(new QTimer(this))
{
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &PollTimer::timeout);
    start();
}

PollTimer::~PollTimer() = default;

void PollTimer::setInterval(int milliseconds)
{
    m_interval = milliseconds;
    start();
}

void PollTimer::start()
{
    m_timer->start(m_interval);
}

void PollTimer::expired() {}
