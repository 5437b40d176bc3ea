// The indicator's fill drawn by the display server itself, where it can: a
// colour change is then a request of a few bytes instead of a repaint sent
// to the server as an image, which at the fastest polling rates is most of
// the program's work. Where the platform has no such thing, or whenever the
// server's fill is not there, the widget paints the fill as any other.
#pragma once

#include <QColor>

#include <memory>

class QWidget;

class ServerFill
{
public:
    // Takes over the fill of `widget`, its rectangle less `inset` pixels on
    // every side, for as long as both live; nullptr where the platform cannot.
    // The fill follows the widget: where it is in its window, its size, the
    // device pixel ratio, whether it is shown, and the window's native window
    // when that is made anew. It makes no widget native. When the fill is
    // lost the widget is updated, so that it paints the fill itself.
    static std::unique_ptr<ServerFill> create(QWidget *widget, int inset, const QColor &colour);
    virtual ~ServerFill() = default;

    // Whether the server draws the fill at present.
    virtual bool active() const = 0;
    // The fill's colour from now on. Returns active(): when false, the widget
    // has to paint the new colour itself.
    virtual bool setColour(const QColor &colour) = 0;
};
