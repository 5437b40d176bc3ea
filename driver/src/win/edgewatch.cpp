#include "win/edgewatch.h"

namespace rscom
{

namespace
{

constexpr DWORD kEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;

LineSample levelsOf(DWORD status)
{
    LineSample sample;
    sample.levels = {(status & MS_RLSD_ON) != 0, (status & MS_DSR_ON) != 0,
                     (status & MS_CTS_ON) != 0, (status & MS_RING_ON) != 0};
    return sample;
}

} // namespace

int64_t edgeClock()
{
    static const int64_t perSecond = [] {
        LARGE_INTEGER frequency{};
        ::QueryPerformanceFrequency(&frequency);
        return static_cast<int64_t>(frequency.QuadPart);
    }();
    LARGE_INTEGER now{};
    ::QueryPerformanceCounter(&now);
    const auto ticks = static_cast<int64_t>(now.QuadPart);
    return ticks / perSecond * 1000000 + ticks % perSecond * 1000000 / perSecond;
}

std::unique_ptr<CommWatch> CommWatch::start(HANDLE handle, CommCalls &calls,
                                            std::shared_ptr<EdgeRecord> record)
{
    DWORD status = 0;
    if (calls.setMask(handle, kEvents) != ERROR_SUCCESS ||
        calls.modemStatus(handle, status) != ERROR_SUCCESS)
        return nullptr;
    const HANDLE stop = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (stop == nullptr) return nullptr;
    std::unique_ptr<CommWatch> watch(
        new CommWatch(handle, calls, std::move(record), levelsOf(status), stop));
    try {
        watch->m_thread = std::thread(&CommWatch::run, watch.get());
    } catch (const std::system_error &) {
        return nullptr;
    }
    return watch;
}

CommWatch::CommWatch(HANDLE handle, CommCalls &calls, std::shared_ptr<EdgeRecord> record,
                     const LineSample &first, HANDLE stop)
    : m_handle(handle), m_calls(calls), m_record(std::move(record)), m_stop(stop), m_tracker(first)
{
}

CommWatch::~CommWatch()
{
    ::SetEvent(m_stop);
    if (m_thread.joinable()) m_thread.join();
    ::CloseHandle(m_stop);
}

void CommWatch::run()
{
    while (true) {
        DWORD events = 0;
        const DWORD error = m_calls.waitEvent(m_handle, m_stop, events);
        const int64_t time = edgeClock();
        if (::WaitForSingleObject(m_stop, 0) == WAIT_OBJECT_0) return;
        DWORD status = 0;
        const bool answered =
            error == ERROR_SUCCESS && m_calls.modemStatus(m_handle, status) == ERROR_SUCCESS;
        const std::lock_guard<std::mutex> guard(m_lock);
        if (!answered) {
            m_gone = true;
            return;
        }
        const LineSample now = levelsOf(status);
        const bool ri = m_tracker.level(Input::Ri);
        m_tracker.update(*m_record, now, time);
        // Some drivers never show RI in GetCommModemStatus, and Windows' own
        // signals EV_RING only at its falling edge: a ring whose level did not
        // move is the ring itself, up and down again.
        if ((events & EV_RING) != 0 && now.levels[3] == ri) m_record->add(Input::Ri, 2, ri, time);
    }
}

void CommWatch::seen(DWORD status)
{
    const std::lock_guard<std::mutex> guard(m_lock);
    m_tracker.update(*m_record, levelsOf(status), edgeClock());
}

EdgeState CommWatch::update()
{
    const std::lock_guard<std::mutex> guard(m_lock);
    return m_gone ? EdgeState::Gone : EdgeState::Told;
}

} // namespace rscom
