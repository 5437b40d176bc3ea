// The drawing of the timeline: seven rows of levels over a time axis, with
// port switches, unknown levels, untimed changes and a hover cursor. Live,
// the right edge is now and only what moved is drawn again.
#pragma once

#include <QBasicTimer>
#include <QWidget>

#include <cstdint>

class LineRecord;

class TimelineView : public QWidget
{
    Q_OBJECT

public:
    explicit TimelineView(LineRecord &record, QWidget *parent = nullptr);

    // Across the drawing, in microseconds.
    static constexpr double kSpanAtStart = 10e6;
    static constexpr double kSpanMin = 10e3;
    static constexpr double kSpanMax = 3600e6;
    // Redraws of the live view, at most.
    static constexpr int kFrameMilliseconds = 50;

    bool live() const { return m_live; }
    void setLive();
    double span() const;
    // The times at the left and right edges of the drawing.
    std::int64_t leftTime() const;
    std::int64_t rightTime() const;
    // Moves the right edge to `time` and leaves the live view.
    void showUntil(std::int64_t time);
    // Zooms by `factor` (below 1 closer) around column x of the widget.
    void zoom(double factor, int x);

    // The drawing's columns: where time t lands, and the time of column x.
    int column(std::int64_t time) const;
    std::int64_t timeAt(int x) const;
    QRect plotRect() const;

signals:
    // The right edge or the span moved: by the user, or as time went on.
    void moved(bool byUser);

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void timerEvent(QTimerEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    std::int64_t pixel(std::int64_t time) const;
    void setRight(std::int64_t rightPixel);
    void frame();
    int rowTop(int row) const;
    int rowHeight() const;
    void paintAxis(QPainter &painter, const QRect &clip) const;
    void paintRows(QPainter &painter, const QRect &clip) const;
    void paintCursor(QPainter &painter) const;

    LineRecord &m_record;
    bool m_live = true;
    double m_span = kSpanAtStart; // microseconds across the drawing
    // The right edge as a column counted from the origin, in columns of
    // m_span / width: live scrolling moves it by whole columns, so that what
    // was drawn stays true where it moved to.
    std::int64_t m_right = 0;
    int m_hoverX = -1;
    int m_dragX = -1;
    std::int64_t m_dragRight = 0;
    QBasicTimer m_frames;
};
