// The timeline: all seven lines of the monitor's record over time, live or
// looked back at, and saved as a Value Change Dump or CSV.
#pragma once

#include "registry.h"

#include <QElapsedTimer>

class Lines;
class QPushButton;
class QScrollBar;
class TimelineView;

class Form4 final : public Window
{
    Q_OBJECT

public:
    static constexpr Registry::Slot kSlot = Registry::kForm4;

    Form4();

    void Form_Load() override;

    // The monitor selected port n: "Průběh signálů - COMn".
    void setPortTitle(int port);

    // Writes the whole record to `path`, as CSV when it ends in ".csv" and
    // as a Value Change Dump otherwise; whole or not at all. A failure is
    // shown in a warning box and gives false.
    bool saveTo(const QString &path);

    TimelineView *view() const { return Picture1; }

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void Command1_Click();
    void HScroll1_Change(int value);
    void showRange(bool byUser = true);

    // The monitor's: what the lines did.
    Lines &m_lines;
    TimelineView *Picture1;
    QScrollBar *HScroll1;
    QPushButton *Command1;
    QElapsedTimer m_barShown;
    static constexpr int kBarMilliseconds = 1000;
};
