// The driver's real-port backend against the kernel's own 8250 driver, on the
// emulated 16550A UARTs of the VM that run_uart_test.sh boots. Every check
// goes through the driver's C entries exactly as the program calls them.
//
// The VM has three UARTs, each with nothing attached: ttyS0 (its console),
// ttyS1 and ttyS2. ttyS3 is a port slot with no UART behind it, and the
// kernel makes four slots, so ttyS9 does not exist. It also has a USB serial
// adapter, which appears once the USB checks load its modules.
//
// The checks of COMSTATUS come first, with the COM numbers the driver gives
// by itself; the checks of a single UART then name their ports with
// RSCOM_COMn. Where the driver must touch no UART, the stretch is marked for
// the host, which finds in qemu's trace whether any register was written.
//
// The 16550's loopback mode ties its outputs to its inputs: DTR -> DSR,
// RTS -> CTS, OUT1 -> RI, OUT2 -> DCD. This program sets OUT1, OUT2 and loop
// through a descriptor of its own, opened before the driver opens the port:
// every open of a tty raises DTR and RTS, so opening it later would undo what
// the driver set. Where no descriptor of ours can be had, the kernel's view of
// the lines is read from /proc/tty/driver/serial, which opens nothing.
//
// The checks are in a file for each theme, consoles and holders
// (uart_holders.cpp), lines and settings (uart_lines.cpp), unplug and
// recovery (uart_unplug.cpp), with what they share in uart_checks.h; main runs
// them in order, as some checks build on what the ones before left.
//
// This program drives real ports. It refuses to start anywhere but in that VM.
#include "uart_checks.h"

#include <csignal>
#include <cstdio>
#include <cstring>

using namespace uart;

int main(int argc, char **argv)
{
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    if (!inGuest()) {
        std::fprintf(stderr,
                     "uart_guest_test drives real serial ports and runs only inside the test VM "
                     "that run_uart_test.sh boots; refusing to run here.\n");
        return 2;
    }
    if (argc == 3 && std::strcmp(argv[1], "--hold") == 0) return holdWithDriver(argv[2]);
    if (argc == 2 && std::strcmp(argv[1], "--list-fds") == 0) return listFds();
    if (argc == 3 && std::strcmp(argv[1], "--status") == 0) return statusOf(argv[2]);
    if (argc == 3 && std::strcmp(argv[1], "--keep") == 0) return keepOpen(argv[2]);
    if (argc != 1) {
        std::fprintf(stderr, "usage: %s\n", argv[0]);
        return 2;
    }

    std::signal(SIGPIPE, SIG_IGN);
    const double t0 = seconds();
    if (setupEnvironment()) {
        checkStatusRealPort();
        checkStatusConsole();
        checkStatusEmptySlot();
        checkStatusInUse();
        checkStatusPermission();
        mapPorts();
        checkOpen();
        if (g_watch >= 0) {
            checkDtrRts();
            checkDcdRi();
            checkTxd();
            checkReopen();
            checkNoUart();
            checkMissing();
            checkForeignSettings();
            checkLocked();
            checkCloseOnExec();
            checkReaderCost();
            checkManyOpens();
            checkUnplug();
            checkClose();
        }
        if (checkUsbNumber()) {
            checkUsbRestart();
            checkUsbHeld();
        }
    }
    info("checks took " + std::to_string(static_cast<int>((seconds() - t0) * 1000)) + " ms");
    return summary();
}
