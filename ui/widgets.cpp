#include "widgets.h"

#include "look.h"
#include "serverfill.h"

#include <QMouseEvent>
#include <QPainter>

#include <algorithm>

void ClickLabel::mouseReleaseEvent(QMouseEvent *event)
{
    QLabel::mouseReleaseEvent(event);
    if (event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        emit clicked();
}

Frame::Frame(const QString &caption, QWidget *parent) : QGroupBox(caption, parent)
{
    Look::frame(this);
}

void Frame::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // The painter's own metrics, and the wider of the advance and the ink,
    // which differ between font engines: no caption is cut short by its
    // own background. Nor is the text clipped.
    const QFontMetrics metrics = painter.fontMetrics();
    const int rule = metrics.height() / 2;
    painter.setPen(Look::kGrey);
    painter.drawRect(QRect(0, rule, width() - 1, height() - rule - 1));
    const int text =
        std::max(metrics.horizontalAdvance(title()), metrics.boundingRect(title()).right() + 1);
    const QRect caption(6, 0, text + 4, metrics.height());
    painter.fillRect(caption, palette().window());
    painter.setPen(
        palette().color(isEnabled() ? QPalette::Active : QPalette::Disabled, QPalette::WindowText));
    painter.drawText(caption, Qt::AlignCenter | Qt::TextDontClip, title());
}

IndicatorBar::IndicatorBar(const QColor &fill, const QColor &border, QWidget *parent)
    : QWidget(parent), m_fill(fill), m_border(border),
      m_serverFill(ServerFill::create(this, 1, fill))
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

IndicatorBar::~IndicatorBar() = default;

void IndicatorBar::setFillColor(const QColor &fill)
{
    if (fill == m_fill) return;
    m_fill = fill;
    if (!m_serverFill || !m_serverFill->setColour(fill)) update();
}

bool IndicatorBar::serverFilled() const
{
    return m_serverFill && m_serverFill->active();
}

// The whole bar, fill included: where the server draws the fill, its window
// covers the painted one. The border is a pixel wide at any scale, as the
// server's fill leaves it.
void IndicatorBar::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), m_border);
    painter.fillRect(rect().adjusted(1, 1, -1, -1), m_fill);
}

LineArt::LineArt(std::vector<Line> lines, QWidget *parent)
    : QWidget(parent), m_lines(std::move(lines))
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void LineArt::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    for (const Line &line : m_lines) {
        QPen pen(line.colour, line.width);
        pen.setCapStyle(Qt::SquareCap);
        painter.setPen(pen);
        painter.drawLine(Look::px(line.x1), Look::px(line.y1), Look::px(line.x2),
                         Look::px(line.y2));
    }
}
