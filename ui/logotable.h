// Line-art logo of the about dialog, in twips: the program's name in large
// letters and a smaller word at the lower right.
#pragma once
#include <array>
struct LogoLine {
    int x1, y1, x2, y2;
    bool large; // true: orange, width 3; false: dark orange, width 2
};
// Line1 ... Line43, then Line45 (Line44 is the dialog's separator).
inline constexpr std::array<LogoLine, 44> kLogoLines{{
    // LINTARA
    {240, 120, 240, 1440, true},
    {240, 1440, 600, 1440, true},
    {850, 120, 850, 1440, true},
    {730, 120, 970, 120, true},
    {730, 1440, 970, 1440, true},
    {1100, 1440, 1100, 120, true},
    {1100, 120, 1520, 1440, true},
    {1520, 1440, 1520, 120, true},
    {1650, 120, 2070, 120, true},
    {1860, 120, 1860, 1440, true},
    {2200, 1440, 2200, 240, true},
    {2200, 240, 2320, 120, true},
    {2320, 120, 2500, 120, true},
    {2500, 120, 2620, 240, true},
    {2620, 240, 2620, 1440, true},
    {2200, 840, 2620, 840, true},
    {2750, 1440, 2750, 120, true},
    {2750, 120, 3050, 120, true},
    {3050, 120, 3170, 240, true},
    {3170, 240, 3170, 630, true},
    {3170, 630, 3050, 750, true},
    {3050, 750, 2750, 750, true},
    {2920, 750, 3170, 1440, true},
    {3300, 1440, 3300, 240, true},
    {3300, 240, 3420, 120, true},
    {3420, 120, 3600, 120, true},
    {3600, 120, 3720, 240, true},
    {3720, 240, 3720, 1440, true},
    {3300, 840, 3720, 840, true},
    // PORT
    {2370, 2280, 2370, 1740, false},
    {2370, 1740, 2640, 1740, false},
    {2640, 1740, 2640, 2010, false},
    {2640, 2010, 2370, 2010, false},
    {2730, 1740, 3000, 1740, false},
    {3000, 1740, 3000, 2280, false},
    {3000, 2280, 2730, 2280, false},
    {2730, 2280, 2730, 1740, false},
    {3090, 2280, 3090, 1740, false},
    {3090, 1740, 3360, 1740, false},
    {3360, 1740, 3360, 2010, false},
    {3360, 2010, 3090, 2010, false},
    {3180, 2010, 3360, 2280, false},
    {3450, 1740, 3720, 1740, false},
    {3585, 1740, 3585, 2280, false},
}};
