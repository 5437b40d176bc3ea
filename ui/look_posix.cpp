// The windows' font where there is no Windows: "MS Sans Serif" by its name,
// drawn by whichever font of its metrics is installed.
#include "look.h"

namespace Look
{

QString sansSerifFamily()
{
    return QStringLiteral("MS Sans Serif");
}

void installFonts()
{
    QFont::insertSubstitutions(QStringLiteral("MS Sans Serif"),
                               {QStringLiteral("Microsoft Sans Serif"),
                                QStringLiteral("Liberation Sans"), QStringLiteral("Arimo"),
                                QStringLiteral("DejaVu Sans")});
}

} // namespace Look
