// Linux: a thread per held port waits in TIOCMIWAIT for a change of the four
// input lines, and after each wake reads TIOCGICOUNT and TIOCMGET. Tty
// drivers differ: some cannot wait, some cannot count, and a driver answers
// an ioctl it lacks with ENOTTY, EINVAL or EOPNOTSUPP. Each port uses what
// its driver has.
//
// Neither close() nor a hangup ends a TIOCMIWAIT: the ioctl holds the open
// file. The watch ends its thread's wait with SIGURG, sent to that thread
// alone, whose handler does nothing; see installWake() for when the driver
// may use the signal at all.
#include "core/edgewatch.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <linux/serial.h>
#include <mutex>
#include <poll.h>
#include <pthread.h>
#include <string>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>

namespace rscom
{

namespace
{

// The kernel's answer to an ioctl its tty driver lacks; ENOIOCTLCMD is what a
// few drivers let through.
bool lacks(int error)
{
    constexpr int kNoIoctlCommand = 515;
    return error == ENOTTY || error == EINVAL || error == EOPNOTSUPP || error == kNoIoctlCommand;
}

int result(int status)
{
    return status == 0 ? 0 : errno;
}

// --- the signal that ends a wait ----------------------------------------------
//
// Installed only while SIGURG's disposition is the default, which ignores it:
// a handler or an explicit SIG_IGN of the program's is never replaced, and
// the driver then does not wait. Without SA_RESTART, so that the wait ends
// with EINTR instead of starting again. The default comes back when the last
// waiting port is closed. Plain globals: constant-initialized, never
// destroyed, so that ports closed at exit still find them.
constexpr int kWakeSignal = SIGURG;
std::mutex g_wakeLock;
int g_waiters = 0;

void onWake(int) {}

bool ours(const struct sigaction &action)
{
    return (action.sa_flags & SA_SIGINFO) == 0 && action.sa_handler == onWake;
}

bool wakeIsOurs()
{
    struct sigaction now {
    };
    return ::sigaction(kWakeSignal, nullptr, &now) == 0 && ours(now);
}

bool installWake()
{
    const std::lock_guard<std::mutex> guard(g_wakeLock);
    struct sigaction now {
    };
    if (::sigaction(kWakeSignal, nullptr, &now) != 0) return false;
    if (!ours(now)) {
        if ((now.sa_flags & SA_SIGINFO) != 0 || now.sa_handler != SIG_DFL) return false;
        struct sigaction wake {
        };
        wake.sa_handler = onWake;
        sigemptyset(&wake.sa_mask);
        wake.sa_flags = 0;
        if (::sigaction(kWakeSignal, &wake, nullptr) != 0) return false;
    }
    ++g_waiters;
    return true;
}

void uninstallWake()
{
    const std::lock_guard<std::mutex> guard(g_wakeLock);
    if (--g_waiters > 0 || !wakeIsOurs()) return;
    struct sigaction standard {
    };
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    ::sigaction(kWakeSignal, &standard, nullptr);
}

// --- the watch ------------------------------------------------------------------

// What the watch and its threads share. Threads that cannot be woken are
// left to end by themselves and keep this, the descriptor with it.
struct Shared {
    enum class Verdict { Unknown, Waits, CannotWait };

    Shared(int descriptor, ModemCalls modem, std::shared_ptr<EdgeRecord> into,
           const LineSample &first)
        : fd(descriptor), calls(std::move(modem)), record(std::move(into)), tracker(first),
          counting(first.counts.has_value())
    {
    }
    ~Shared()
    {
        if (ownsFd) ::close(fd);
        if (wake) uninstallWake();
    }
    Shared(const Shared &) = delete;
    Shared &operator=(const Shared &) = delete;

    // The lines now, with the counters where the port has them; false when
    // the device is gone.
    bool sample(LineSample &now)
    {
        if (calls.levels(fd, now.levels) != 0) return false;
        if (!counting) return true;
        std::array<uint32_t, 4> counts{};
        if (calls.counts(fd, counts) != 0) return false;
        now.counts = counts;
        return true;
    }

    // Sends the wake to `thread` until it is `out` (called with the lock held);
    // false when the signal is no longer the driver's to send.
    bool wakeUntil(std::unique_lock<std::mutex> &guard, pthread_t thread, const bool &out)
    {
        // A signal that comes just before the thread enters its wait is
        // lost: it is sent again until the thread is out.
        while (!out) {
            if (!wakeIsOurs()) return false;
            pthread_kill(thread, kWakeSignal);
            changed.wait_for(guard, std::chrono::milliseconds(1));
        }
        return true;
    }

    const int fd;
    const ModemCalls calls;
    const std::shared_ptr<EdgeRecord> record;
    bool wake = false;    // holds the wake signal
    bool ownsFd = false;  // the port handed its descriptor over: closed last
    pthread_t waiter{};   // set before the hang-up thread starts
    pid_t waiterTask = 0; // the waiting thread's task, once it runs

    std::mutex lock;
    std::condition_variable changed;
    EdgeTracker tracker;
    const bool counting;
    Verdict verdict = Verdict::Unknown;
    bool gone = false;
    bool hungUp = false;
    bool stop = false;
    bool ended = false;       // the waiting thread
    bool hangupEnded = false; // the hang-up thread
};

void unblockWake()
{
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, kWakeSignal);
    pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
}

void waitForChanges(const std::shared_ptr<Shared> &shared)
{
    unblockWake();
    Shared &s = *shared;
    {
        const std::lock_guard<std::mutex> guard(s.lock);
        s.waiterTask = static_cast<pid_t>(::syscall(SYS_gettid));
        s.changed.notify_all();
    }
    while (true) {
        const int error = s.calls.wait(s.fd);
        const int64_t time = edgeClock();
        std::unique_lock<std::mutex> guard(s.lock);
        if (s.stop) break;
        if (s.hungUp) {
            s.gone = true;
            break;
        }
        if (error == 0 || error == EINTR) {
            s.verdict = Shared::Verdict::Waits;
            s.changed.notify_all();
            if (error != 0) continue;
            // The counters first: a change between the two reads shows in
            // the level, and the count that follows is known to be it.
            LineSample now;
            if (!s.sample(now)) {
                s.gone = true;
                break;
            }
            s.tracker.update(*s.record, now, time);
        } else {
            if (lacks(error))
                s.verdict = Shared::Verdict::CannotWait;
            else
                s.gone = true;
            break;
        }
    }
    const std::lock_guard<std::mutex> guard(s.lock);
    s.ended = true;
    s.changed.notify_all();
}

// A hang-up does not end a TIOCMIWAIT either, and a UART that is being
// removed waits for the wait to end: this thread sees the hang-up (poll
// tells it to any caller) and ends the wait.
void watchHangup(const std::shared_ptr<Shared> &shared)
{
    unblockWake();
    Shared &s = *shared;
    pollfd port{s.fd, 0, 0};
    const int ready = ::poll(&port, 1, -1);
    std::unique_lock<std::mutex> guard(s.lock);
    if (ready > 0 && !s.stop) {
        s.hungUp = true;
        s.wakeUntil(guard, s.waiter, s.ended);
    }
    s.hangupEnded = true;
    s.changed.notify_all();
}

class Watch final : public EdgeWatch
{
public:
    explicit Watch(std::shared_ptr<Shared> shared) : m_shared(std::move(shared))
    {
        if (!installWake()) return; // not ours to use: a count-only port
        m_shared->wake = true;
        // The threads take none of the program's signals, only the wake.
        sigset_t all, before;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &before);
        try {
            m_waiter = std::thread(waitForChanges, m_shared);
            m_shared->waiter = m_waiter.native_handle();
            m_hangup = std::thread(watchHangup, m_shared);
        } catch (const std::system_error &) {
            // Without its threads the port counts only.
            stop();
        }
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
        if (m_waiter.joinable()) awaitFirstWait();
    }

    ~Watch() override { stop(); }

    bool stop() override
    {
        Shared &s = *m_shared;
        std::unique_lock<std::mutex> guard(s.lock);
        s.stop = true;
        bool woken = true;
        if (m_hangup.joinable())
            woken = s.wakeUntil(guard, m_hangup.native_handle(), s.hangupEnded);
        if (m_waiter.joinable() && woken)
            woken = s.wakeUntil(guard, m_waiter.native_handle(), s.ended);
        guard.unlock();
        if (!woken) {
            // The program took the signal over meanwhile: the wait ends at
            // the next line change or hang-up, and the descriptor is closed
            // then.
            s.ownsFd = true;
            if (m_hangup.joinable()) m_hangup.detach();
            if (m_waiter.joinable()) m_waiter.detach();
            return true;
        }
        if (m_hangup.joinable()) m_hangup.join();
        if (m_waiter.joinable()) m_waiter.join();
        return false;
    }

    Watch(const Watch &) = delete;
    Watch &operator=(const Watch &) = delete;

    void seen(const std::array<bool, 4> &levels) override
    {
        LineSample now;
        now.levels = levels;
        const std::lock_guard<std::mutex> guard(m_shared->lock);
        m_shared->tracker.update(*m_shared->record, now, edgeClock());
    }

    EdgeState update() override
    {
        Shared &s = *m_shared;
        std::unique_lock<std::mutex> guard(s.lock);
        if (s.gone) return EdgeState::Gone;
        if (!s.counting) {
            // A port that cannot count tells its changes only by waiting. A
            // driver that cannot wait either answers at once; one that can
            // is still waiting after a short while.
            if (waits() && s.verdict == Shared::Verdict::Unknown &&
                !s.changed.wait_for(guard, std::chrono::milliseconds(50), [&] {
                    return s.verdict != Shared::Verdict::Unknown || s.ended;
                }))
                s.verdict = Shared::Verdict::Waits;
            if (!waits() || s.verdict != Shared::Verdict::Waits) return EdgeState::Untold;
        }
        // Changes the kernel counted without a wake (cdc-acm compares its
        // counters before it joins the wait), or that only a count tells.
        LineSample now;
        const int64_t time = edgeClock();
        if (!s.sample(now)) {
            s.gone = true;
            return EdgeState::Gone;
        }
        s.tracker.update(*s.record, now, time);
        return EdgeState::Told;
    }

private:
    bool waits() const { return m_waiter.joinable(); }

    // The port is watched once the thread sleeps in its first wait: a UART
    // driver sets the port up for the wait then (the 8250 turns on its
    // modem-status interrupt), within OPENCOM and not at some moment after.
    // A driver that cannot wait answers at once instead.
    void awaitFirstWait()
    {
        Shared &s = *m_shared;
        const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(50);
        pid_t task = 0;
        {
            std::unique_lock<std::mutex> guard(s.lock);
            s.changed.wait_until(guard, until, [&] { return s.waiterTask != 0 || s.ended; });
            task = s.waiterTask;
        }
        const std::string stat = "/proc/self/task/" + std::to_string(task) + "/stat";
        while (task != 0 && std::chrono::steady_clock::now() < until) {
            const bool waiting = sleeping(stat);
            {
                const std::lock_guard<std::mutex> guard(s.lock);
                if (s.ended) return;
                if (waiting) {
                    // A driver without the wait would have answered by now.
                    if (s.verdict == Shared::Verdict::Unknown) s.verdict = Shared::Verdict::Waits;
                    return;
                }
            }
            std::this_thread::sleep_for(std::chrono::microseconds(50));
        }
    }

    static bool sleeping(const std::string &stat)
    {
        char text[512];
        const int fd = ::open(stat.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return true; // nothing to tell by: no wait for it
        const ssize_t n = ::read(fd, text, sizeof text - 1);
        ::close(fd);
        if (n <= 0) return true;
        text[n] = '\0';
        // "task (name) S ...": the name may hold anything but its last ')'.
        const char *end = std::strrchr(text, ')');
        return end == nullptr || end[1] == '\0' || end[2] == 'S';
    }

    std::shared_ptr<Shared> m_shared;
    std::thread m_waiter;
    std::thread m_hangup;
};

} // namespace

ModemCalls kernelCalls()
{
    ModemCalls calls;
    calls.wait = [](int fd) {
        return result(::ioctl(fd, TIOCMIWAIT, TIOCM_CD | TIOCM_DSR | TIOCM_CTS | TIOCM_RNG));
    };
    calls.counts = [](int fd, std::array<uint32_t, 4> &counts) {
        serial_icounter_struct icount{};
        if (::ioctl(fd, TIOCGICOUNT, &icount) != 0) return errno;
        counts = {static_cast<uint32_t>(icount.dcd), static_cast<uint32_t>(icount.dsr),
                  static_cast<uint32_t>(icount.cts), static_cast<uint32_t>(icount.rng)};
        return 0;
    };
    calls.levels = [](int fd, std::array<bool, 4> &levels) {
        int bits = 0;
        if (::ioctl(fd, TIOCMGET, &bits) != 0) return errno;
        levels = {(bits & TIOCM_CD) != 0, (bits & TIOCM_DSR) != 0, (bits & TIOCM_CTS) != 0,
                  (bits & TIOCM_RNG) != 0};
        return 0;
    };
    return calls;
}

std::unique_ptr<EdgeWatch> watchEdges(int fd, std::shared_ptr<EdgeRecord> record, ModemCalls calls)
{
    LineSample first;
    if (calls.levels(fd, first.levels) != 0) return nullptr;
    std::array<uint32_t, 4> counts{};
    if (calls.counts(fd, counts) == 0) first.counts = counts;
    return std::make_unique<Watch>(
        std::make_shared<Shared>(fd, std::move(calls), std::move(record), first));
}

} // namespace rscom
