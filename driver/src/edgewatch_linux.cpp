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
#include "edgewatch.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <csignal>
#include <fcntl.h>
#include <linux/serial.h>
#include <mutex>
#include <pthread.h>
#include <sys/ioctl.h>
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

// What the watch and its thread share. A thread that cannot be woken is left
// to end by itself and keeps this, the descriptor with it, until it does.
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
        ::close(fd);
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

    const int fd;
    const ModemCalls calls;
    const std::shared_ptr<EdgeRecord> record;
    bool wake = false; // holds the wake signal

    std::mutex lock;
    std::condition_variable changed;
    EdgeTracker tracker;
    const bool counting;
    Verdict verdict = Verdict::Unknown;
    bool gone = false;
    bool stop = false;
    bool ended = false;
};

void waitForChanges(const std::shared_ptr<Shared> &shared)
{
    sigset_t wake;
    sigemptyset(&wake);
    sigaddset(&wake, kWakeSignal);
    pthread_sigmask(SIG_UNBLOCK, &wake, nullptr);
    Shared &s = *shared;
    while (true) {
        const int error = s.calls.wait(s.fd);
        const int64_t time = edgeClock();
        std::unique_lock<std::mutex> guard(s.lock);
        if (s.stop) break;
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

class Watch final : public EdgeWatch
{
public:
    explicit Watch(std::shared_ptr<Shared> shared) : m_shared(std::move(shared))
    {
        if (!installWake()) return; // not ours to use: a count-only port
        m_shared->wake = true;
        // The thread takes none of the program's signals, only the wake.
        sigset_t all, before;
        sigfillset(&all);
        pthread_sigmask(SIG_SETMASK, &all, &before);
        try {
            m_thread = std::thread(waitForChanges, m_shared);
        } catch (const std::system_error &) {
            // No thread: a count-only port.
        }
        pthread_sigmask(SIG_SETMASK, &before, nullptr);
    }

    ~Watch() override
    {
        if (!m_thread.joinable()) return;
        std::unique_lock<std::mutex> guard(m_shared->lock);
        m_shared->stop = true;
        // A signal that comes just before the thread enters the wait is
        // lost: it is sent again until the thread is out.
        while (!m_shared->ended) {
            if (!wakeIsOurs()) {
                // The program took the signal over meanwhile: the wait ends
                // at the next line change, and the thread lets go then.
                guard.unlock();
                m_thread.detach();
                return;
            }
            pthread_kill(m_thread.native_handle(), kWakeSignal);
            m_shared->changed.wait_for(guard, std::chrono::milliseconds(1));
        }
        guard.unlock();
        m_thread.join();
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
            if (m_thread.joinable() && s.verdict == Shared::Verdict::Unknown &&
                !s.changed.wait_for(guard, std::chrono::milliseconds(50), [&] {
                    return s.verdict != Shared::Verdict::Unknown || s.ended;
                }))
                s.verdict = Shared::Verdict::Waits;
            if (!m_thread.joinable() || s.verdict != Shared::Verdict::Waits)
                return EdgeState::Untold;
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
    std::shared_ptr<Shared> m_shared;
    std::thread m_thread;
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
    const int own = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (own < 0) return nullptr;
    return std::make_unique<Watch>(
        std::make_shared<Shared>(own, std::move(calls), std::move(record), first));
}

} // namespace rscom
