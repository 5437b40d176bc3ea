#include "ports.h"

#include "modul1.h"

namespace Port
{

QString settings(int port)
{
    return QStringLiteral("COM%1,1200,N,8,1").arg(port);
}

QString title(int port)
{
    return QStringLiteral("Lintara - COM%1").arg(port);
}

QString openedMessage(int port)
{
    return QStringLiteral("Otevřen port : COM%1").arg(port);
}

QString refusedMessage(int port)
{
    return QStringLiteral("Port COM%1 nelze otevřít - je nepřístupný, nebo neexistuje").arg(port);
}

void probe(const std::function<void(int port)> &disableOption, QString &unavailablePorts)
{
    static const char *const fragments[] = {"", "1,", " 2,", " 3,", " 4,", " 5 "};
    unavailablePorts.clear();
    for (int n = kFirst; n <= kLast; ++n) {
        if (Modul1::OPENCOM(settings(n)) != 0) continue;
        disableOption(n);
        unavailablePorts += QLatin1String(fragments[n]);
    }
}

QString unavailableMessage(const QString &unavailablePorts)
{
    if (unavailablePorts.isEmpty()) return QStringLiteral("Vyberte si port 1 - 5");
    return QStringLiteral("Port(y) ") + unavailablePorts +
           QStringLiteral(" nelze otevřít - jsou nepřístupné, nebo neexistují");
}

} // namespace Port
