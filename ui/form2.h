// The port chooser: the program's first window. It probes the five ports,
// lets the user mark one, confirms it and hands over to the line monitor.
#pragma once

#include "registry.h"

class PortFrame;
class QPushButton;

class Form2 final : public Window
{
    Q_OBJECT

public:
    static constexpr Registry::Slot kSlot = Registry::kForm2;

    Form2();

    void Form_Load() override;
    bool Form_QueryUnload() override;

    // Marks option `port` as the user would; its handler runs if it was not
    // marked yet.
    void markOption(int port);
    bool isMarked(int port) const;

private:
    void Option1_Click(bool marked);
    void Option2_Click(bool marked);
    void Option3_Click(bool marked);
    void Option4_Click(bool marked);
    void Option5_Click(bool marked);
    void OptionClick(int port);
    void Command1_Click();
    void Command2_Click();

    PortFrame *Frame1;
    QPushButton *Command1, *Command2;

    bool OkPressed = false;
    QString UnavailablePorts;
};
