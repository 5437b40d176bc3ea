// A window of the program: one instance at most, reached through the
// registry, created hidden with its design-time state and then loaded.
#pragma once

#include <QWidget>

class Window : public QWidget
{
    Q_OBJECT

public:
    using QWidget::QWidget;

    // Runs when the registry creates the window, after its design-time state
    // is built.
    virtual void Form_Load() {}

    // A request to close the window (the user's, the program's, the
    // system's). Returning false keeps the window.
    virtual bool Form_QueryUnload() { return true; }

    // The window is being closed and will be destroyed.
    virtual void Form_Unload() {}

signals:
    // The window left its slot: it is hidden and about to be deleted.
    void unloaded();

protected:
    void closeEvent(QCloseEvent *event) override;
};
