// The program's message boxes.
#pragma once

#include <QString>

// A modal message box with the product's caption and an OK button; with a
// warning icon when `warning`, no icon otherwise. Returns when it is closed.
void showMessage(const QString &text, bool warning = false);

// A modal question with the product's caption and the buttons "Ano" and
// "Ne"; true for "Ano".
bool askYesNo(const QString &text);
