// The about and settings dialog. Collapsed it is the about box: the logo, the
// credit line that opens the project's page, and the settings toggle.
// Expanded it also holds the port options, the report of ports that cannot be
// opened, and the monitor's polling interval.
#pragma once

#include "registry.h"

class ClickLabel;
class LineArt;
class PortFrame;
class QLabel;
class QPushButton;

class Form3 final : public Window
{
    Q_OBJECT

public:
    static constexpr Registry::Slot kSlot = Registry::kForm3;

    // The credit line and the address it opens.
    static const QString kCredit;
    static const QString kHomePage;

    Form3();

    void Form_Load() override;

    // Marks option `port` as the user would; its handler runs if it was not
    // marked yet.
    void markOption(int port);

private:
    void Command1_Click();
    void Command2_Click();
    void Label1_Click();
    void Label2_Click();
    void Option1_Click(bool marked);
    void Option2_Click(bool marked);
    void Option3_Click(bool marked);
    void Option4_Click(bool marked);
    void Option5_Click(bool marked);
    void OptionClick(int port);

    void showInterval();

    LineArt *Lines;
    ClickLabel *Label1, *Label2;
    PortFrame *Frame1;
    QLabel *Label3, *Label4, *Label5, *Image1;
    QPushButton *Command1, *Command2;

    float Obnova = 0;
    bool SettingsShown = false;
    QString UnavailablePorts;
};
