// Real serial ports on Windows, through the Win32 communications functions.
#include "win/serial.h"

#include "core/diagnostics.h"
#include "win/edgewatch.h"

#include <iterator>

namespace rscom
{

namespace
{

DWORD outcome(BOOL ok)
{
    return ok ? ERROR_SUCCESS : ::GetLastError();
}

// Windows' words for an error code, as FormatMessage gives them.
std::string systemMessage(DWORD error)
{
    char *text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string message = length > 0 && text != nullptr ? std::string(text, length) : std::string();
    ::LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.'))
        message.pop_back();
    if (message.empty()) message = "error " + std::to_string(error);
    return message;
}

// A failed call of an open port, told when asked.
bool succeeded(DWORD error)
{
    if (error == ERROR_SUCCESS) return true;
    if (debugging()) explain(systemMessage(error));
    return false;
}

// A refusal decided by Windows' answer, told when asked.
Availability refused(Step step, DWORD error)
{
    const Availability code = availabilityAfter(step, error);
    if (code != Availability::Available && debugging())
        explain(reasonOf({code, {}}, systemMessage(error)));
    return code;
}

class SystemCalls final : public CommCalls
{
public:
    DWORD queryDevice(const std::wstring &name) override
    {
        // Only whether there is one; a long target still tells that.
        wchar_t target[512];
        if (::QueryDosDeviceW(name.c_str(), target, static_cast<DWORD>(std::size(target))) != 0)
            return ERROR_SUCCESS;
        const DWORD error = ::GetLastError();
        return error == ERROR_INSUFFICIENT_BUFFER ? ERROR_SUCCESS : error;
    }

    DWORD open(const std::wstring &path, HANDLE &handle) override
    {
        // No sharing: a port is ours alone, and a port another program has
        // open is refused here, before anything touches it.
        // Overlapped, for the wait for line changes (WaitCommEvent) in the
        // port's own thread; the other calls work on it as they are.
        handle = ::CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                               OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
        return handle != INVALID_HANDLE_VALUE ? ERROR_SUCCESS : ::GetLastError();
    }

    void close(HANDLE handle) override { ::CloseHandle(handle); }

    DWORD getState(HANDLE handle, DCB &dcb) override
    {
        dcb = DCB{};
        dcb.DCBlength = sizeof dcb;
        return outcome(::GetCommState(handle, &dcb));
    }

    DWORD setState(HANDLE handle, const DCB &dcb) override
    {
        DCB copy = dcb;
        return outcome(::SetCommState(handle, &copy));
    }

    DWORD escape(HANDLE handle, DWORD function) override
    {
        return outcome(::EscapeCommFunction(handle, function));
    }

    DWORD setBreak(HANDLE handle, bool on) override
    {
        return outcome(on ? ::SetCommBreak(handle) : ::ClearCommBreak(handle));
    }

    DWORD modemStatus(HANDLE handle, DWORD &status) override
    {
        status = 0;
        return outcome(::GetCommModemStatus(handle, &status));
    }

    DWORD setMask(HANDLE handle, DWORD mask) override
    {
        return outcome(::SetCommMask(handle, mask));
    }

    DWORD waitEvent(HANDLE handle, HANDLE stop, DWORD &events) override
    {
        events = 0;
        OVERLAPPED overlapped{};
        overlapped.hEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (overlapped.hEvent == nullptr) return ::GetLastError();
        DWORD error = ERROR_SUCCESS;
        if (!::WaitCommEvent(handle, &events, &overlapped)) {
            error = ::GetLastError();
            if (error == ERROR_IO_PENDING) {
                const HANDLE both[] = {overlapped.hEvent, stop};
                if (::WaitForMultipleObjects(2, both, FALSE, INFINITE) != WAIT_OBJECT_0)
                    ::CancelIoEx(handle, &overlapped);
                // The wait's own end, also when cancelled: `events` and
                // `overlapped` are written until then.
                DWORD ignored = 0;
                error = outcome(::GetOverlappedResult(handle, &overlapped, &ignored, TRUE));
            }
        }
        ::CloseHandle(overlapped.hEvent);
        return error;
    }
};

BYTE parityOf(Parity parity)
{
    switch (parity) {
    case Parity::None:
        return NOPARITY;
    case Parity::Even:
        return EVENPARITY;
    case Parity::Odd:
        return ODDPARITY;
    case Parity::Mark:
        return MARKPARITY;
    case Parity::Space:
        return SPACEPARITY;
    }
    return NOPARITY;
}

// An open port. Any failed call means the port no longer answers (a USB
// adapter that was unplugged fails with ERROR_ACCESS_DENIED, ERROR_BAD_COMMAND,
// ERROR_DEVICE_REMOVED or ERROR_OPERATION_ABORTED, depending on its driver).
class SerialPort final : public Device
{
public:
    SerialPort(HANDLE handle, CommCalls &calls) : m_handle(handle), m_calls(calls) {}
    ~SerialPort() override
    {
        // The thread that waits on the handle ends first.
        m_edges.reset();
        m_calls.close(m_handle);
    }
    SerialPort(const SerialPort &) = delete;
    SerialPort &operator=(const SerialPort &) = delete;

    // From the port's own state, so that nothing this driver does not set
    // changes; DTR and RTS are given as they are, so that configure never
    // moves a line: a port's driver may apply fDtrControl and fRtsControl at
    // every SetCommState, or only when they change.
    bool configure(const Settings &settings) override
    {
        DCB dcb{};
        if (!succeeded(m_calls.getState(m_handle, dcb))) return false;
        applySettings(dcb, settings, m_dtr, m_rts);
        return succeeded(m_calls.setState(m_handle, dcb));
    }

    bool setOutput(Output line, bool active) override
    {
        switch (line) {
        case Output::Txd:
            return succeeded(m_calls.setBreak(m_handle, active));
        case Output::Dtr:
            return escape(active ? SETDTR : CLRDTR, m_dtr, active);
        case Output::Rts:
            return escape(active ? SETRTS : CLRRTS, m_rts, active);
        }
        return false;
    }

    int readInput(Input line) override
    {
        DWORD status = 0;
        if (!succeeded(m_calls.modemStatus(m_handle, status))) return -1;
        if (m_edges) m_edges->seen(status);
        return (status & maskOf(line)) != 0 ? 1 : 0;
    }

    void recordEdges(const std::shared_ptr<EdgeRecord> &record) override
    {
        m_edges = CommWatch::start(m_handle, m_calls, record);
    }

    EdgeState updateEdges() override { return m_edges ? m_edges->update() : EdgeState::Untold; }

private:
    bool escape(DWORD function, bool &level, bool active)
    {
        if (!succeeded(m_calls.escape(m_handle, function))) return false;
        level = active;
        return true;
    }

    static DWORD maskOf(Input line)
    {
        switch (line) {
        case Input::Dcd:
            return MS_RLSD_ON;
        case Input::Dsr:
            return MS_DSR_ON;
        case Input::Cts:
            return MS_CTS_ON;
        case Input::Ri:
            return MS_RING_ON;
        }
        return 0;
    }

    HANDLE m_handle;
    CommCalls &m_calls;
    // The lines as this driver last set them; inactive from the first
    // configure of a fresh open.
    bool m_dtr = false;
    bool m_rts = false;
    std::unique_ptr<CommWatch> m_edges;
};

} // namespace

CommCalls &systemCalls()
{
    static SystemCalls calls;
    return calls;
}

Availability availabilityAfter(Step step, DWORD error)
{
    switch (error) {
    case ERROR_SUCCESS:
        return Availability::Available;
    // Windows opens a port for one program at a time and refuses every other
    // with "access denied".
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
    case ERROR_BUSY:
        return step == Step::Open ? Availability::InUse : Availability::Missing;
    // A device unplugged between the open and the question.
    case ERROR_BAD_COMMAND:
    case ERROR_DEVICE_REMOVED:
    case ERROR_OPERATION_ABORTED:
    case ERROR_DEV_NOT_EXIST:
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return Availability::Missing;
    default:
        // A device that opens but does not know GetCommState is no serial
        // port (NUL, a printer); one that cannot be opened for any other
        // reason is taken as absent.
        return step == Step::Ask ? Availability::NotSerial : Availability::Missing;
    }
}

void applySettings(DCB &dcb, const Settings &settings, bool dtr, bool rts)
{
    dcb.BaudRate = static_cast<DWORD>(settings.baud);
    dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
    dcb.Parity = parityOf(settings.parity);
    dcb.fParity = settings.parity != Parity::None;
    // Windows refuses two stop bits with five data bits; a UART sends one and
    // a half there when asked for two, as it does under Linux.
    if (settings.stopBits == 1)
        dcb.StopBits = ONESTOPBIT;
    else
        dcb.StopBits = settings.dataBits == 5 ? ONE5STOPBITS : TWOSTOPBITS;
    dcb.fBinary = TRUE;

    // No flow control of any kind, and no line that follows the data.
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fDtrControl = dtr ? DTR_CONTROL_ENABLE : DTR_CONTROL_DISABLE;
    dcb.fRtsControl = rts ? RTS_CONTROL_ENABLE : RTS_CONTROL_DISABLE;
}

std::unique_ptr<Device> openSerialPort(const std::wstring &path, CommCalls &calls)
{
    HANDLE handle = INVALID_HANDLE_VALUE;
    const DWORD error = calls.open(path, handle);
    if (error != ERROR_SUCCESS) {
        refused(Step::Open, error);
        return nullptr;
    }
    // From here on the port closes itself on every way out.
    auto port = std::make_unique<SerialPort>(handle, calls);
    DCB dcb{};
    const DWORD answer = calls.getState(handle, dcb);
    if (answer != ERROR_SUCCESS) {
        refused(Step::Ask, answer);
        return nullptr;
    }
    return port;
}

Availability serialPortState(const std::wstring &name, const std::wstring &path, CommCalls &calls)
{
    // Whatever the reason, Windows has no device of that name.
    const DWORD unknown = calls.queryDevice(name);
    if (unknown != ERROR_SUCCESS) {
        if (debugging()) explain(reasonOf({Availability::Missing, {}}, systemMessage(unknown)));
        return Availability::Missing;
    }
    HANDLE handle = INVALID_HANDLE_VALUE;
    const DWORD error = calls.open(path, handle);
    if (error != ERROR_SUCCESS) return refused(Step::Open, error);
    DCB dcb{};
    const DWORD answer = calls.getState(handle, dcb);
    calls.close(handle);
    return refused(Step::Ask, answer);
}

} // namespace rscom
