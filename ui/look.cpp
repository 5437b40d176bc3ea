#include "look.h"

#include <QGroupBox>
#include <QWidget>

namespace Look
{

void place(QWidget *widget, int left, int top, int width, int height)
{
    widget->setGeometry(px(left), px(top), px(width), px(height));
}

QFont sansSerif(double points, bool bold)
{
    QFont font(sansSerifFamily());
    font.setPointSizeF(points);
    font.setBold(bold);
    return font;
}

void colour(QWidget *widget, const QColor &background, const QColor &text)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, background);
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, kGrey);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void textColour(QWidget *widget, const QColor &text)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, text);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, kGrey);
    widget->setPalette(palette);
}

void frame(QGroupBox *box)
{
    colour(box, kBlack, kOrange);
}

} // namespace Look
