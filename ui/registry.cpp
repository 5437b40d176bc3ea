#include "registry.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QEventLoop>

namespace Registry
{

namespace
{

std::array<QPointer<Window>, kSlotCount> g_slots;

std::function<void()> &programEnd()
{
    static std::function<void()> end = [] { QCoreApplication::exit(0); };
    return end;
}

// Empties the window's slot at once; the object goes when control is back in
// the event loop, so a window may destroy itself from its own handler.
void discard(Window *window)
{
    for (QPointer<Window> &s : g_slots) {
        if (s == window) s.clear();
    }
    window->hide();
    emit window->unloaded();
    window->deleteLater();
}

bool inSlot(const Window *window)
{
    for (const QPointer<Window> &s : g_slots) {
        if (s == window) return true;
    }
    return false;
}

} // namespace

QPointer<Window> &slot(Slot which)
{
    return g_slots[which];
}

void show(Window *window)
{
    window->show();
    window->raise();
    window->activateWindow();
}

void showModal(Window *window)
{
    QPointer<Window> guard(window);
    QEventLoop loop;
    QObject::connect(window, &Window::unloaded, &loop, &QEventLoop::quit);
    window->setWindowModality(Qt::ApplicationModal);
    show(window);
    if (guard && inSlot(window)) loop.exec();
}

void unload(Window *window)
{
    if (!inSlot(window)) return;
    if (!window->Form_QueryUnload()) return;
    // The close request may have ended the program, which destroyed this
    // window already.
    if (!inSlot(window)) return;
    window->Form_Unload();
    if (inSlot(window)) discard(window);
}

void endProgram()
{
    for (QPointer<Window> &s : g_slots) {
        if (s) discard(s.data());
    }
    programEnd()();
}

void setProgramEnd(std::function<void()> end)
{
    programEnd() = std::move(end);
}

} // namespace Registry

void Window::closeEvent(QCloseEvent *event)
{
    // The registry decides; Qt only reports the request.
    event->ignore();
    Registry::unload(this);
}
