// The "Port" frame with the options COM 1 ... COM 5, as the chooser and the
// dialog both have it, and what both do when a port cannot be opened.
#pragma once

#include "widgets.h"

#include <array>

class QRadioButton;

class PortFrame : public Frame
{
    Q_OBJECT

public:
    // The frame at left, top (twips) on the window; its options are
    // Option1 ... Option5, none marked.
    PortFrame(QWidget *window, int left, int top);

    QRadioButton *option(int port) const { return m_options[port - 1]; }

    // Marks option `port` as a click does: its handler runs if it was not
    // marked yet.
    void mark(int port);
    bool isMarked(int port) const;
    int markedPort() const; // 0 when none is marked

    void disable(int port);
    // The option's tooltip: what the port is, and why it cannot be used.
    void describe(int port, const QString &text);

    // Finds out which ports can be opened: disables the options of those
    // that cannot, and lists them in unavailablePorts.
    void probe(QString &unavailablePorts);

    // Opens `port` for a selection. When the driver refuses it: tells the
    // user, disables and unmarks its option, marks again the port that was
    // selected before (if any) and returns false.
    bool select(int port);

    // The port cannot be opened: tells the user (and why, when the driver
    // can tell), disables and unmarks its option, and forgets it as the
    // selected port.
    void reject(int port);

private:
    void unmark(int port);

    std::array<QRadioButton *, 5> m_options{};
    int m_selected = 0;
};
