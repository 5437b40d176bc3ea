// What the programs run in the VM share: their check lines, the watchdog,
// the quiet stretches that the host looks up in qemu's trace, and the refusal
// to run anywhere but in that VM. Plain C++, as the driver's test is.
//
// Each program prints "PASS name", "FAIL name: detail" and "info text" lines,
// a "-- group (at s)" line per group of checks and, last, "SUMMARY: n passed,
// m failed"; run_uart_test.sh counts them per program.
#pragma once

#include <functional>
#include <string>

namespace guest
{

// True only in the VM that run_uart_test.sh boots: its initramfs has a
// marker file and its kernel command line a word of its own.
bool inGuest();

bool check(const std::string &name, bool ok, const std::string &detail = {});
void info(const std::string &text);

// Starts a group of checks: its line, and the watchdog, which ends the
// program with a FAIL line when the group takes more than a minute.
void group(const char *name);
// A group that waits on purpose may start the watchdog again.
void restartWatchdog();

// Prints the summary; the program's exit status.
int summary();

std::string errnoText(int error);
double seconds();
void sleepMs(int ms);

// Seconds until `path` exists (or is gone); -1 when it did not within `limit`.
double waitForNode(const char *path, bool present, double limit);

// Loads the USB serial adapter's modules in the order run_uart_test.sh
// lists them (or the modules `list` names: /modules/gadget); one that is
// loaded already counts as loaded. `name` prefixes the checks' names.
bool loadModules(const std::string &name, const char *list = "/modules/order");

// --- helper processes ---------------------------------------------------------

// A child with a pipe on each side: closing `in` tells it to end, it answers
// on `out` one line at a time.
struct Child {
    int pid = -1;
    int in = -1;
    int out = -1;
};

// Forks a child that runs `body` and ends with its result; pid -1 when it
// could not be started.
Child startChild(const std::function<int()> &body);
// The child's next line; "<eof>" when it ended, "<no answer>" after the time.
std::string readReply(const Child &child, int timeoutMs = 10000);
// Closes the pipes, waits for the child and gives its wait status.
int finishChild(Child &child);

// In a child: waits until the parent closes its input, and answers a line.
void waitForEnd();
void reply(const std::string &line);

// --- quiet stretches ----------------------------------------------------------
//
// qemu logs every register write of every UART (its serial_write trace) but
// not which UART it was. A stretch in which no UART may be written is marked
// by two writes to ttyS1's scratch register before (0xA5, the stretch's
// number) and two after (0x5A, the number); the kernel's driver never writes
// that register once the port is set up. The host checks the trace between
// the markers of every stretch a program announces with a QUIET line.

// Allows the marker writes; stretches are numbered from `first` on. The
// programs of one VM run use numbers of their own: a number is a byte, and
// the host fails a number announced twice.
bool enableMarkers(int first);

// Runs `body` between markers. Nothing in `body` may print: the console is a
// UART too. `writes` says that the stretch must write the modem control
// register: the proof that the trace sees what the others must not do.
void quietly(const std::string &what, const std::function<void()> &body, bool writes = false);

} // namespace guest
