// The program's look in one place: twips to pixels, the colours, the fonts.
#pragma once

#include <QColor>
#include <QFont>
#include <QString>

class QGroupBox;
class QWidget;

namespace Look
{

// Geometry is laid out in twips: 15 twips to a pixel at 96 dpi (Qt scales
// the pixels on denser screens).
constexpr int px(int twips)
{
    return (twips + 7) / 15;
}

// Puts a control at left, top with width and height, all in twips.
void place(QWidget *widget, int left, int top, int width, int height);

inline const QColor kBlack{0, 0, 0};
inline const QColor kWhite{255, 255, 255};
inline const QColor kSilver{192, 192, 192};
inline const QColor kOrange{255, 128, 0};
inline const QColor kDarkOrange{192, 64, 0};
inline const QColor kDarkRed{64, 0, 0};
inline const QColor kBrown{128, 64, 0};
inline const QColor kGrey{128, 128, 128};

// The windows' font, "MS Sans Serif", at the given size. 8.25 points is the
// windows' default.
QFont sansSerif(double points = 8.25, bool bold = false);

// The family sansSerif() asks for, as the platform names it (look_win.cpp,
// look_posix.cpp).
QString sansSerifFamily();

// Makes that family, where it is not installed, a font of the same metrics.
// Once, at start-up (Startup::prepare).
void installFonts();

// Sets a widget's background and text colours.
void colour(QWidget *widget, const QColor &background, const QColor &text);
void textColour(QWidget *widget, const QColor &text);
// A frame: orange caption on black.
void frame(QGroupBox *box);

// The product name, also the caption of the program's message boxes.
inline const QString kProductName = QStringLiteral("Lintara");

} // namespace Look
