#include "portframe.h"

#include "look.h"
#include "messagebox.h"
#include "modul1.h"
#include "ports.h"

#include <QRadioButton>

PortFrame::PortFrame(QWidget *window, int left, int top) : Frame(QStringLiteral("Port"), window)
{
    setObjectName(QStringLiteral("Frame1"));
    Look::place(this, left, top, 1215, 1575);
    for (int n = Port::kFirst; n <= Port::kLast; ++n) {
        auto *option = new QRadioButton(QStringLiteral("COM %1").arg(n), this);
        option->setObjectName(QStringLiteral("Option%1").arg(n));
        Look::place(option, 120, 240 * n, 855, 255);
        m_options[n - 1] = option;
    }
}

void PortFrame::mark(int port)
{
    option(port)->setChecked(true);
}

bool PortFrame::isMarked(int port) const
{
    return option(port)->isChecked();
}

int PortFrame::markedPort() const
{
    for (int n = Port::kFirst; n <= Port::kLast; ++n) {
        if (isMarked(n)) return n;
    }
    return 0;
}

void PortFrame::disable(int port)
{
    option(port)->setEnabled(false);
}

void PortFrame::describe(int port, const QString &text)
{
    option(port)->setToolTip(text);
}

void PortFrame::probe(QString &unavailablePorts)
{
    Port::probe([this](int port) { disable(port); },
                [this](int port, const QString &text) { describe(port, text); }, unavailablePorts);
}

bool PortFrame::select(int port)
{
    if (Modul1::opened(Modul1::OPENCOM(Port::settings(port)))) {
        m_selected = port;
        return true;
    }
    const int previous = m_selected;
    reject(port);
    if (previous != 0 && previous != port) mark(previous);
    return false;
}

void PortFrame::reject(int port)
{
    if (m_selected == port) m_selected = 0;
    // Why, when the driver can tell: then the option says it too.
    QString why;
    if (const std::optional<Port::State> state = Port::state(port)) {
        why = Port::reason(*state);
        describe(port, Port::description(*state));
    }
    showMessage(Port::refusedMessage(port, why), true);
    disable(port);
    unmark(port);
}

// One of an exclusive group cannot be unmarked by itself.
void PortFrame::unmark(int port)
{
    QRadioButton *button = option(port);
    button->setAutoExclusive(false);
    button->setChecked(false);
    button->setAutoExclusive(true);
}
