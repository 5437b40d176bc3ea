// The wiring test's window: which output of the monitor's port (and of the
// port at the other end of a cable) reaches which input, and what wiring
// that is.
#pragma once

#include "registry.h"

#include <memory>

class QComboBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class DriverLines;
class WiringTest;

class Form5 final : public Window
{
    Q_OBJECT

public:
    static constexpr Registry::Slot kSlot = Registry::kForm5;

    Form5();
    ~Form5() override;

    void Form_Load() override;
    void Form_Unload() override;

    // The monitor selected port n: "Test zapojení - COMn". A test still
    // running ends, its outputs restored.
    void setPortTitle(int port);

    bool running() const;

protected:
    void showEvent(QShowEvent *event) override;

private:
    void Command1_Click();
    void finish(const QStringList &result);
    void stop();
    void restore();
    void fillChoice();

    QLabel *Label1;
    QComboBox *Combo1;
    QPushButton *Command1;
    QPlainTextEdit *Text1;

    class EventClock;
    std::unique_ptr<DriverLines> m_lines;
    std::unique_ptr<EventClock> m_clock;
    std::unique_ptr<WiringTest> m_test;
    int m_other = 0; // the other end's port in the test, 0 none
};
