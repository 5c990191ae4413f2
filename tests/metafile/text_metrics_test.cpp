#include "metafile/text_metrics.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace plotmint {
namespace {

struct CharCase {
    unsigned char byte;
    uint8_t char_set;
    char16_t expected;
};

class ByteToUtf16 : public ::testing::TestWithParam<CharCase> {};

TEST_P(ByteToUtf16, RecordsTheCharacterGdiRecords) {
    const CharCase& c = GetParam();
    EXPECT_EQ(static_cast<unsigned>(byte_to_utf16(c.byte, c.char_set)), static_cast<unsigned>(c.expected))
        << "byte 0x" << std::hex << unsigned{c.byte} << " charset " << unsigned{c.char_set};
}

INSTANTIATE_TEST_SUITE_P(
    Cp1252AndSymbol, ByteToUtf16,
    ::testing::Values(
        // ANSI: code page 1252.
        CharCase{0x41, kAnsiCharset, 0x0041}, CharCase{0x00, kAnsiCharset, 0x0000},
        CharCase{0x1F, kAnsiCharset, 0x001F}, CharCase{0x7F, kAnsiCharset, 0x007F},
        CharCase{0x80, kAnsiCharset, 0x20AC}, CharCase{0x85, kAnsiCharset, 0x2026},
        CharCase{0x8E, kAnsiCharset, 0x017D}, CharCase{0x93, kAnsiCharset, 0x201C},
        CharCase{0x99, kAnsiCharset, 0x2122}, CharCase{0x9F, kAnsiCharset, 0x0178},
        CharCase{0xA0, kAnsiCharset, 0x00A0}, CharCase{0xE9, kAnsiCharset, 0x00E9},
        CharCase{0xFF, kAnsiCharset, 0x00FF},
        // The five bytes 1252 leaves undefined keep their value.
        CharCase{0x81, kAnsiCharset, 0x0081}, CharCase{0x8D, kAnsiCharset, 0x008D},
        CharCase{0x8F, kAnsiCharset, 0x008F}, CharCase{0x90, kAnsiCharset, 0x0090},
        CharCase{0x9D, kAnsiCharset, 0x009D},
        // Symbol: U+F000 + byte, control bytes unchanged.
        CharCase{0x20, kSymbolCharset, 0xF020}, CharCase{0x61, kSymbolCharset, 0xF061},
        CharCase{0x80, kSymbolCharset, 0xF080}, CharCase{0x81, kSymbolCharset, 0xF081},
        CharCase{0xFF, kSymbolCharset, 0xF0FF}, CharCase{0x1F, kSymbolCharset, 0x001F},
        CharCase{0x00, kSymbolCharset, 0x0000}, CharCase{0x0A, kSymbolCharset, 0x000A}));

TEST(Cp1252, EveryByteSurvivesTheRoundTrip) {
    for (int b = 0; b < 256; ++b)
        EXPECT_EQ(utf16_to_cp1252(byte_to_utf16(static_cast<unsigned char>(b), kAnsiCharset)), b) << b;
    EXPECT_EQ(utf16_to_cp1252(u'\u4E00'), '?');
    EXPECT_EQ(utf16_to_cp1252(u'\u0100'), '?');
}

TEST(Cp1252, StringConversionKeepsOrderAndLength) {
    EXPECT_EQ(bytes_to_utf16("a\x80z", kAnsiCharset), u"a\u20ACz");
    EXPECT_EQ(bytes_to_utf16("ab", kSymbolCharset), u"\uF061\uF062");
}

LogFont font(const char* face, int32_t height, int32_t weight = 400, uint8_t char_set = kAnsiCharset) {
    LogFont f;
    f.face_name = face;
    f.height = height;
    f.weight = weight;
    f.char_set = char_set;
    return f;
}

struct AdvanceCase {
    const char* face;
    int32_t height;
    int32_t weight;
    const char* text;
    std::vector<int32_t> expected;
};

class TextAdvances : public ::testing::TestWithParam<AdvanceCase> {};

TEST_P(TextAdvances, ScaleTheFaceAdvances) {
    const AdvanceCase& c = GetParam();
    EXPECT_EQ(text_advances(font(c.face, c.height, c.weight), c.text), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Faces, TextAdvances,
    ::testing::Values(
        // Arial, lfHeight 40: the cell is 2288 units of a 2048 em.
        AdvanceCase{"Arial", 40, 400, "Plot AB", {24, 8, 20, 10, 10, 24, 24}},
        // Case does not matter in face names; an unknown face measures as Arial.
        AdvanceCase{"ARIAL", 40, 400, "Plot AB", {24, 8, 20, 10, 10, 24, 24}},
        AdvanceCase{"Wingdings Nouveau", 40, 400, "Plot AB", {24, 8, 20, 10, 10, 24, 24}},
        // A negative height is the em: at -2048 the advances are the font units.
        AdvanceCase{"Arial", -2048, 400, "P l", {1366, 569, 455}},
        // Bold Arial has its own advances ('!' 569 regular, 682 bold).
        AdvanceCase{"Arial", -2048, 700, "!", {682}},
        // Courier New is monospaced: 1229 units everywhere, cell 2320.
        AdvanceCase{"Courier New", 2320, 400, "iW\xE9", {1229, 1229, 1229}},
        // Times New Roman, cell 2268: 'T' 1251, 'i' 569.
        AdvanceCase{"Times New Roman", 2268, 400, "Ti", {1251, 569}},
        // Century from C059, cell 1418 per 1000: 'C' is 722 units.
        AdvanceCase{"Century", -1000, 400, "C", {722}},
        // Code page 1252: 0x80 is the euro sign, not a missing glyph (Arial: 1139).
        AdvanceCase{"Arial", -2048, 400, "\x80", {1139}},
        // Bytes below 0x20 take the missing glyph's advance.
        AdvanceCase{"Arial", -2048, 400, "\x01", {1536}}));

TEST(TextAdvances, SymbolUsesTheWindowsSymbolCell) {
    // Standard Symbols PS advances (1000 em), Symbol's cell of 2509/2048 em: at lfHeight
    // 2509 the em is 2048 logical units. 'a' is alpha, 631 units.
    const auto dx = text_advances(font("Symbol", 2509, 400, kSymbolCharset), "a ");
    EXPECT_EQ(dx, (std::vector<int32_t>{1292, 512}));  // 631 * 2.048, 250 * 2.048
}

TEST(TextAdvances, ZeroHeightUsesTheDefaultCell) {
    EXPECT_EQ(text_advances(font("Arial", 0), "P"), text_advances(font("Arial", 16), "P"));
}

TEST(TextAdvances, HugeHeightsSaturateInsteadOfWrapping) {
    // Symbol's double arrow is 1042 units of a 1000 em: wider than a 2^31 em allows.
    const auto dx = text_advances(font("Symbol", std::numeric_limits<int32_t>::min(), 400, kSymbolCharset), "\xAB");
    EXPECT_EQ(dx[0], std::numeric_limits<int32_t>::max());
    for (const char* face : {"Arial", "Times New Roman", "Courier New", "Symbol", "Century"}) {
        for (int32_t h : {std::numeric_limits<int32_t>::max(), std::numeric_limits<int32_t>::min()}) {
            std::string all;
            for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));
            for (int32_t d : text_advances(font(face, h), all)) EXPECT_GE(d, 0) << face << " " << h;
        }
    }
}

TEST(TextCellHeight, PositiveHeightIsTheCellNegativeIsTheEm) {
    EXPECT_EQ(text_cell_height(font("Arial", 40)), 40);
    EXPECT_EQ(text_cell_height(font("Arial", -2048)), 2288);
    EXPECT_EQ(text_cell_height(font("Symbol", -2048)), 2509);
    EXPECT_EQ(text_cell_height(font("Arial", 0)), 16);
}

TEST(FaceAdvanceTables, EveryWindowsFaceIsPresent) {
    for (const char* face : {"Arial", "Times New Roman", "Courier New", "Symbol", "Century"}) {
        const FaceAdvances& f = face_advances_for(face, 400);
        EXPECT_STREQ(f.face, face);
        EXPECT_FALSE(f.bold);
        EXPECT_GT(f.cell_units, f.units_per_em);
        // The baseline lies in the lower part of the cell.
        EXPECT_GT(f.ascent_units, 0.7 * f.cell_units) << face;
        EXPECT_LT(f.ascent_units, 0.85 * f.cell_units) << face;
    }
    EXPECT_DOUBLE_EQ(face_advances_for("Symbol", 400).ascent_units, 1000.0 * 2059 / 2048);
    EXPECT_DOUBLE_EQ(face_advances_for("Arial", 400).ascent_units, 1854.0);
    EXPECT_DOUBLE_EQ(face_advances_for("Symbol", 400).cell_units, 1000.0 * 2509 / 2048);
    EXPECT_DOUBLE_EQ(face_advances_for("Arial", 400).cell_units, 2288.0);
    // No bold Symbol or Century on Windows: the regular advances serve.
    EXPECT_FALSE(face_advances_for("Century", 700).bold);
    EXPECT_TRUE(face_advances_for("Times New Roman", 700).bold);
}

// The committed table must be what the generator makes from the installed fonts.
TEST(FaceAdvanceTables, MatchTheGenerator) {
    const std::string source = PLOTMINT_SOURCE_DIR;
    if (std::system("/usr/bin/python3 -c 'import fontTools' 2>/dev/null") != 0)
        GTEST_SKIP() << "/usr/bin/python3 with fontTools cannot be run from here (python3-fonttools not "
                        "installed, or a Windows build under Wine)";
    const auto out = std::filesystem::temp_directory_path() / ("face_advances-" + std::to_string(::getpid()) + ".cpp");
    const std::string cmd = "/usr/bin/python3 " + source + "/tools/gen_face_advances.py " + out.string();
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    const auto slurp = [](const std::filesystem::path& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    const std::string generated = slurp(out);
    std::filesystem::remove(out);
    EXPECT_EQ(generated, slurp(source + "/src/metafile/face_advances.cpp"));
}

}  // namespace
}  // namespace plotmint
