// Windows: how a real port tells its input-line changes. A thread per held
// port waits in an overlapped WaitCommEvent for EV_CTS, EV_DSR, EV_RLSD and
// EV_RING, times each event at once and takes the levels from
// GetCommModemStatus after it.
#pragma once

#include "core/edgerecord.h"
#include "win/serial.h"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>

namespace rscom
{

class CommWatch
{
public:
    // Starts the wait on the open port `handle`; nullptr when the port cannot
    // tell its changes (its driver refuses SetCommMask) or no thread starts.
    static std::unique_ptr<CommWatch> start(HANDLE handle, CommCalls &calls,
                                            std::shared_ptr<EdgeRecord> record);
    // Ends the wait (its stop event; the wait is cancelled) and the thread,
    // before the port's handle is closed.
    ~CommWatch();
    CommWatch(const CommWatch &) = delete;
    CommWatch &operator=(const CommWatch &) = delete;

    // What a read just saw, as GetCommModemStatus gives it.
    void seen(DWORD status);
    EdgeState update();

private:
    CommWatch(HANDLE handle, CommCalls &calls, std::shared_ptr<EdgeRecord> record,
              const LineSample &first, HANDLE stop);
    void run();

    HANDLE m_handle;
    CommCalls &m_calls;
    std::shared_ptr<EdgeRecord> m_record;
    HANDLE m_stop;

    std::mutex m_lock;
    EdgeTracker m_tracker;
    bool m_gone = false;
    std::thread m_thread;
};

} // namespace rscom
