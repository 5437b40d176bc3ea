// The line monitor: shows DCD, DSR, CTS and RI of the current port at every
// tick and drives TxD, DTR and RTS from its three toggles.
#pragma once

#include "lines.h"
#include "registry.h"

#include <QBasicTimer>

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

class IndicatorBar;
class PollTimer;
class QGroupBox;
class QLabel;
class QPushButton;

class Form1 final : public Window
{
    Q_OBJECT

public:
    static constexpr Registry::Slot kSlot = Registry::kForm1;

    Form1();

    // A port was selected: the title names it ("Lintara - COMn"), the window
    // remembers it, and the toggles' states go to the port now current, so
    // that the lines are what the toggles show.
    void setPortTitle(int port);
    // The port the title names; 0 before any selection.
    int port() const { return m_port; }

    int interval() const;
    void setInterval(int milliseconds);

    // The wiring test drives the lines meanwhile: the read-outs and the bar
    // stand still, and a toggle the user clicks only changes its caption
    // until resume() makes the monitor's port current again and sends the
    // toggles' states to it.
    void pause();
    void resume();
    // The level toggle 0 to 2 (TxD, DTR, RTS) shows.
    std::int16_t output(int toggle) const;

    // What the lines did since the first port was opened: the timeline
    // draws and saves it, and it outlives the timeline's window.
    Lines &lines() { return m_lines; }

    // Whether read-out 0 to 3 (DCD, DSR, CTS, RI) marks a pulse that the
    // reads missed: its digit is orange for a second.
    bool marked(int input) const { return m_mark[static_cast<std::size_t>(input)].isActive(); }

    void Form_Unload() override;

    // A missed pulse keeps its read-out orange this long from its tick.
    static constexpr int kMarkMilliseconds = 1000;
    // Edges taken at once; a full buffer is followed by another call.
    static constexpr std::int16_t kEdgesAtOnce = 256;

protected:
    void contextMenuEvent(QContextMenuEvent *event) override;
    void timerEvent(QTimerEvent *event) override;

private:
    void Check1_Click();
    void Check2_Click();
    void Check3_Click();
    void Timer1_Timer();
    void Command1_Click();

    void showLevel(QLabel *label, std::int16_t &shown, std::int16_t level);
    void sendToggle(QPushButton *toggle, int line, void (*send)(std::int16_t));
    std::optional<std::int16_t> takeEdges(std::vector<Modul1::Edge> &edges);
    void showTick(const Lines::Tick &tick);
    void showCounts();
    void mark(int input);
    void showTimeline();
    void showWiring();
    void sendToggles();

    QGroupBox *Frame1, *Frame2, *Frame3, *Frame4, *Frame6, *Frame7, *Frame8;
    QPushButton *Check1, *Check2, *Check3;
    IndicatorBar *Shape1;
    QLabel *Label1, *Label3, *Label4, *Label5;
    QPushButton *Command1;
    PollTimer *Timer1;

    bool BlinkOn = false;
    bool m_paused = false;
    int m_port = 0;
    // The levels the read-outs show: DCD, DSR, CTS, RI.
    Lines::Reads m_shown{};

    Lines m_lines;
    std::array<QLabel *, 4> m_readouts{};
    std::array<QBasicTimer, 4> m_mark;
};
