#include "form2.h"

#include "form1.h"
#include "form3.h"
#include "look.h"
#include "messagebox.h"
#include "modul1.h"
#include "portframe.h"
#include "ports.h"

#include <QPushButton>
#include <QRadioButton>

Form2::Form2()
{
    setObjectName(QStringLiteral("Form2"));
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setWindowTitle(QStringLiteral("Vyber port"));
    setFont(Look::sansSerif());
    Look::colour(this, Look::kBlack, Look::kBlack);
    setFixedSize(Look::px(1470), Look::px(2655));

    Frame1 = new PortFrame(this, 120, 120);

    Command1 = new QPushButton(QStringLiteral("OK >>"), this);
    Command1->setObjectName(QStringLiteral("Command1"));
    Look::place(Command1, 120, 1800, 1215, 375);
    Command1->setEnabled(false);
    Command1->setToolTip(QStringLiteral("Kliknutím otevřete port"));

    Command2 = new QPushButton(QStringLiteral("O programu"), this);
    Command2->setObjectName(QStringLiteral("Command2"));
    Look::place(Command2, 120, 2160, 1215, 375);

    setTabOrder(Frame1->option(1), Frame1->option(2));
    setTabOrder(Frame1->option(2), Frame1->option(3));
    setTabOrder(Frame1->option(3), Command1);
    setTabOrder(Command1, Command2);
    setTabOrder(Command2, Frame1->option(4));
    setTabOrder(Frame1->option(4), Frame1->option(5));

    connect(Frame1->option(1), &QAbstractButton::toggled, this, &Form2::Option1_Click);
    connect(Frame1->option(2), &QAbstractButton::toggled, this, &Form2::Option2_Click);
    connect(Frame1->option(3), &QAbstractButton::toggled, this, &Form2::Option3_Click);
    connect(Frame1->option(4), &QAbstractButton::toggled, this, &Form2::Option4_Click);
    connect(Frame1->option(5), &QAbstractButton::toggled, this, &Form2::Option5_Click);
    connect(Command1, &QAbstractButton::clicked, this, &Form2::Command1_Click);
    connect(Command2, &QAbstractButton::clicked, this, &Form2::Command2_Click);
}

void Form2::Form_Load()
{
    Frame1->probe(UnavailablePorts);
}

void Form2::markOption(int port)
{
    Frame1->mark(port);
}

bool Form2::isMarked(int port) const
{
    return Frame1->isMarked(port);
}

void Form2::Option1_Click(bool marked)
{
    if (marked) OptionClick(1);
}
void Form2::Option2_Click(bool marked)
{
    if (marked) OptionClick(2);
}
void Form2::Option3_Click(bool marked)
{
    if (marked) OptionClick(3);
}
void Form2::Option4_Click(bool marked)
{
    if (marked) OptionClick(4);
}
void Form2::Option5_Click(bool marked)
{
    if (marked) OptionClick(5);
}

void Form2::OptionClick(int port)
{
    if (!Frame1->select(port)) return;
    Command1->setEnabled(true);
    Registry::get<Form1>()->setPortTitle(port);
    Registry::get<Form3>()->markOption(port);
}

void Form2::Command1_Click()
{
    OkPressed = true;
    for (int n = Port::kFirst; n <= Port::kLast; ++n) {
        if (!Frame1->isMarked(n)) continue;
        if (!Modul1::opened(Modul1::OPENCOM(Port::settings(n)))) {
            // Gone since it was marked: say so and let the user choose again.
            OkPressed = false;
            Frame1->reject(n);
            Command1->setEnabled(false);
            return;
        }
        showMessage(Port::openedMessage(n));
    }
    Registry::unload(this);
    Registry::show(Registry::get<Form1>());
}

void Form2::Command2_Click()
{
    Registry::showModal(Registry::get<Form3>());
}

bool Form2::Form_QueryUnload()
{
    if (!OkPressed) Registry::endProgram();
    return true;
}
