// Small controls the windows need and Qt does not have as such.
#pragma once

#include <QColor>
#include <QGroupBox>
#include <QLabel>
#include <QWidget>

#include <memory>
#include <vector>

class ServerFill;

// A label that reports a click, as the dialog's expand toggle and web link.
class ClickLabel : public QLabel
{
    Q_OBJECT

public:
    using QLabel::QLabel;

signals:
    void clicked();

protected:
    void mouseReleaseEvent(QMouseEvent *event) override;
};

// A frame as the windows show it: a thin grey rule with the caption on it at
// the top left, on the window's black.
class Frame : public QGroupBox
{
    Q_OBJECT

public:
    Frame(const QString &caption, QWidget *parent);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A filled rectangle with a one-pixel border: the monitor's activity
// indicator. Where it can, the display server draws the fill (see
// ServerFill), so that a change of colour costs no repaint.
class IndicatorBar : public QWidget
{
    Q_OBJECT

public:
    IndicatorBar(const QColor &fill, const QColor &border, QWidget *parent);

    ~IndicatorBar() override;

    QColor fillColor() const { return m_fill; }
    void setFillColor(const QColor &fill);

    // Whether the display server draws the fill at present, rather than the
    // widget's own painting.
    bool serverFilled() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QColor m_fill;
    QColor m_border;
    std::unique_ptr<ServerFill> m_serverFill;
};

// Straight lines drawn on a window, in twips: the dialog's logo and rule.
class LineArt : public QWidget
{
    Q_OBJECT

public:
    struct Line {
        int x1, y1, x2, y2; // twips
        QColor colour;
        int width; // pixels
    };

    LineArt(std::vector<Line> lines, QWidget *parent);

    const std::vector<Line> &lines() const { return m_lines; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    std::vector<Line> m_lines;
};
