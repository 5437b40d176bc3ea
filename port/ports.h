// The five ports the program offers, how each is named to the driver, the
// probe that tells which can be opened, and the texts about them.
#pragma once

#include <QString>

#include <functional>

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

// "Otevřen port : COMn"
QString openedMessage(int port);

// "Port COMn nelze otevřít - je nepřístupný, nebo neexistuje"
QString refusedMessage(int port);

// Opens ports 1 to 5 in turn with their settings. For each that fails calls
// disableOption(n) and adds it to unavailablePorts, which starts empty:
// "1," " 2," " 3," " 4," " 5 ". Never closes a port and never marks one.
void probe(const std::function<void(int port)> &disableOption, QString &unavailablePorts);

// The report of a probe: "Vyberte si port 1 - 5" when every port opened,
// otherwise "Port(y) " + unavailablePorts + " nelze otevřít - jsou
// nepřístupné, nebo neexistují".
QString unavailableMessage(const QString &unavailablePorts);

} // namespace Port
