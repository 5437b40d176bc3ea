// Real ports on Windows, through Windows' own communications functions:
// CreateFile on \\.\COMn, SetCommState, EscapeCommFunction, SetCommBreak and
// GetCommModemStatus.
#pragma once

#include "core/device.h"
#include "core/portstatus.h"

#include <windows.h>

#include <memory>
#include <string>

namespace rscom
{

// The system calls the backend makes, one member each, answering
// ERROR_SUCCESS or the code GetLastError gave. Tests stand in for a port
// through them; systemCalls() makes the calls.
class CommCalls
{
public:
    virtual ~CommCalls() = default;
    // QueryDosDeviceW: whether Windows has a device of that name ("COM7").
    // Opens nothing.
    virtual DWORD queryDevice(const std::wstring &name) = 0;
    // CreateFileW for reading and writing, shared with nobody.
    virtual DWORD open(const std::wstring &path, HANDLE &handle) = 0;
    virtual void close(HANDLE handle) = 0;
    virtual DWORD getState(HANDLE handle, DCB &dcb) = 0;
    virtual DWORD setState(HANDLE handle, const DCB &dcb) = 0;
    // EscapeCommFunction: SETDTR, CLRDTR, SETRTS or CLRRTS.
    virtual DWORD escape(HANDLE handle, DWORD function) = 0;
    // SetCommBreak or ClearCommBreak.
    virtual DWORD setBreak(HANDLE handle, bool on) = 0;
    virtual DWORD modemStatus(HANDLE handle, DWORD &status) = 0;
    // SetCommMask.
    virtual DWORD setMask(HANDLE handle, DWORD mask) = 0;
    // An overlapped WaitCommEvent, waited for until it completes or `stop`
    // is set; then the wait is cancelled and ERROR_OPERATION_ABORTED comes
    // back. Called from the port's own thread.
    virtual DWORD waitEvent(HANDLE handle, HANDLE stop, DWORD &events) = 0;
};

CommCalls &systemCalls();

// What went wrong, for the one function that reads Windows' error codes.
enum class Step {
    Open, // CreateFile of the port
    Ask,  // GetCommState on a port just opened
};

// The driver's answer to a failed step: the one place where Windows' error
// codes are read. An open port that fails any call no longer answers, whatever
// the code (see SerialPort), so only opening needs telling apart.
Availability availabilityAfter(Step step, DWORD error);

// The port's settings written into `dcb`, which holds what the port has now:
// no flow control of any kind, DTR and RTS as given. Every other field stays.
void applySettings(DCB &dcb, const Settings &settings, bool dtr, bool rts);

// Opens the port at `path` (\\.\COM7) for this process alone; nullptr when it
// cannot be opened or is no serial port, leaving nothing open. Its DTR and RTS
// are taken as inactive: the first configure() makes them so.
std::unique_ptr<Device> openSerialPort(const std::wstring &path, CommCalls &calls);

// Whether the port `name` (COM7), at `path`, could be opened now: whether
// Windows has it, without opening it; then, to tell whether it is free, an
// open, GetCommState and a close at once, changing no setting and no line.
Availability serialPortState(const std::wstring &name, const std::wstring &path, CommCalls &calls);

} // namespace rscom
