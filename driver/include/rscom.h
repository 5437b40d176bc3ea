/*
 * rscom - modem-control line driver for RS-232 ports.
 *
 * The driver keeps one current port: the one most recently opened. The line
 * entries take no port argument and act on the current port.
 *
 *   OPENCOM(settings)  open (or re-select) a port: 0 not opened, any other
 *                      value opened (this driver returns 1)
 *   TXD(level)         break on TxD: 1 active (break), 0 inactive
 *   DTR(level)         DTR output: 1 active, 0 inactive
 *   RTS(level)         RTS output: 1 active, 0 inactive
 *   DCD() DSR()        input lines: 1 active, 0 inactive, -1 cannot be read
 *   CTS() RI()
 *   CLOSECOM()         close the current port; afterwards there is none
 *   COMSTATUS(n, ...)  could COMn be opened now, and why not; opens nothing
 *   EDGES(edges, max)  the current port's input-line changes since the last
 *                      call, each with its time and count
 *
 * Building against it: `pkg-config --cflags --libs rscom`, or CMake's
 * find_package(rscom) and the target rscom::rscom. A program that loads the
 * driver at run time asks for it by its SONAME, librscom.so.1, whose number
 * changes only when a program built against this header would no longer
 * work with it; on Windows it is rscom.dll.
 *
 * Settings string: "COMn,baud,parity,databits,stopbits", for example
 * "COM1,1200,N,8,1": n from 1 to 255, baud a positive whole number up to
 * 2147483647, parity one of N E O M S, 5 to 8 data bits, 1 or 2 stop bits, no
 * spaces. Anything else (a null pointer, an overlong text) opens nothing and
 * returns 0.
 *
 * Which device is COMn:
 *   - the environment variable RSCOM_COMn, when it is set, on every system:
 *       a device           e.g. RSCOM_COM1=/dev/ttyUSB0, on Windows RSCOM_COM1=COM7
 *       "loopback"         a virtual port with a test plug (see below)
 *       "generator"        a virtual port whose inputs move by themselves (see below)
 *       "nullmodem"        a virtual port at one end of a null-modem cable (see below)
 *       "none"             no port: OPENCOM returns 0
 *       "rfc2217://host:port"  a serial port on another machine, served over
 *                          telnet with the Com Port Control Option (RFC 2217),
 *                          as ser2net and pyserial serve it (see below)
 *   - Windows, RSCOM_COMn unset: the ports Windows has, numbered as on Linux
 *     (below); see "On Windows" for how they are found and for the names
 *     RSCOM_COMn may give there.
 *   - Linux, RSCOM_COMn unset: the serial devices the system has, found in
 *     /sys/class/tty without opening any of them, numbered as Windows does:
 *       a built-in UART ttySk is COM(k+1); a slot with no UART behind it
 *         (sysfs type 0) is no port;
 *       every other device (ttyUSB, ttyACM, ttyAMA, ...) takes the lowest
 *         free number and keeps it across unplugging, replugging, a new
 *         kernel name and restarts. It is known by its USB serial number
 *         where it has one, else by its place on the bus (the USB port's
 *         sysfs name, e.g. 1-1.2), with the interface number;
 *       a number named by an RSCOM_COMn variable, and a device one names,
 *         are left out;
 *       when none of COM1 to COM5 is free, a new device takes the number of
 *         the absent device seen longest ago among them.
 *     The numbers are remembered in $XDG_STATE_HOME/rscom/ports (by default
 *     ~/.local/state/rscom/ports), written when a number is given, so that
 *     other programs of the same user see the same numbers. One line a
 *     device, fields separated by a tab:
 *       number  last seen (seconds since 1970; kept to the hour)  identity
 *     Lines starting with '#' are comments. A file that cannot be read or
 *     written only means that numbers are not remembered; a damaged one is
 *     written anew.
 *   - elsewhere, RSCOM_COMn unset: /dev/ttyS(n-1).
 *
 * Virtual port ("loopback"): behaves like a port with a test plug wired
 *   RTS -> CTS, DTR -> DSR and DCD, TxD -> RI.
 * Virtual port ("generator"): its inputs follow a fixed pattern from the
 *   moment it is opened, and its outputs change nothing:
 *     DCD active, dropping for 2 ms every second, at 0.5 s, 1.5 s, 2.5 s, ...
 *     DSR active
 *     CTS a 5 Hz square wave: active for 100 ms, inactive for 100 ms, ...
 *     RI  active for 2 s, inactive for 4 s, ...
 * Virtual port ("nullmodem"): the first two ports that RSCOM_COMn maps to
 *   "nullmodem" (in the order of their numbers) are joined by a null-modem
 *   cable with handshaking: each port's DTR reaches the other's DSR and DCD,
 *   its RTS the other's CTS, its TxD the other's RxD (no line shows it); RI
 *   stays inactive. A port whose partner is not open, and any further
 *   "nullmodem" port, reads 0 on every input. A port that is closed drives
 *   its outputs inactive.
 * Each virtual port has lines of its own.
 *
 * Ports on another machine ("rfc2217://host:port"): the host is a name, an
 *   IPv4 address, or an IPv6 address in brackets (rfc2217://[::1]:2217); the
 *   port 1 to 65535. Anything else after "rfc2217://" (no host or port,
 *   IPv6 without brackets, a path, options after a '?') is no port:
 *   COMSTATUS answers RSCOM_MISSING and RSCOM_DEBUG says "not a valid rfc2217
 *   address".
 *   - COMSTATUS never connects (a connection takes the port, and the server
 *     opens its device, which may raise DTR): a well-formed address is
 *     available; its path field is the address as given and its product
 *     "síťový port RFC 2217".
 *   - OPENCOM connects, and offers the Com Port Control Option (44) with
 *     BINARY and SUPPRESS-GO-AHEAD; it returns non-zero once the server
 *     agrees, and 0 for a refused connection or a server that does not agree
 *     within 2 s (looking up the name and connecting included), leaving
 *     nothing open. It then sends the settings, no flow control, TxD, DTR and
 *     RTS inactive, SET-MODEMSTATE-MASK 255 and a request for the lines.
 *     Opening it again sends the settings again over the same connection.
 *   - The readers answer from the server's last NOTIFY-MODEMSTATE, with no
 *     round trip: -1 until its first report and while the connection is
 *     down. The setters send SET-CONTROL and do not wait for an answer.
 *   - Data from the server is read and thrown away.
 *   - A lost connection: the reads give -1 and EDGES RSCOM_EDGES_NO_PORT,
 *     as for an unplugged adapter, while the driver connects again about
 *     once a second; then it sends the last settings, the mask, and TxD, DTR
 *     and RTS as last set, with no change between. CLOSECOM closes the
 *     connection at once.
 *   - What the server sends is read with a fixed buffer: an overlong
 *     sub-negotiation is dropped, unknown options are refused, unknown
 *     sub-options ignored. The socket is close-on-exec, and a closed
 *     connection never raises SIGPIPE.
 *
 * Opening a device: never blocks; refuses anything that is not a serial line
 * with modem-control lines (regular files, directories, FIFOs, /dev/null,
 * pseudo-terminals, UART slots with no UART), a system console, and a port
 * that another program has open, deciding this before it touches the port;
 * takes the port exclusively; applies the settings with no flow control; and
 * sets TxD, DTR and RTS inactive. A failed OPENCOM leaves the current port as
 * it was and leaves nothing open.
 *
 * TxD may be unavailable: a port whose device cannot send a break (many
 * CDC-ACM devices; Linux answers EOPNOTSUPP or ENOTTY) opens like any other,
 * and on it TXD changes nothing and only remembers the level.
 *
 * The check and the open are two steps, and a program that opens the port
 * between them races the driver. The driver narrows the race: its first open
 * takes a lock (flock) at once, and that lock is never let go until the port
 * is closed, so a program that locks the port either holds it first, and the
 * driver refuses the port with its settings untouched, or waits for CLOSECOM.
 * On Linux the driver also looks for other holders again before any setting
 * changes, so a program seen then is refused with its settings untouched.
 * What remains: the first open itself, as every open of a tty, may raise DTR
 * and RTS, which such a program may see move for that moment; and a program
 * that opens the port without a lock after that second look (elsewhere than
 * on Linux, after the first check), and before the driver makes the port
 * exclusive (TIOCEXCL, once its settings are applied), has the port open
 * beside the driver, unseen. On Windows, which opens a port for one program
 * at a time, there is no race.
 *
 * Another program has a port open, on Linux, when it holds a flock on the
 * device node (as /proc/locks shows), when a UUCP lock file LCK..name in
 * /run/lock or /var/lock names it and it lives, or when it has the device open
 * and its /proc entry may be read: every program of the same user, and every
 * program when the driver runs as root. Another user's program that holds a
 * port without a lock cannot be seen. The processes' descriptors are looked
 * through once for every serial device, and that look is reused while the
 * kernel tells (through inotify on the device nodes) that no program opened
 * or closed one of them; the locks and lock files are read at every call.
 * A device opened through another node of the same device number, outside
 * /dev, is seen at the next look only.
 *
 * Opening a port the driver already holds makes it current again, applies the
 * settings again and leaves its output lines as they are. A port stays open
 * until CLOSECOM or the end of the process.
 *
 * Unplugging: while the device of a held port is gone its readers return -1
 * and its setters only remember the level; when the device is back (at the
 * same path, or for a numbered device under a new name) the driver opens it
 * again by itself (a few tries a second at most) and restores the output
 * lines last set.
 *
 * On Windows (rscom.dll):
 *   - A port is opened with Windows' own functions: CreateFile on its Windows
 *     name (\\.\COM7), which Windows grants to one program at a time, so
 *     that a port another program has open is refused before anything
 *     touches it; SetCommState with the settings and no flow control of any
 *     kind; TxD is SetCommBreak/ClearCommBreak, DTR and RTS are
 *     EscapeCommFunction, and the inputs come from GetCommModemStatus (DCD is
 *     its RLSD).
 *   - A port's own driver may raise DTR and RTS the moment the port is opened
 *     (Windows' serial driver and many USB adapters' drivers do): OPENCOM
 *     makes them inactive with its first SetCommState. Applying the settings
 *     again to a port the driver holds never moves DTR or RTS.
 *   - 5 data bits with 2 stop bits go out with 1.5 stop bits, as a UART sends
 *     them when asked for 2 on any system; Windows takes them no other way.
 *   - Which port is COMn, RSCOM_COMn unset: the driver finds the ports
 *     Windows has now, without opening any: the devices SetupAPI lists
 *     (the COM-port interface GUID_DEVINTERFACE_COMPORT and the Ports class,
 *     printer ports left out), with their PortName, friendly name, maker
 *     (SPDRP_MFG) and instance IDs, and the ports that only
 *     HKLM\HARDWARE\DEVICEMAP\SERIALCOMM lists (virtual port pairs, some
 *     multi-port cards), known by their name alone. It looks again at most
 *     every two seconds, so that a probe of COM1 to COM5 looks once; a port
 *     plugged in is seen within two seconds. They are numbered as on Linux:
 *       a port Windows names COM1 to COM5 keeps its number;
 *       every other port takes the lowest free number and keeps it, new
 *         ports in the order of Windows' names (COM7 before COM12). A port
 *         is known by its USB serial number where it has one (the last part
 *         of the USB device's instance ID, when Windows took it from the
 *         device), as "usb 0403:6001 serial A12345", with " interface 00"
 *         for a function of a composite device; else by its device instance
 *         ID, "device USB\VID_1A86&PID_7523\5&2C3D4E5F&0&1" (which names the
 *         USB socket); else by its Windows name, "port CNCA0";
 *       numbers and ports that RSCOM_COMn variables name are left out, and
 *         when none of COM1 to COM5 is free, a new port takes the number of
 *         the absent port seen longest ago; a port Windows itself names COM1
 *         to COM5 takes its number from a remembered port that held it.
 *     The numbers are remembered in %LOCALAPPDATA%\rscom\ports, with the
 *     lines and rules of the Linux file (it may end its lines in CR LF),
 *     locked with LockFileEx on ports.lock beside it while it is written.
 *   - RSCOM_COMn names a port as Windows does: COM7, com7 or \\.\COM7, or a
 *     port of another name such as CNCA0. A value with a path in it (a file, a
 *     drive) names no port. COMSTATUS's path field is the port's name, "COM7",
 *     and its product, maker and serial fields are what Windows tells: the
 *     friendly name without " (COM7)", SPDRP_MFG (left empty where Windows
 *     names no maker, "(Standard port types)"), the USB serial number.
 *     A numbered port that is out (unplugged) is RSCOM_MISSING with every
 *     detail field empty.
 *   - COMSTATUS asks Windows whether the port exists without opening it
 *     (QueryDosDevice). To tell whether it is free it then opens the port and
 *     closes it at once: CreateFile, GetCommState (which only reads the
 *     settings) and CloseHandle; no SetCommState, and no line is set by this
 *     driver. The port's own driver may still raise DTR and RTS for that
 *     moment and drop them on close, as it does whenever a program opens the
 *     port: a device on the line may see them pulse. A port another program
 *     has open is not opened (Windows refuses) and is RSCOM_IN_USE, without
 *     the program's name; a device that is no serial port (NUL) is
 *     RSCOM_NOT_SERIAL. RSCOM_NO_PERMISSION and RSCOM_CONSOLE do not occur.
 *   - Bluetooth ports (enumerator BTHENUM): opening one makes Windows connect
 *     to its device, which may take many seconds. COMSTATUS never opens one:
 *     it answers RSCOM_AVAILABLE, and its maker field says "Bluetooth". The
 *     port may still be in use by another program or its device be out of
 *     reach; OPENCOM tells, and waits for the connection as a plain open.
 *   - On 32-bit Windows the entries are __stdcall and exported under their
 *     plain names (OPENCOM, not OPENCOM@4), as programs ask GetProcAddress for
 *     them; the import library serves programs that link it with this header.
 *   - rscom.dll needs no DLL but Windows' own.
 *
 * Why a port was refused: with RSCOM_DEBUG=1 in the environment the driver
 * writes one line to standard error for each refusal and failure, where it is
 * decided: the entry, the port, the device and the reason in words (in use by
 * which program, a system console, no permission with the device's group, not
 * a serial line, or the system's own words, strerror or FormatMessage):
 *   rscom: OPENCOM COM3 /dev/ttyUSB0: in use by minicom (PID 4242)
 *   rscom: COMSTATUS COM4 /dev/ttyUSB1: No such file or directory
 * A device that goes away is told once, when it goes; the tries to open it
 * again are not. Without the variable, or with RSCOM_DEBUG=0, nothing is
 * written.
 *
 * Every entry may be called from any thread.
 */
#ifndef RSCOM_H
#define RSCOM_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(RSCOM_BUILDING)
#    define RSCOM_API __declspec(dllexport)
#  else
#    define RSCOM_API __declspec(dllimport)
#  endif
#  if defined(_M_IX86) || defined(__i386__)
#    define RSCOM_CALL __stdcall
#  else
#    define RSCOM_CALL
#  endif
#else
#  define RSCOM_API __attribute__((visibility("default")))
#  define RSCOM_CALL
#endif /* _WIN32 */

#ifdef __cplusplus
extern "C" {
#endif

/* Opens the port the settings string names and makes it the current port.
 * Returns RSCOM_NOT_OPENED (0) when it does not exist, is not accessible, is
 * a system console, is in use by another program, or the string is not
 * valid, and any other value when the port is open. */
RSCOM_API int16_t RSCOM_CALL OPENCOM(const char *settings);

/* Results of OPENCOM. This driver returns RSCOM_OPENED (1) for an open port;
 * other drivers with these entries may return any other non-zero value (-1,
 * 7), so callers test for non-zero: 0 is not opened, every other value is
 * opened. */
#define RSCOM_OPENED 1
#define RSCOM_NOT_OPENED 0

/* Output lines of the current port. 0 sets the line inactive, any other value
 * active; TxD active is a break condition. Without a current port, nothing. */
RSCOM_API void RSCOM_CALL TXD(int16_t level);
RSCOM_API void RSCOM_CALL DTR(int16_t level);
RSCOM_API void RSCOM_CALL RTS(int16_t level);

/* Input lines of the current port: 1 active, 0 inactive, RSCOM_UNREADABLE
 * (-1) when the line cannot be read (no current port, or its device is
 * gone). */
#define RSCOM_ACTIVE 1
#define RSCOM_INACTIVE 0
#define RSCOM_UNREADABLE -1
RSCOM_API int16_t RSCOM_CALL DCD(void);
RSCOM_API int16_t RSCOM_CALL DSR(void);
RSCOM_API int16_t RSCOM_CALL CTS(void);
RSCOM_API int16_t RSCOM_CALL RI(void);

/* Closes the current port; afterwards there is no current port. */
RSCOM_API void RSCOM_CALL CLOSECOM(void);

/* Result codes of COMSTATUS. */
#define RSCOM_AVAILABLE 1      /* OPENCOM would open it now, as far as can be told */
#define RSCOM_MISSING 0        /* "none", nothing has that number, or no such device */
#define RSCOM_NO_PERMISSION -1 /* the user may not read and write the device */
#define RSCOM_IN_USE -2        /* another program has it open (see above) */
#define RSCOM_CONSOLE -3       /* a system console */
#define RSCOM_NOT_SERIAL -4    /* no serial line with modem-control lines */

/* Tells whether COMn (port 1 to 255) could be opened now, and why not,
 * without opening the device, changing any setting or moving any line. A port
 * this driver holds is available. The current port stays as it is. On
 * Windows telling whether a port is free takes an open; see "On Windows" at
 * the top for what that open does.
 *
 * detail, when not null and size is at least 1, receives a NUL-terminated
 * UTF-8 text cut to size bytes (never inside a character): seven fields
 * joined by tabs, each empty when unknown, with tabs and control characters
 * inside a value made spaces:
 *   1 the device path (/dev/ttyUSB0; on Windows the port's name, COM7), or
 *     for a virtual port its kind: "loopback", "generator", "nullmodem"
 *   2 the USB product (FT232R USB UART)
 *   3 its maker (FTDI)
 *   4 its serial number (A12345)
 *   5 for RSCOM_NO_PERMISSION, the group that owns the device (dialout)
 *   6 for RSCOM_IN_USE, the other program's name (minicom), when it is seen
 *   7 for RSCOM_IN_USE, that program's process id (4242), when it is seen
 * Returns one of the RSCOM_ result codes above. */
RSCOM_API int16_t RSCOM_CALL COMSTATUS(int16_t port, char *detail, int16_t size);

/* The input lines, as rscom_edge names them. */
#define RSCOM_LINE_DCD 1
#define RSCOM_LINE_DSR 2
#define RSCOM_LINE_CTS 3
#define RSCOM_LINE_RI 4

/* One change of an input line of the current port. */
typedef struct rscom_edge {
    int64_t time;  /* when it happened: microseconds of the monotonic clock
                      (CLOCK_MONOTONIC; on Windows QueryPerformanceCounter's) */
    int32_t count; /* that line's changes since the port was opened, this one included */
    int16_t line;  /* RSCOM_LINE_DCD 1, RSCOM_LINE_DSR 2, RSCOM_LINE_CTS 3, RSCOM_LINE_RI 4 */
    int16_t level; /* the line after the change: 1 active, 0 inactive */
} rscom_edge;      /* 16 bytes on every target */

/* Results of EDGES besides a count. */
#define RSCOM_EDGES_NO_PORT -1   /* no current port, or its device is gone */
#define RSCOM_EDGES_UNTOLD -2    /* this port cannot tell its changes (only what a read sees) */

/* Moves the current port's input-line changes that were not taken yet into
 * edges, oldest first, at most max. Returns how many (0: none since the last
 * call); RSCOM_EDGES_NO_PORT when there is no current port or its device is
 * gone; RSCOM_EDGES_UNTOLD when this port cannot tell its changes. A null
 * edges or a max of 0 or less takes nothing (and returns 0 where a count
 * would come back).
 *
 * The reads stay the truth of "now"; EDGES tells what happened in between,
 * also a change that came and went between two reads.
 *
 * Recording starts when OPENCOM opens the device and ends at CLOSECOM. Each
 * held port keeps its own record while another port is current, and
 * selecting it again continues it. A record holds at least 65536 changes not
 * taken yet; beyond that the oldest go.
 *
 * count is the truth: where the port counted changes that the driver could
 * not see one by one, count jumps by more than one and the edge carries the
 * level after the last of them. count never goes back: not across an unplug
 * and the recovery that follows (the device counts from nothing again), not
 * across selecting another port, and not when the oldest changes went.
 *
 * time is as close to the change as the port allows: where the driver waits
 * for changes, when the system wakes it; where the port can only count, at
 * the EDGES call that finds them. Waiting costs no CPU, and reading a line
 * stays one system call on a real port.
 *
 * What each port gives:
 *   loopback    every input change an output change causes, timed at the
 *               setter's call; a setter that repeats the level causes none
 *   generator   its pattern's changes at their exact times, computed from the
 *               clock when EDGES is called (nothing runs meanwhile)
 *   nullmodem   every input change the other end's setters (or its closing)
 *               cause, timed at that call
 *   Linux       a thread per held port waits in TIOCMIWAIT and reads
 *               TIOCGICOUNT and TIOCMGET after each wake; at each EDGES call
 *               the counters are read again, for a change the kernel counted
 *               without waking the thread. The port's kernel driver decides:
 *                 8250/16550 UARTs, ftdi_sio, cdc_acm: waits and counts
 *                   (the 8250 counts and wakes only at RI's falling edge: the
 *                   rising one is found by the next read, wake or EDGES call,
 *                   and timed then);
 *                 pl2303, ch341: waits, cannot count: one change per
 *                   changed line at each wake;
 *                 cp210x: counts, cannot wait: changes are found and timed
 *                   at each EDGES call;
 *                 neither: RSCOM_EDGES_UNTOLD.
 *               A driver that lacks an ioctl answers ENOTTY, EINVAL or
 *               EOPNOTSUPP to it; any other failure means the device is gone.
 *   Windows     a thread per held port waits in WaitCommEvent, timed with
 *               QueryPerformanceCounter, the levels from GetCommModemStatus
 *               after each event; an RI edge comes from EV_RING itself.
 *   rfc2217     a thread per held port sleeps on its connection; a report
 *               that changes a line's level is a change, timed when it
 *               arrives (not when the line moved at the server); a delta
 *               bit (for RI the trailing-edge bit) at the same level is two
 *               changes, a jump in count. The server's first report after
 *               each connection sets the levels and is no change. ser2net
 *               looks at its lines about once a second: shorter pulses
 *               arrive as counted changes only, when at all.
 *
 * Closing: CLOSECOM releases the device at once, even while a wait is
 * pending: within 100 ms another program can open and lock it, and no
 * thread of the driver is left for it; at exit nothing hangs. On Linux
 * neither close() nor a hangup ends a TIOCMIWAIT, only a line change or a
 * signal, so the driver ends its own thread's wait with SIGURG, sent with
 * pthread_kill to that thread alone. A second thread per port waits for the
 * port's hang-up (poll) and ends the wait then too: the kernel removes a
 * UART only once no TIOCMIWAIT is pending on it. OPENCOM returns once the
 * wait is in place. The driver's threads take no other signal. The SIGURG
 * handler does nothing and has no SA_RESTART; the driver installs it only
 * while SIGURG's disposition is the default (ignored), and sets the default
 * again when its last waiting port closes. SIGURG is otherwise only sent
 * for a socket's out-of-band data to a process that asked for it with
 * F_SETOWN; such a signal would meanwhile run the empty handler instead of
 * being ignored, and may end a system call of the program's with EINTR. The
 * program never sees the driver's signal: the driver never takes over a
 * handler the program set. When the
 * program has a SIGURG handler of its own (or ignores it explicitly), the
 * driver does not wait: a port that counts finds its changes at each EDGES
 * call, one that cannot count is RSCOM_EDGES_UNTOLD. A program that sets a
 * SIGURG handler while the driver waits leaves those waits to end by
 * themselves (a line change, a hang-up): CLOSECOM then returns at once and
 * the device is released when they end. On Windows CLOSECOM sets the wait's
 * stop event and cancels it (CancelIoEx); a program that unloads rscom.dll
 * (FreeLibrary) closes its ports first. */
RSCOM_API int16_t RSCOM_CALL EDGES(rscom_edge *edges, int16_t max);

#ifdef __cplusplus
}
#endif

#endif /* RSCOM_H */
