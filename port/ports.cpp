#include "ports.h"

#include "modul1.h"

#include <rscom.h>

#include <QStringList>

#include <array>

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

QString name(int port)
{
    return QStringLiteral("COM%1").arg(port);
}

QString timelineTitle(int port)
{
    return QStringLiteral("Průběh signálů - COM%1").arg(port);
}

QString wiringTitle(int port)
{
    return QStringLiteral("Test zapojení - COM%1").arg(port);
}

QString openedMessage(int port)
{
    return QStringLiteral("Otevřen port : COM%1").arg(port);
}

QString refusedMessage(int port, const QString &why)
{
    QString text =
        QStringLiteral("Port COM%1 nelze otevřít - je nepřístupný, nebo neexistuje").arg(port);
    if (!why.isEmpty()) text += QLatin1Char('\n') + why;
    return text;
}

std::optional<State> state(int port)
{
    QString detail;
    const std::optional<std::int16_t> code =
        Modul1::COMSTATUS(static_cast<std::int16_t>(port), detail);
    if (!code) return std::nullopt;
    QStringList fields = detail.split(QLatin1Char('\t'));
    while (fields.size() < 7)
        fields << QString();
    return State{*code,     fields[0], fields[1], fields[2],
                 fields[3], fields[4], fields[5], fields[6]};
}

QString description(const State &state)
{
    QString device;
    if (state.path == QLatin1String("loopback")) {
        device = QStringLiteral("virtuální port se zkušební zástrčkou");
    } else if (state.path == QLatin1String("generator")) {
        device = QStringLiteral("virtuální port s generátorem signálů");
    } else if (state.path == QLatin1String("nullmodem")) {
        device = QStringLiteral("virtuální port s kříženým kabelem (null-modem)");
    } else if (!state.product.isEmpty()) {
        QStringList about;
        for (const QString &field : {state.maker, state.serial}) {
            if (!field.isEmpty()) about << field;
        }
        device = state.path + QStringLiteral(" – ") + state.product;
        if (!about.isEmpty())
            device += QStringLiteral(" (") + about.join(QStringLiteral(", ")) + QLatin1Char(')');
    } else {
        device = state.path;
    }
    QStringList lines;
    if (!device.isEmpty()) lines << device;
    const QString why = reason(state);
    if (!why.isEmpty()) lines << why;
    return lines.join(QLatin1Char('\n'));
}

QString reason(const State &state)
{
    switch (state.code) {
    case RSCOM_AVAILABLE:
        return {};
    case RSCOM_MISSING:
        return QStringLiteral("Port neexistuje.");
    case RSCOM_NO_PERMISSION:
        if (state.group.isEmpty()) return QStringLiteral("Nemáte k portu oprávnění.");
        return QStringLiteral("Nemáte k portu oprávnění. Přidejte se do skupiny %1 a znovu se "
                              "přihlaste.")
            .arg(state.group);
    case RSCOM_IN_USE:
        if (state.program.isEmpty()) return QStringLiteral("Port používá jiný program.");
        if (state.pid.isEmpty())
            return QStringLiteral("Port používá jiný program: %1.").arg(state.program);
        return QStringLiteral("Port používá jiný program: %1 (PID %2).")
            .arg(state.program, state.pid);
    case RSCOM_CONSOLE:
        return QStringLiteral("Port je systémová konzole.");
    case RSCOM_NOT_SERIAL:
        return QStringLiteral("Není to sériový port s řídicími signály.");
    default:
        return QStringLiteral("Port nelze otevřít.");
    }
}

namespace
{

std::array<bool, kLast + 1> &found()
{
    static std::array<bool, kLast + 1> ports{};
    return ports;
}

} // namespace

bool foundAvailable(int port)
{
    return port >= kFirst && port <= kLast && found()[static_cast<std::size_t>(port)];
}

void probe(const std::function<void(int port)> &disableOption,
           const std::function<void(int port, const QString &text)> &describeOption,
           QString &unavailablePorts)
{
    static const char *const fragments[] = {"", "1,", " 2,", " 3,", " 4,", " 5 "};
    unavailablePorts.clear();
    // Asking opens nothing; opening moves DTR and RTS, and keeps the port.
    std::optional<State> known = state(kFirst);
    const bool asking = known.has_value();
    for (int n = kFirst; n <= kLast; ++n) {
        bool available = false;
        if (asking) {
            if (n != kFirst) known = state(n);
            available = known && known->code == RSCOM_AVAILABLE;
            if (known) describeOption(n, description(*known));
        } else {
            available = Modul1::opened(Modul1::OPENCOM(settings(n)));
        }
        found()[static_cast<std::size_t>(n)] = available;
        if (available) continue;
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
