#include "messagebox.h"

#include "look.h"

#include <QMessageBox>

void showMessage(const QString &text, bool warning)
{
    QMessageBox box(warning ? QMessageBox::Warning : QMessageBox::NoIcon, Look::kProductName, text,
                    QMessageBox::Ok);
    box.exec();
}
