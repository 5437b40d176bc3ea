// The program's binding to the port driver. The driver library is loaded by
// name on the first call, and each entry is looked up on its own first call,
// so a driver that lacks an entry the program never calls still works.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

namespace Modul1
{

// Called when the driver library or one of its entries cannot be loaded,
// with the library's name and the loader's reason. The program's handler
// reports it and ends the program; if a handler returns, the call that failed
// does nothing and reads as RSCOM_NOT_OPENED or RSCOM_UNREADABLE.
using FailureHandler = std::function<void(const QString &library, const QString &reason)>;
void setFailureHandler(FailureHandler handler);

// The driver's entries, as the program calls them.
std::int16_t OPENCOM(const QString &settings);
// Whether an OPENCOM result means opened: 0 is not opened, every other value
// is. Our driver answers 1; another may answer -1 or 7.
constexpr bool opened(std::int16_t result)
{
    return result != 0;
}
void TXD(std::int16_t level);
void DTR(std::int16_t level);
void RTS(std::int16_t level);
std::int16_t DCD();
std::int16_t DSR();
std::int16_t CTS();
std::int16_t RI();
// Whether port n could be opened now, and why not, without opening it; the
// driver's detail text goes to `detail`. Nothing when the driver has no
// COMSTATUS: drivers made for the original entries lack it, and that is
// never reported.
std::optional<std::int16_t> COMSTATUS(std::int16_t port, QString &detail);

// One change of an input line of the current port, as the driver tells it.
struct Edge {
    std::int64_t time;  // microseconds of the monotonic clock
    std::int32_t count; // that line's changes since the port was opened
    std::int16_t line;  // kLineDcd, kLineDsr, kLineCts or kLineRi
    std::int16_t level; // after the change: 1 active, 0 inactive
};
enum EdgeLine : std::int16_t { kLineDcd = 1, kLineDsr = 2, kLineCts = 3, kLineRi = 4 };
// EDGES's results besides a count.
constexpr std::int16_t kEdgesNoPort = -1; // no current port, or its device is gone
constexpr std::int16_t kEdgesUntold = -2; // the port cannot tell its changes

// Appends the current port's changes not taken yet to `edges`, at most
// `max`, and returns how many, or kEdgesNoPort, kEdgesUntold. Nothing when
// the driver has no EDGES: like COMSTATUS, that is never reported.
std::optional<std::int16_t> EDGES(std::vector<Edge> &edges, std::int16_t max);

// The driver library the entries above call: the program's own,
// libraryName(), found by the ordinary search, until useLibrary names
// another. A library once loaded is never unloaded, as the ports it opened
// stay open until the process ends.
void useLibrary(const QString &library);

// The driver's file name as the program asks the loader for it: its SONAME,
// "librscom.so.1" (on macOS "librscom.1.dylib"), or "rscom.dll".
QString libraryName();

} // namespace Modul1
