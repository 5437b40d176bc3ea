// What the window tests share: the scriptable driver, a watcher that answers
// message boxes, and a clean registry for every test.
#pragma once

#include "fakedriver.h"
#include "registry.h"

#include <QMessageBox>
#include <QRadioButton>
#include <QTimer>

// Answers every message box that opens while it lives, after `delay` ms,
// and remembers what each said.
class BoxAnswerer : public QObject
{
    Q_OBJECT

public:
    explicit BoxAnswerer(int delay = 0);

    struct Box {
        QString caption, text;
        QMessageBox::Icon icon;
        int buttons;
    };
    QList<Box> boxes;
    QStringList texts() const;

private:
    void look();

    QTimer m_timer;
    int m_delay;
};

// Runs `open`, which brings up a modal window of the program (the dialog),
// runs `action` on that window once it is up, and closes it. False, for the
// test to fail, when no such window came up within `limit` ms; a modal
// window of another kind (a message box) is then closed, so that `open`
// returns.
[[nodiscard]] bool whileModal(const std::function<void()> &open,
                              const std::function<void(Window *)> &action, int limit = 5000);

class Harness
{
public:
    // Prepares the application as the program does (Startup::prepare).
    Harness();
    // Ends the program's windows as the program would, and forgets the calls.
    void reset();

    FakeDriver fake;
    int programEnds = 0;
};

template <class T> T *child(QWidget *window, const char *name)
{
    return window->findChild<T *>(QLatin1String(name));
}

// Option1 ... Option5 of a window's "Port" frame.
QRadioButton *portOption(QWidget *window, int port);

// Whether the window shows the program's icon.
bool hasProgramIcon(const QWidget *window);
