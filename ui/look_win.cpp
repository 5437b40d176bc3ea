// The windows' font on Windows. "MS Sans Serif" is a bitmap font there, in a
// few sizes and without bold, which Qt does not draw; Windows itself maps the
// name to "Microsoft Sans Serif", the same face as an outline font, and so
// does the program. Wine has no "Microsoft Sans Serif" but its own outline
// "MS Sans Serif" (package fonts-wine), of the same metrics.
#include "look.h"

#include <QApplication>

namespace Look
{

QString sansSerifFamily()
{
    return QStringLiteral("Microsoft Sans Serif");
}

void installFonts()
{
    QFont::insertSubstitutions(QStringLiteral("Microsoft Sans Serif"),
                               {QStringLiteral("MS Sans Serif"), QStringLiteral("Tahoma"),
                                QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    // The message box in the windows' font too: Windows' dialog font, "MS
    // Shell Dlg", is a name only, which wine draws with a serif font.
    QApplication::setFont(sansSerif(), "QMessageBox");
}

} // namespace Look
