#include "app/export/symbol_font.h"

#include <gtest/gtest.h>

#include <QFont>
#include <QFontDatabase>
#include <QPainterPath>
#include <QRawFont>

namespace plotmint {
namespace {

QRawFont raw_font(const QString& family) {
    QFont f(family);
    f.setPixelSize(100);
    f.setStyleStrategy(QFont::PreferOutline);
    return QRawFont::fromFont(f);
}

quint32 glyph_of(const QRawFont& font, char16_t c) {
    const QList<quint32> glyphs = font.glyphIndexesForString(QString(QChar(c)));
    return glyphs.size() == 1 ? glyphs.front() : 0;
}

class UnicodeSymbolFont : public ::testing::Test {
protected:
    void SetUp() override {
        twin_ = raw_font(QStringLiteral("Standard Symbols PS"));
        if (!twin_.familyName().startsWith(QStringLiteral("Standard Symbols PS")) || twin_.fontTable("head").isEmpty())
            GTEST_SKIP() << "Standard Symbols PS (fonts-urw-base35) is not installed as OpenType";
        family_ = unicode_symbol_family();
        ASSERT_FALSE(family_.isEmpty());
        copy_ = raw_font(family_);
        ASSERT_EQ(copy_.familyName(), family_);
    }
    QRawFont twin_, copy_;
    QString family_;
};

struct Shape {
    char16_t byte, unicode;
};

class SameShapes : public UnicodeSymbolFont, public ::testing::WithParamInterface<Shape> {};

// The copy draws each character with the very outline its byte has in the twin.
TEST_P(SameShapes, AsTheTwinsGlyphForTheByte) {
    const Shape s = GetParam();
    const quint32 from = glyph_of(twin_, s.byte), to = glyph_of(copy_, s.unicode);
    ASSERT_NE(from, 0u);
    ASSERT_NE(to, 0u) << "U+" << std::hex << unsigned{s.unicode} << " missing";
    const QPainterPath a = twin_.pathForGlyph(from), b = copy_.pathForGlyph(to);
    ASSERT_FALSE(a.isEmpty());
    EXPECT_EQ(a, b);
    EXPECT_EQ(twin_.advancesForGlyphIndexes(QList<quint32>{from}), copy_.advancesForGlyphIndexes(QList<quint32>{to}));
}

INSTANTIATE_TEST_SUITE_P(GreekAndSigns, SameShapes,
                         ::testing::Values(Shape{u'a', u'α'}, Shape{u'p', u'π'}, Shape{u'D', u'Δ'}, Shape{u'W', u'Ω'},
                                           Shape{0xE5, u'∑'}, Shape{0xA5, u'∞'}, Shape{0xD6, u'√'}, Shape{0xB1, u'±'},
                                           Shape{0xE6, u'⎛'}, Shape{0xD2, u'®'}));

// Only the Unicode characters are mapped: a PDF writer that reads the text back from the
// character map finds Greek, not the Latin letters of the bytes, and Qt falls back to
// other faces for anything else rather than drawing a Greek glyph for a Latin letter.
TEST_F(UnicodeSymbolFont, MapsTheCharactersNotTheBytes) {
    EXPECT_TRUE(copy_.supportsCharacter(QChar(0x03B1)));
    EXPECT_TRUE(copy_.supportsCharacter(QChar(0x2211)));
    EXPECT_FALSE(copy_.supportsCharacter(QChar(u'a')));
    EXPECT_FALSE(copy_.supportsCharacter(QChar(u'p')));
    EXPECT_TRUE(copy_.supportsCharacter(QChar(u'1')));  // digits are themselves in Symbol
    // Registered once, however often asked.
    EXPECT_EQ(unicode_symbol_family(), family_);
    EXPECT_EQ(QFontDatabase::families().count(family_), 1);
}

TEST(UnicodeSymbolFontData, NeedsAFontWithTables) {
    EXPECT_TRUE(unicode_symbol_font_data(QRawFont(), QStringLiteral("X")).isEmpty());
}

}  // namespace
}  // namespace plotmint
