// The polling timer on Linux: a timerfd, watched by the event loop; Qt's
// precise timer when the system gives no timerfd.
#include "polltimer.h"

#include <QSocketNotifier>
#include <QTimer>
#include <QtGlobal>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <sys/timerfd.h>
#include <unistd.h>

struct PollTimer::Platform {
    ~Platform()
    {
        delete notifier;
        if (fd >= 0) ::close(fd);
    }

    int fd = -1;
    QSocketNotifier *notifier = nullptr;
    // Without a timerfd: the timer other systems use, to the millisecond.
    std::unique_ptr<QTimer> fallback;
};

PollTimer::PollTimer(int interval, QObject *parent)
    : QObject(parent), m_platform(std::make_unique<Platform>())
{
    m_platform->fd = ::timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (m_platform->fd < 0) {
        // Only when the process is out of file descriptors or memory; said
        // once, however many timers are made.
        static std::atomic<bool> said{false};
        if (!said.exchange(true))
            qWarning("PollTimer: no timerfd (%s); ticking with Qt's precise timer instead",
                     std::strerror(errno));
        m_platform->fallback = std::make_unique<QTimer>();
        m_platform->fallback->setTimerType(Qt::PreciseTimer);
        connect(m_platform->fallback.get(), &QTimer::timeout, this, &PollTimer::timeout);
        setInterval(interval);
        return;
    }
    m_platform->notifier = new QSocketNotifier(m_platform->fd, QSocketNotifier::Read);
    connect(m_platform->notifier, &QSocketNotifier::activated, this, [this] {
        // However many deadlines passed since the last tick, one tick.
        std::uint64_t expirations = 0;
        if (::read(m_platform->fd, &expirations, sizeof expirations) == sizeof expirations)
            emit timeout();
    });
    setInterval(interval);
}

PollTimer::~PollTimer() = default;

void PollTimer::setInterval(int milliseconds)
{
    const int interval = std::max(milliseconds, kShortest);
    if (m_platform->fallback) {
        m_interval = interval;
        m_platform->fallback->start(interval);
        return;
    }
    itimerspec period{};
    period.it_interval.tv_sec = interval / 1000;
    period.it_interval.tv_nsec = static_cast<long>(interval % 1000) * 1000000L;
    period.it_value = period.it_interval;
    if (::timerfd_settime(m_platform->fd, 0, &period, nullptr) != 0) {
        qWarning("PollTimer: cannot set %d ms (%s); the timer keeps %d ms", interval,
                 std::strerror(errno), m_interval);
        return;
    }
    m_interval = interval;
}
