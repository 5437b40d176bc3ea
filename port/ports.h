// The five ports the program offers, how each is named to the driver, the
// probe that tells which can be opened, and the texts about them.
#pragma once

#include <QString>

#include <cstdint>
#include <functional>
#include <optional>

namespace Port
{

constexpr int kFirst = 1;
constexpr int kLast = 5;

// "COM1,1200,N,8,1" ... "COM5,1200,N,8,1": the only settings ever used, for
// probing, selecting and confirming a port.
QString settings(int port);

// "Lintara - COM1" ... "Lintara - COM5"; port 0 gives the title before any
// port is selected, "Lintara - COM0".
QString title(int port);

// "COMn": the port as the timeline and its files name it.
QString name(int port);

// "Průběh signálů - COMn": the timeline's title for the monitor's port.
QString timelineTitle(int port);

// "Test zapojení - COMn": the wiring test's title for the monitor's port.
QString wiringTitle(int port);

// "Otevřen port : COMn"
QString openedMessage(int port);

// "Port COMn nelze otevřít - je nepřístupný, nebo neexistuje", and on a
// second line `why`, when it is known.
QString refusedMessage(int port, const QString &why = {});

// What the driver tells of a port without opening it: its COMSTATUS result,
// one of rscom.h's RSCOM_ result codes (RSCOM_AVAILABLE, RSCOM_MISSING,
// RSCOM_NO_PERMISSION, RSCOM_IN_USE, RSCOM_CONSOLE, RSCOM_NOT_SERIAL), and the
// fields of its detail.
struct State {
    std::int16_t code = 0; // RSCOM_MISSING
    QString path, product, maker, serial, group, program, pid;
};

// The driver's state of `port`; nothing when the driver cannot tell one.
std::optional<State> state(int port);

// What a port option says of its port, its tooltip: the device on the first
// line ("/dev/ttyUSB0 – FT232R USB UART (FTDI, A12345)"), and for a port
// that cannot be used, why, on the second.
QString description(const State &state);

// Why the port cannot be used ("Port neexistuje."); empty for one that can.
QString reason(const State &state);

// Tells which of ports 1 to 5 can be opened: asks the driver's COMSTATUS
// where it has one, and gives each option its description; otherwise opens
// them in turn with their settings, never closing one. For each that
// cannot be opened calls disableOption(n) and adds it to unavailablePorts,
// which starts empty: "1," " 2," " 3," " 4," " 5 ". Never marks a port.
void probe(const std::function<void(int port)> &disableOption,
           const std::function<void(int port, const QString &text)> &describeOption,
           QString &unavailablePorts);

// Whether the last probe found port n available; false before any probe.
bool foundAvailable(int port);

// The report of a probe: "Vyberte si port 1 - 5" when every port opened,
// otherwise "Port(y) " + unavailablePorts + " nelze otevřít - jsou
// nepřístupné, nebo neexistují".
QString unavailableMessage(const QString &unavailablePorts);

} // namespace Port
