// The window registry: one slot per window. Touching a window that does not
// exist creates it hidden and runs its load; destroying it empties its slot,
// and the next touch creates it anew.
#pragma once

#include "window.h"

#include <QPointer>

#include <array>
#include <functional>

namespace Registry
{

enum Slot { kForm1, kForm2, kForm3, kForm4, kForm5, kSlotCount };

QPointer<Window> &slot(Slot which);

// The window in W's slot, created hidden (and loaded) if the slot is empty.
// W names its slot as `static constexpr Registry::Slot kSlot`.
template <class W> W *get()
{
    QPointer<Window> &s = slot(W::kSlot);
    if (s.isNull()) {
        auto *window = new W;
        // Filled before the load runs, so that windows touched by the load
        // reach this one and do not make another.
        s = window;
        window->Form_Load();
    }
    return static_cast<W *>(s.data());
}

// Whether W's window exists, without creating it.
template <class W> bool exists()
{
    return !slot(W::kSlot).isNull();
}

void show(Window *window);

// Shows the window modally and returns when it has been closed. Timers of the
// other windows go on ticking meanwhile.
void showModal(Window *window);

// Closes a window as the user would: runs its close request and, when that
// agrees, its unload, then destroys it.
void unload(Window *window);

// Destroys every window at once, running no handler, and ends the program
// with exit status 0.
void endProgram();

// What ending the program does once the windows are gone; by default it
// leaves the event loop with status 0. Tests watch it here.
void setProgramEnd(std::function<void()> end);

} // namespace Registry
