#!/usr/bin/env python3
"""Redraw Lintara's pictures and the about dialog's logo table.

Writes, relative to the repository root:
  resources/lintara.png   program icon, 32x32, 256-colour palette PNG
  resources/lintara.ico   the same icon as a classic 8-bit Windows icon
  resources/settings.png  23x30 RGB picture of a settings sheet with gears
  ui/logotable.h          line-art logo of the about dialog, in twips

The outputs are committed; this script is only needed to change them, never to
build the program.  It needs Python 3 and Pillow (Debian: python3-pil).

  scripts/draw_resources.py [--preview DIR]

With --preview, enlarged copies of the pictures and a rendering of the logo
are written to DIR for viewing.
"""

import argparse
import math
import struct
from pathlib import Path

from PIL import Image, ImageDraw

ROOT = Path(__file__).resolve().parent.parent

BLACK = (0, 0, 0)

# ---------------------------------------------------------------------------
# Program icon: three letters, red, blue and yellow, on a black band.

ICON_SIZE = 32
BAND_TOP, BAND_BOTTOM = 5, 26  # inclusive rows of the black band
LETTER_TOP = 8  # first row of the letters; they are 16 rows high

# 9x16 bitmaps, strokes three pixels wide.  '#' is the letter's colour, '+'
# its lighter edge, '-' its darker edge.
GLYPH_L = [
    "+##......",
    "###......",
    "###......",
    "###......",
    "###......",
    "###......",
    "###......",
    "###......",
    "###......",
    "###......",
    "###......",
    "###......",
    "###......",
    "#########",
    "#########",
    "--------.",
]
GLYPH_T = [
    "+#######.",
    "#########",
    "#########",
    "...###...",
    "...###...",
    "...###...",
    "...###...",
    "...###...",
    "...###...",
    "...###...",
    "...###...",
    "...###...",
    "...###...",
    "...###...",
    "...###...",
    "...---...",
]
GLYPH_A = [
    ".+######.",
    "#########",
    "#########",
    "###...###",
    "###...###",
    "###...###",
    "###...###",
    "#########",
    "#########",
    "#########",
    "###...###",
    "###...###",
    "###...###",
    "###...###",
    "###...###",
    "---...---",
]

# (glyph, main colour, light edge, dark edge)
ICON_LETTERS = [
    (GLYPH_L, (230, 20, 20), (255, 140, 140), (120, 0, 0)),
    (GLYPH_T, (30, 80, 255), (140, 170, 255), (0, 20, 130)),
    (GLYPH_A, (255, 220, 0), (255, 250, 170), (150, 120, 0)),
]
ICON_LETTER_X = [1, 11, 22]


def draw_icon():
    """Return the icon as an RGBA image (transparent outside the band)."""
    img = Image.new("RGBA", (ICON_SIZE, ICON_SIZE), (0, 0, 0, 0))
    px = img.load()
    for y in range(BAND_TOP, BAND_BOTTOM + 1):
        for x in range(ICON_SIZE):
            px[x, y] = (0, 0, 0, 255)
    # thin grey rims along the band
    for x in range(ICON_SIZE):
        px[x, BAND_TOP] = (96, 96, 96, 255)
        px[x, BAND_BOTTOM] = (96, 96, 96, 255)
    for (glyph, main, light, dark), left in zip(ICON_LETTERS, ICON_LETTER_X):
        for row, line in enumerate(glyph):
            for col, ch in enumerate(line):
                colour = {"#": main, "+": light, "-": dark}.get(ch)
                if colour:
                    px[left + col, LETTER_TOP + row] = colour + (255,)
    return img


def icon_to_palette(rgba):
    """Return (palette image, transparent index) for an RGBA icon."""
    colours = []
    indices = []
    for r, g, b, a in rgba.getdata():
        if a == 0:
            indices.append(0)
            continue
        if (r, g, b) not in colours:
            colours.append((r, g, b))
        indices.append(colours.index((r, g, b)) + 1)
    if len(colours) > 255:
        raise SystemExit("icon has too many colours")
    palette = [(0, 0, 0)] + colours
    palette += [(0, 0, 0)] * (256 - len(palette))
    img = Image.new("P", rgba.size)
    img.putpalette([c for rgb in palette for c in rgb])
    img.putdata(indices)
    return img, 0


def write_ico(path, pal_img, transparent):
    """Write a single-image 32x32, 8-bit classic (DIB) Windows icon."""
    w, h = pal_img.size
    pal = pal_img.getpalette()[: 256 * 3]
    pal += [0] * (256 * 3 - len(pal))
    data = list(pal_img.getdata())

    header = struct.pack(
        "<IiiHHIIiiII", 40, w, h * 2, 1, 8, 0, 0, 0, 0, 256, 0
    )
    palette = b"".join(
        bytes((pal[i * 3 + 2], pal[i * 3 + 1], pal[i * 3], 0)) for i in range(256)
    )
    xor_rows = []
    and_rows = []
    mask_stride = ((w + 31) // 32) * 4
    for y in range(h - 1, -1, -1):  # DIB rows run bottom-up
        row = data[y * w : (y + 1) * w]
        xor_rows.append(bytes(row))  # 32 bytes, already a multiple of 4
        bits = bytearray(mask_stride)
        for x, idx in enumerate(row):
            if idx == transparent:
                bits[x // 8] |= 0x80 >> (x % 8)
        and_rows.append(bytes(bits))
    image = header + palette + b"".join(xor_rows) + b"".join(and_rows)

    icondir = struct.pack("<HHH", 0, 1, 1)
    entry = struct.pack("<BBBBHHII", w, h, 0, 0, 1, 8, len(image), 6 + 16)
    path.write_bytes(icondir + entry + image)


# ---------------------------------------------------------------------------
# Settings picture: a sheet with a folded corner and two gears, 23x30.

SET_W, SET_H = 23, 30
SS = 8  # supersampling factor


def gear_polygon(cx, cy, r_out, r_in, teeth, phase=0.0):
    pts = []
    steps = teeth * 4
    for i in range(steps):
        a = phase + 2 * math.pi * i / steps
        r = r_out if (i % 4) in (1, 2) else r_in
        pts.append((cx + r * math.cos(a), cy + r * math.sin(a)))
    return pts


def draw_settings():
    s = SS
    img = Image.new("RGB", (SET_W * s, SET_H * s), BLACK)
    d = ImageDraw.Draw(img)

    def box(x0, y0, x1, y1):
        # pixel-cell rectangle, inclusive, in picture pixels
        return [x0 * s, y0 * s, (x1 + 1) * s - 1, (y1 + 1) * s - 1]

    # sheet of paper with the upper right corner folded down
    left, top, right, bottom, fold = 1, 1, 17, 26, 5
    outline = (110, 110, 120)
    paper = (250, 250, 246)
    sheet = [
        (left * s, top * s),
        ((right + 1 - fold) * s, top * s),
        ((right + 1) * s, (top + fold) * s),
        ((right + 1) * s, (bottom + 1) * s),
        (left * s, (bottom + 1) * s),
    ]
    d.polygon(sheet, fill=outline)
    inner = [
        ((left + 1) * s, (top + 1) * s),
        ((right + 1 - fold) * s - s // 2, (top + 1) * s),
        (right * s, (top + fold) * s + s // 2),
        (right * s, bottom * s),
        ((left + 1) * s, bottom * s),
    ]
    d.polygon(inner, fill=paper)
    # the folded flap
    flap = [
        ((right + 1 - fold) * s, top * s),
        ((right + 1 - fold) * s, (top + fold) * s),
        ((right + 1) * s, (top + fold) * s),
    ]
    d.polygon(flap, fill=(190, 190, 200))
    d.line([flap[0], flap[1], flap[2]], fill=outline, width=s)

    # lines of text
    text = (90, 110, 170)
    for y, x1 in ((4, 10), (7, 14), (10, 14), (13, 12), (16, 8)):
        d.rectangle(box(3, y, x1, y), fill=text)

    # large gear, lower right, and a small one beside it
    def gear(cx, cy, r_out, r_in, hole, teeth, phase, body, rim):
        d.polygon(gear_polygon(cx * s, cy * s, (r_out + 0.6) * s, (r_in + 0.6) * s,
                               teeth, phase), fill=rim)
        d.polygon(gear_polygon(cx * s, cy * s, r_out * s, r_in * s, teeth, phase),
                  fill=body)
        d.ellipse([(cx - hole - 0.6) * s, (cy - hole - 0.6) * s,
                   (cx + hole + 0.6) * s, (cy + hole + 0.6) * s], fill=rim)
        d.ellipse([(cx - hole) * s, (cy - hole) * s,
                   (cx + hole) * s, (cy + hole) * s], fill=BLACK)

    gear(16.0, 21.5, 6.6, 4.7, 1.9, 8, 0.2, (180, 186, 198), (55, 58, 68))
    gear(7.0, 25.0, 4.6, 3.2, 1.3, 6, 0.5, (250, 170, 30), (120, 60, 0))

    return img.resize((SET_W, SET_H), Image.BOX)


# ---------------------------------------------------------------------------
# Line-art logo of the about dialog, in twips (15 twips = 1 pixel).

TOP, BASE = 120, 1440  # large letters
CHAMFER = 120


def large_letters():
    lines = []

    def add(x1, y1, x2, y2):
        lines.append((x1, y1, x2, y2))

    t, b = TOP, BASE
    mid = 750  # bottom of R's bowl
    bar = 840  # A's crossbar
    c = CHAMFER

    # letter cells: name, left, width
    cells = [
        ("L", 240, 360),
        ("I", 730, 240),
        ("N", 1100, 420),
        ("T", 1650, 420),
        ("A", 2200, 420),
        ("R", 2750, 420),
        ("A", 3300, 420),
    ]
    for name, x0, w in cells:
        x1 = x0 + w
        xm = x0 + w // 2
        if name == "L":
            add(x0, t, x0, b)
            add(x0, b, x1, b)
        elif name == "I":
            add(xm, t, xm, b)
            add(x0, t, x1, t)
            add(x0, b, x1, b)
        elif name == "N":
            add(x0, b, x0, t)
            add(x0, t, x1, b)
            add(x1, b, x1, t)
        elif name == "T":
            add(x0, t, x1, t)
            add(xm, t, xm, b)
        elif name == "A":
            add(x0, b, x0, t + c)
            add(x0, t + c, x0 + c, t)
            add(x0 + c, t, x1 - c, t)
            add(x1 - c, t, x1, t + c)
            add(x1, t + c, x1, b)
            add(x0, bar, x1, bar)
        elif name == "R":
            add(x0, b, x0, t)
            add(x0, t, x1 - c, t)
            add(x1 - c, t, x1, t + c)
            add(x1, t + c, x1, mid - c)
            add(x1, mid - c, x1 - c, mid)
            add(x1 - c, mid, x0, mid)
            add(x0 + 170, mid, x1, b)
    return lines


S_TOP, S_BASE = 1740, 2280  # small word


def small_word():
    lines = []

    def add(x1, y1, x2, y2):
        lines.append((x1, y1, x2, y2))

    t, b = S_TOP, S_BASE
    mid = t + (b - t) // 2
    cells = [("P", 2370), ("O", 2730), ("R", 3090), ("T", 3450)]
    w = 270
    for name, x0 in cells:
        x1 = x0 + w
        if name == "P" or name == "R":
            add(x0, b, x0, t)
            add(x0, t, x1, t)
            add(x1, t, x1, mid)
            add(x1, mid, x0, mid)
            if name == "R":
                add(x0 + 90, mid, x1, b)
        elif name == "O":
            add(x0, t, x1, t)
            add(x1, t, x1, b)
            add(x1, b, x0, b)
            add(x0, b, x0, t)
        elif name == "T":
            add(x0, t, x1, t)
            add(x0 + w // 2, t, x0 + w // 2, b)
    return lines


HEADER_TOP = """\
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
"""


def logo_header(large, small):
    out = [HEADER_TOP]
    out.append("    // LINTARA\n")
    for x1, y1, x2, y2 in large:
        out.append(f"    {{{x1}, {y1}, {x2}, {y2}, true}},\n")
    out.append("    // PORT\n")
    for x1, y1, x2, y2 in small:
        out.append(f"    {{{x1}, {y1}, {x2}, {y2}, false}},\n")
    out.append("}};\n")
    return "".join(out)


def check_logo(large, small):
    assert len(large) == 29, len(large)
    assert len(small) == 15, len(small)
    for x1, y1, x2, y2 in large + small:
        for x in (x1, x2):
            assert 240 <= x <= 3720, (x1, y1, x2, y2)
        for y in (y1, y2):
            assert 120 <= y <= 2280, (x1, y1, x2, y2)


def draw_logo(large, small, scale=1):
    # client area of the collapsed dialog: 3945 x 2835 twips
    w, h = 3945 * scale // 15, 2835 * scale // 15
    img = Image.new("RGB", (w, h), BLACK)
    d = ImageDraw.Draw(img)
    for lines, colour, width in ((large, (255, 128, 0), 3), (small, (192, 64, 0), 2)):
        for x1, y1, x2, y2 in lines:
            d.line([(x1 * scale / 15, y1 * scale / 15), (x2 * scale / 15, y2 * scale / 15)],
                   fill=colour, width=width * scale)
    return img


# ---------------------------------------------------------------------------


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--preview", type=Path, help="also write enlarged previews here")
    args = ap.parse_args()

    res = ROOT / "resources"
    res.mkdir(exist_ok=True)

    icon = draw_icon()
    pal_icon, transparent = icon_to_palette(icon)
    pal_icon.save(res / "lintara.png", transparency=transparent, optimize=False)
    write_ico(res / "lintara.ico", pal_icon, transparent)

    settings = draw_settings()
    settings.save(res / "settings.png")

    large, small = large_letters(), small_word()
    check_logo(large, small)
    (ROOT / "ui" / "logotable.h").write_text(logo_header(large, small))

    if args.preview:
        args.preview.mkdir(parents=True, exist_ok=True)
        draw_logo(large, small).save(args.preview / "logo_preview.png")
        draw_logo(large, small, 3).save(args.preview / "logo_preview_3x.png")
        bg = Image.new("RGBA", icon.size, (200, 200, 200, 255))
        bg.alpha_composite(icon)
        bg.resize((ICON_SIZE * 8, ICON_SIZE * 8), Image.NEAREST).save(
            args.preview / "icon_8x.png")
        settings.resize((SET_W * 8, SET_H * 8), Image.NEAREST).save(
            args.preview / "settings_8x.png")


if __name__ == "__main__":
    main()
