#pragma once
// Symbol text is drawn as the Unicode characters its bytes stand for (so SVG and PDF carry
// Greek a reader can search and copy), but in the shapes of the Symbol face's free twin,
// Standard Symbols PS. That font maps only the bytes, and Qt neither falls back from it nor
// reads anything but the bytes back out of it for a PDF's text; so a copy of it whose
// character map lists the Unicode characters instead is registered with Qt on first use.
#include <QByteArray>
#include <QString>

class QRawFont;

namespace plotmint {

// The family name of that copy, registered once; empty when Standard Symbols PS is not
// installed as an OpenType or TrueType font (the caller's other faces then draw the text).
// Needs a QGuiApplication.
QString unicode_symbol_family();

// The copy itself: `symbol_font`'s outlines and metrics with a Unicode character map built
// from the Symbol encoding table and the family name `family`. Empty when `symbol_font` has
// no sfnt tables to copy.
QByteArray unicode_symbol_font_data(const QRawFont& symbol_font, const QString& family);

}  // namespace plotmint
