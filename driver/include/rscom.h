/*
 * rscom - modem-control line driver for RS-232 ports.
 *
 * The driver keeps one current port: the one most recently opened. The line
 * entries take no port argument and act on the current port.
 *
 *   OPENCOM(settings)  open (or re-select) a port: 1 opened, 0 not opened
 *   TXD(level)         break on TxD: 1 active (break), 0 inactive
 *   DTR(level)         DTR output: 1 active, 0 inactive
 *   RTS(level)         RTS output: 1 active, 0 inactive
 *   DCD() DSR()        input lines: 1 active, 0 inactive, -1 cannot be read
 *   CTS() RI()
 *   CLOSECOM()         close the current port; afterwards there is none
 *
 * Settings string: "COMn,baud,parity,databits,stopbits", for example
 * "COM1,1200,N,8,1": n from 1 to 255, baud a positive whole number, parity
 * one of N E O M S, 5 to 8 data bits, 1 or 2 stop bits, no spaces. Anything
 * else (a null pointer, an overlong text) opens nothing and returns 0.
 *
 * Which device is COMn:
 *   - Windows: the port COMn itself.
 *   - elsewhere: the environment variable RSCOM_COMn when it is set:
 *       a device path    e.g. RSCOM_COM1=/dev/ttyUSB0
 *       "loopback"       a virtual port with a test plug (see below)
 *       "none"           no port: OPENCOM returns 0
 *     and /dev/ttyS(n-1) when it is not (COM1 is /dev/ttyS0).
 *
 * Virtual port ("loopback"): behaves like a port with a test plug wired
 *   RTS -> CTS, DTR -> DSR and DCD, TxD -> RI.
 * Each virtual port has lines of its own.
 *
 * Opening a device: never blocks; refuses anything that is not a serial line
 * with modem-control lines (regular files, directories, FIFOs, /dev/null,
 * pseudo-terminals); takes the port exclusively, so a port that another
 * program holds is refused; applies the settings with no flow control; and
 * sets TxD, DTR and RTS inactive. A failed OPENCOM leaves the current port as
 * it was and leaves nothing open.
 *
 * Opening a port the driver already holds makes it current again, applies the
 * settings again and leaves its output lines as they are. A port stays open
 * until CLOSECOM or the end of the process.
 *
 * Unplugging: while the device of a held port is gone its readers return -1
 * and its setters only remember the level; when a device appears at the same
 * path again the driver re-opens it by itself (a few tries a second at most)
 * and restores the output lines last set.
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
 * Returns 1 when the port is open, 0 when it does not exist, is not
 * accessible, is held by another program, or the string is not valid. */
RSCOM_API int16_t RSCOM_CALL OPENCOM(const char *settings);

/* Output lines of the current port. 0 sets the line inactive, any other value
 * active; TxD active is a break condition. Without a current port, nothing. */
RSCOM_API void RSCOM_CALL TXD(int16_t level);
RSCOM_API void RSCOM_CALL DTR(int16_t level);
RSCOM_API void RSCOM_CALL RTS(int16_t level);

/* Input lines of the current port: 1 active, 0 inactive, -1 when the line
 * cannot be read (no current port, or its device is gone). */
RSCOM_API int16_t RSCOM_CALL DCD(void);
RSCOM_API int16_t RSCOM_CALL DSR(void);
RSCOM_API int16_t RSCOM_CALL CTS(void);
RSCOM_API int16_t RSCOM_CALL RI(void);

/* Closes the current port; afterwards there is no current port. */
RSCOM_API void RSCOM_CALL CLOSECOM(void);

#ifdef __cplusplus
}
#endif

#endif /* RSCOM_H */
