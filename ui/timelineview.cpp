#include "timelineview.h"

#include "linerecord.h"
#include "look.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QWheelEvent>

#include <algorithm>
#include <climits>
#include <cmath>

namespace
{

constexpr int kLabelWidth = 40; // the rows' names
constexpr int kTopHeight = 14;  // the port switches' names
constexpr int kAxisHeight = 20; // the time axis
// Room either side of a partly repainted strip for text that reaches into it.
constexpr int kTextReach = 60;

inline const QColor kTrace = Look::kWhite;
inline const QColor kUnknown{72, 72, 72};
inline const QColor kRule{96, 96, 96};

// Seconds as the axis writes them, with as many decimals as its step needs.
QString secondsText(double seconds, int decimals)
{
    return QString::number(seconds, 'f', decimals) + QStringLiteral(" s");
}

} // namespace

TimelineView::TimelineView(LineRecord &record, QWidget *parent) : QWidget(parent), m_record(record)
{
    setMouseTracking(true);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_OpaquePaintEvent);
    setMinimumSize(kLabelWidth + 100, kTopHeight + kAxisHeight + 7 * 12);
    setFont(Look::sansSerif());
    setRight(pixel(LineRecord::now()));
}

QRect TimelineView::plotRect() const
{
    return QRect(kLabelWidth, kTopHeight, std::max(1, width() - kLabelWidth),
                 std::max(1, height() - kTopHeight - kAxisHeight));
}

double TimelineView::span() const
{
    return m_span;
}

std::int64_t TimelineView::pixel(std::int64_t time) const
{
    const double perPixel = m_span / plotRect().width();
    return static_cast<std::int64_t>(std::floor((time - m_record.originTime()) / perPixel));
}

int TimelineView::column(std::int64_t time) const
{
    const std::int64_t x = plotRect().right() - (m_right - pixel(time));
    return static_cast<int>(std::clamp<std::int64_t>(x, INT_MIN / 2, INT_MAX / 2));
}

std::int64_t TimelineView::timeAt(int x) const
{
    const double perPixel = m_span / plotRect().width();
    return m_record.originTime() +
           static_cast<std::int64_t>(std::ceil((m_right - (plotRect().right() - x)) * perPixel));
}

std::int64_t TimelineView::leftTime() const
{
    return timeAt(plotRect().left());
}

std::int64_t TimelineView::rightTime() const
{
    return timeAt(plotRect().right() + 1);
}

// The right edge never goes past now, nor the left edge before the
// record's start when the record is longer than the view.
void TimelineView::setRight(std::int64_t rightPixel)
{
    const std::int64_t last = pixel(LineRecord::now());
    const std::int64_t first = pixel(m_record.startTime()) + plotRect().width() - 1;
    m_right = std::min(std::max(rightPixel, first), last);
}

void TimelineView::setLive()
{
    m_live = true;
    setRight(pixel(LineRecord::now()));
    update();
    emit moved(true);
}

void TimelineView::showUntil(std::int64_t time)
{
    m_live = false;
    setRight(pixel(time));
    update();
    emit moved(true);
}

void TimelineView::zoom(double factor, int x)
{
    const double span = std::clamp(m_span * factor, kSpanMin, kSpanMax);
    if (span == m_span) return;
    // Live, the right edge stays now; otherwise the time under the pointer
    // stays under it.
    const int anchor =
        m_live ? plotRect().right() + 1 : std::clamp(x, plotRect().left(), plotRect().right());
    const std::int64_t time = timeAt(anchor);
    m_span = span;
    setRight(pixel(time) + (plotRect().right() + 1 - anchor));
    if (m_live) setRight(pixel(LineRecord::now()));
    update();
    emit moved(true);
}

void TimelineView::resizeEvent(QResizeEvent *event)
{
    // The span stays; the right edge stays where it was in time.
    QWidget::resizeEvent(event);
    setRight(m_live ? pixel(LineRecord::now()) : pixel(rightTime()));
    emit moved(true);
}

void TimelineView::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    m_frames.start(kFrameMilliseconds, this);
    if (m_live) setRight(pixel(LineRecord::now()));
}

void TimelineView::hideEvent(QHideEvent *event)
{
    m_frames.stop();
    QWidget::hideEvent(event);
}

void TimelineView::timerEvent(QTimerEvent *event)
{
    if (event->timerId() == m_frames.timerId())
        frame();
    else
        QWidget::timerEvent(event);
}

// One frame: the drawing moves by whole columns, and what came into the
// record is drawn again from its time on. Nothing moved, nothing is drawn.
void TimelineView::frame()
{
    const std::int64_t changed = m_record.takeChangedFrom();
    const QRect plot = plotRect();
    std::int64_t shift = 0;
    if (m_live) {
        const std::int64_t right = pixel(LineRecord::now());
        shift = right - m_right;
        m_right = right;
    }
    if (shift == 0 && changed == LineRecord::kNothing) return;
    if (shift != 0) emit moved(false);
    const QRect moving(plot.left(), 0, plot.width(), height());
    if (m_hoverX >= 0 || shift >= plot.width()) {
        update();
        return;
    }
    if (shift > 0) scroll(static_cast<int>(-shift), 0, moving);
    if (changed != LineRecord::kNothing) {
        // The level of a line is drawn on to now: a change that came later
        // than its time redraws the drawing from there.
        const int from = std::max(column(changed) - 1, plot.left());
        if (from <= plot.right()) update(QRect(from, 0, plot.right() + 1 - from, height()));
    }
}

int TimelineView::rowHeight() const
{
    return std::max(1, plotRect().height() / LineRecord::kLineCount);
}

int TimelineView::rowTop(int row) const
{
    return plotRect().top() + row * rowHeight();
}

void TimelineView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QRect clip = event->rect();
    painter.fillRect(clip, Look::kBlack);

    if (clip.left() < kLabelWidth) {
        painter.setPen(Look::kOrange);
        for (int row = 0; row < LineRecord::kLineCount; ++row) {
            painter.drawText(
                QRect(4, rowTop(row), kLabelWidth - 8, rowHeight()),
                Qt::AlignLeft | Qt::AlignVCenter,
                QString::fromLatin1(LineRecord::kNames[static_cast<std::size_t>(row)]));
        }
    }
    const QRect plotClip = clip.intersected(QRect(kLabelWidth, 0, width() - kLabelWidth, height()));
    if (plotClip.isEmpty() || !m_record.started()) return;
    painter.setClipRect(plotClip);
    paintAxis(painter, plotClip);
    paintRows(painter, plotClip);
    if (m_hoverX >= kLabelWidth) paintCursor(painter);
}

void TimelineView::paintAxis(QPainter &painter, const QRect &clip) const
{
    const QRect plot = plotRect();
    const double perPixel = m_span / plot.width();
    // A step of 1, 2 or 5 times a power of ten, at least 80 columns apart.
    double step = std::pow(10.0, std::floor(std::log10(perPixel * 80)));
    for (double times : {1.0, 2.0, 5.0, 10.0}) {
        if (step * times >= perPixel * 80) {
            step *= times;
            break;
        }
    }
    const int decimals = std::max(0, static_cast<int>(std::ceil(-std::log10(step / 1e6) - 1e-9)));
    const int y = plot.bottom() + 1;
    painter.setPen(kRule);
    painter.drawLine(clip.left(), y, clip.right(), y);
    // Nothing before the first port opening, time 0.
    const std::int64_t from =
        std::max<std::int64_t>(timeAt(clip.left() - kTextReach) - m_record.originTime(), 0);
    const std::int64_t to = timeAt(clip.right() + kTextReach) - m_record.originTime();
    for (double t = std::ceil(from / step) * step; t <= to; t += step) {
        const int x = column(m_record.originTime() + static_cast<std::int64_t>(std::llround(t)));
        painter.setPen(kRule);
        painter.drawLine(x, y, x, y + 3);
        painter.setPen(Look::kSilver);
        painter.drawText(QRect(x - kTextReach, y + 3, 2 * kTextReach, kAxisHeight - 3),
                         Qt::AlignHCenter | Qt::AlignTop, secondsText(t / 1e6, decimals));
    }
}

void TimelineView::paintRows(QPainter &painter, const QRect &clip) const
{
    const QRect plot = plotRect();
    const int left = std::max(clip.left(), column(m_record.startTime()));
    const int end = std::min(clip.right(), column(LineRecord::now()));
    if (left > end) return;
    const int rowH = rowHeight();
    const int margin = std::max(2, rowH / 6);

    struct Trace {
        int level;
        int from; // where the level's stretch began
        int column = INT_MIN;
        bool swung = false; // the column's rise or fall is drawn
    };
    const std::int64_t fromTime = timeAt(left);
    int port = 0;
    const LineRecord::Levels start = m_record.levelsAt(fromTime - 1, &port);
    Trace traces[LineRecord::kLineCount];
    for (int line = 0; line < LineRecord::kLineCount; ++line)
        traces[line] = Trace{start[static_cast<std::size_t>(line)], left};

    auto stretch = [&](int line, const Trace &trace, int to) {
        if (to < trace.from) return;
        const int top = rowTop(line);
        if (trace.level < 0) {
            painter.fillRect(
                QRect(trace.from, top + margin, to - trace.from + 1, rowH - 2 * margin), kUnknown);
        } else {
            const int y = trace.level == 1 ? top + margin : top + rowH - margin - 1;
            painter.setPen(kTrace);
            painter.drawLine(trace.from, y, to, y);
        }
    };
    auto swing = [&](int line, int x) {
        const int top = rowTop(line);
        painter.setPen(kTrace);
        painter.drawLine(x, top + margin, x, top + rowH - margin - 1);
    };

    // Port switches whose names reach into the strip are looked at too.
    const std::int64_t toTime = timeAt(end + 1);
    for (std::size_t i = m_record.lowerBound(timeAt(left - kTextReach)); i < m_record.size(); ++i) {
        const LineRecord::Change &c = m_record.at(i);
        if (c.time >= toTime) break;
        const int x = column(c.time);
        if (c.kind == LineRecord::kPort) {
            painter.setPen(Look::kSilver);
            painter.drawLine(x, 0, x, plot.bottom());
            painter.drawText(QRect(x + 3, 0, kTextReach, kTopHeight),
                             Qt::AlignLeft | Qt::AlignVCenter, QStringLiteral("COM%1").arg(c.port));
            continue;
        }
        if (c.time < fromTime) continue;
        Trace &trace = traces[c.line];
        if (x != trace.column) {
            stretch(c.line, trace, x - 1);
            trace.from = x;
            trace.column = x;
            trace.swung = false;
        }
        if (c.kind == LineRecord::kJump) {
            // Changes the driver counted but could not time: hatched.
            const int top = rowTop(c.line);
            painter.fillRect(QRect(x - 3, top + 1, 7, rowH - 2),
                             QBrush(Look::kOrange, Qt::BDiagPattern));
        }
        if (!trace.swung && trace.level >= 0 && c.level >= 0 && trace.level != c.level) {
            // However many changes fall into one column, it shows one swing:
            // a pulse narrower than a column is a column wide.
            swing(c.line, x);
            trace.swung = true;
        }
        trace.level = c.level;
    }
    for (int line = 0; line < LineRecord::kLineCount; ++line) {
        Trace &trace = traces[line];
        // A column that held changes starts its last level after its swing.
        stretch(line, trace, end);
    }
}

void TimelineView::paintCursor(QPainter &painter) const
{
    const QRect plot = plotRect();
    const int x = m_hoverX;
    painter.setClipping(false);
    painter.setPen(Look::kOrange);
    painter.drawLine(x, 0, x, plot.bottom());
    const std::int64_t time = timeAt(x);
    const LineRecord::Levels levels = m_record.levelsAt(time);
    const QFontMetrics metrics(font());
    const bool flip = x + 90 > width();
    for (int line = 0; line < LineRecord::kLineCount; ++line) {
        const QString text = QString::number(levels[static_cast<std::size_t>(line)]);
        const int w = metrics.horizontalAdvance(text) + 6;
        const QRect box(flip ? x - w - 2 : x + 3, rowTop(line), w, rowHeight());
        painter.fillRect(box.adjusted(0, 2, 0, -2), Look::kBlack);
        painter.drawText(box, Qt::AlignCenter, text);
    }
    const QString when =
        QString::number((time - m_record.originTime()) / 1e6, 'f', 6) + QStringLiteral(" s");
    const int w = metrics.horizontalAdvance(when) + 8;
    const QRect box(flip ? x - w - 2 : x + 3, 0, w, kTopHeight);
    painter.fillRect(box, Look::kBlack);
    painter.drawText(box, Qt::AlignCenter, when);
}

void TimelineView::wheelEvent(QWheelEvent *event)
{
    const double steps = event->angleDelta().y() / 120.0;
    if (steps == 0) return;
    zoom(std::pow(1.25, -steps), static_cast<int>(event->position().x()));
    event->accept();
}

void TimelineView::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    m_dragX = static_cast<int>(event->position().x());
    m_dragRight = m_right;
}

void TimelineView::mouseMoveEvent(QMouseEvent *event)
{
    const int x = static_cast<int>(event->position().x());
    if (m_dragX >= 0 && (event->buttons() & Qt::LeftButton) && x != m_dragX) {
        m_live = false;
        setRight(m_dragRight - (x - m_dragX));
        emit moved(true);
    }
    m_hoverX = plotRect().contains(x, plotRect().top()) ? x : -1;
    update();
}

void TimelineView::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton) m_dragX = -1;
    QWidget::mouseReleaseEvent(event);
}

void TimelineView::leaveEvent(QEvent *event)
{
    m_hoverX = -1;
    update();
    QWidget::leaveEvent(event);
}
