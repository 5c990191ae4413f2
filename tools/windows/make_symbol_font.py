#!/usr/bin/env python3
"""Makes a "Symbol" face for a Wine prefix from Standard Symbols PS, as Windows' own Symbol
is laid out: a symbol cmap (3,0) with each character at U+F000 + its Symbol-encoding byte,
the symbol code page bit, and the vertical metrics of the Windows face (usWinAscent +
usWinDescent = 2509 per 2048 units), so GDI sizes a SYMBOL_CHARSET font of a given
lfHeight as Windows does. Wine's own symbol.ttf maps by Unicode only, and GDI then draws
the U+F0xx characters of a metafile as empty boxes.

    make_symbol_font.py OUT.ttf [STANDARD_SYMBOLS_PS.otf [STANDARD_SYMBOLS_PS.t1]]
"""
import sys

from fontTools import t1Lib
from fontTools.ttLib import TTFont
from fontTools.ttLib.tables._c_m_a_p import cmap_format_4

URW = "/usr/share/fonts/opentype/urw-base35/StandardSymbolsPS.otf"
URW_T1 = "/usr/share/fonts/type1/urw-base35/StandardSymbolsPS.t1"
# Windows' Symbol: 2509 units per 2048 from top to bottom of the cell, as recorded in our
# notes on GDI; the split into ascent 2059 and descent 450 is taken on trust and decides
# how high GDI sets Symbol text below its reference point.
WIN_ASCENT, WIN_DESCENT, WIN_EM = 2059, 450, 2048


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__)
    out = argv[1]
    otf = argv[2] if len(argv) > 2 else URW
    t1_path = argv[3] if len(argv) > 3 else URW_T1

    # The Type 1 font carries the Symbol encoding: byte -> glyph name.
    t1 = t1Lib.T1Font(t1_path)
    t1.parse()
    encoding = t1.font["Encoding"]

    font = TTFont(otf)
    glyphs = set(font.getGlyphOrder())
    sub = cmap_format_4(4)
    sub.platformID, sub.platEncID, sub.language = 3, 0, 0
    sub.cmap = {0xF000 + code: name for code, name in enumerate(encoding)
                if code >= 0x20 and name != ".notdef" and name in glyphs}
    if len(sub.cmap) < 180:
        sys.exit("make_symbol_font: only %d characters of the Symbol encoding found" % len(sub.cmap))
    font["cmap"].tables = [sub]

    em = font["head"].unitsPerEm
    ascent = round(WIN_ASCENT * em / WIN_EM)
    descent = round(WIN_DESCENT * em / WIN_EM)
    os2 = font["OS/2"]
    os2.usWinAscent, os2.usWinDescent = ascent, descent
    os2.sTypoAscender, os2.sTypoDescender, os2.sTypoLineGap = ascent, -descent, 0
    os2.ulCodePageRange1 = 1 << 31  # symbol character set
    os2.ulCodePageRange2 = 0
    os2.usFirstCharIndex, os2.usLastCharIndex = min(sub.cmap), max(sub.cmap)
    font["hhea"].ascent, font["hhea"].descent, font["hhea"].lineGap = ascent, -descent, 0

    name = font["name"]
    for record in list(name.names):
        if record.nameID in (1, 4, 16, 17, 21, 22):
            name.removeNames(nameID=record.nameID)
    for platform in ((3, 1, 0x409), (1, 0, 0)):
        name.setName("Symbol", 1, *platform)
        name.setName("Regular", 2, *platform)
        name.setName("Symbol", 4, *platform)
        name.setName("Symbol", 6, *platform)
    font.save(out)
    print("make_symbol_font: %s with %d characters" % (out, len(sub.cmap)))


if __name__ == "__main__":
    main(sys.argv)
