// The indicator's fill drawn by the display server itself, where it can: a
// colour change is then a request of a few bytes instead of a repaint sent
// to the server as an image, which at the fastest polling rates is most of
// the program's work. Where the platform has no such thing the widget paints
// as any other.
#pragma once

#include <QColor>
#include <QRect>

#include <memory>

class QWidget;

class ServerFill
{
public:
    // A fill over `area` of the widget (its own coordinates), or nullptr.
    static std::unique_ptr<ServerFill> create(QWidget *widget, const QRect &area,
                                              const QColor &colour);
    virtual ~ServerFill() = default;
    virtual void setColour(const QColor &colour) = 0;
};
