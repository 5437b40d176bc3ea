#include "messagebox.h"

#include "look.h"

#include <QMessageBox>
#include <QPushButton>

void showMessage(const QString &text, bool warning)
{
    QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::NoIcon, Look::kProductName, text,
                    QMessageBox::Ok);
    box.exec();
}

bool askYesNo(const QString &text)
{
    QMessageBox box(QMessageBox::Question, Look::kProductName, text);
    QPushButton *yes = box.addButton(QStringLiteral("Ano"), QMessageBox::YesRole);
    box.setDefaultButton(box.addButton(QStringLiteral("Ne"), QMessageBox::NoRole));
    box.exec();
    return box.clickedButton() == yes;
}
