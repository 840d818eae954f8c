#!/usr/bin/env python3
"""Derives the program's embedded font from the upstream Exo 2 Light.

Usage: make-font.py UPSTREAM.ttf OUTPUT.ttf

The window draws Windows-1252 text only, with GDI, at character heights of 15 and 13
pixels. The upstream file carries far more than that needs, and its line height (from
usWinAscent + usWinDescent, which is what GDI lays lines out by) is 22 pixels at 15, too
tall for the labels' boxes. This script keeps the glyph outlines, the names and the weight
as they are and changes only:

- the character set: the printable characters of Windows-1252, nothing else (no
  OpenType layout tables either: GDI's DrawText does not read them);
- the vertical metrics: an ascent that still holds the tallest glyph kept (the accented
  capitals) and a descent that holds every descender the program's texts use, so that a
  line is 17 pixels at height -15 and 15 pixels at -13;
- the horizontal advances, narrowed by ADVANCE_SCALE (see there).

The output depends on nothing but the input: time stamps are kept from the upstream file,
so the build gives the same bytes every time.
"""

import sys

from fontTools import subset
from fontTools.ttLib import TTFont

# Windows-1252 code points 0x81, 0x8D, 0x8F, 0x90 and 0x9D are unassigned, and 0xAD (the
# soft hyphen) is a format character the upstream font has no glyph for.
UNASSIGNED_1252 = {0x81, 0x8D, 0x8F, 0x90, 0x9D}

# In font units (1000 to the em). 929 is the top of the tallest glyph kept (E acute);
# 221 lies below every descender of the letters (y reaches -207). At 15 pixels to the em
# that is 13.9 + 3.3 pixels, which GDI rounds to a 14 + 3 = 17 pixel line: three lines
# fit the 53-pixel widescreen label, six the 120-pixel result box. At 13 pixels it is
# 12 + 3 = 15, inside the 17-pixel title strip.
WIN_ASCENT = 929
WIN_DESCENT = 221

# The advances are narrowed by 1.5 %, the least (in steps of half a percent) with which every
# label keeps its number of lines: at the upstream widths the first line of the camera label,
# "Camera distance from Siona;", needs all of its 220 pixels and wraps, giving the label a
# third line that its 40 pixels cannot show. The outlines are untouched; only the room after
# each letter shrinks, by about one pixel in twelve letters. The window test measures every
# text against its control.
ADVANCE_SCALE = 0.985


def printable_1252():
    codes = []
    for byte in list(range(0x20, 0x7F)) + list(range(0x80, 0x100)):
        if byte in UNASSIGNED_1252 or byte == 0xAD:
            continue
        codes.append(ord(bytes([byte]).decode("cp1252")))
    return codes


def main(argv):
    if len(argv) != 3:
        sys.stderr.write("usage: make-font.py UPSTREAM.ttf OUTPUT.ttf\n")
        return 2
    upstream, output = argv[1], argv[2]

    font = TTFont(upstream, recalcTimestamp=False)
    missing = [c for c in printable_1252() if c not in font.getBestCmap() and c != 0xA0]
    if missing:
        sys.stderr.write("make-font.py: no glyph for %s\n" % ", ".join("U+%04X" % c for c in missing))
        return 1

    options = subset.Options()
    options.layout_features = []
    options.drop_tables += ["GDEF", "GSUB", "GPOS", "STAT"]
    options.name_IDs = ["*"]
    options.name_languages = ["*"]
    options.name_legacy = True
    options.notdef_outline = True
    options.glyph_names = False
    options.recalc_timestamp = False
    subsetter = subset.Subsetter(options)
    subsetter.populate(unicodes=printable_1252())
    subsetter.subset(font)

    os2 = font["OS/2"]
    os2.usWinAscent = WIN_ASCENT
    os2.usWinDescent = WIN_DESCENT
    hhea = font["hhea"]
    hhea.ascent = WIN_ASCENT
    hhea.descent = -WIN_DESCENT
    hhea.lineGap = 0

    if ADVANCE_SCALE != 1.0:
        metrics = font["hmtx"].metrics
        for name, (advance, lsb) in metrics.items():
            metrics[name] = (int(round(advance * ADVANCE_SCALE)), lsb)
        os2.recalcAvgCharWidth(font)

    font.save(output, reorderTables=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
