// The line monitor: shows DCD, DSR, CTS and RI of the current port at every
// tick and drives TxD, DTR and RTS from its three toggles.
#pragma once

#include "registry.h"

#include <array>
#include <cstdint>

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

    void Form_Unload() override;

private:
    void Check1_Click();
    void Check2_Click();
    void Check3_Click();
    void Timer1_Timer();
    void Command1_Click();

    void showLevel(QLabel *label, std::int16_t &shown, std::int16_t level);

    QGroupBox *Frame1, *Frame2, *Frame3, *Frame4, *Frame6, *Frame7, *Frame8;
    QPushButton *Check1, *Check2, *Check3;
    IndicatorBar *Shape1;
    QLabel *Label1, *Label3, *Label4, *Label5;
    QPushButton *Command1;
    PollTimer *Timer1;

    bool BlinkOn = false;
    int m_port = 0;
    // The levels the read-outs show: DCD, DSR, CTS, RI.
    std::array<std::int16_t, 4> m_shown{};
};
