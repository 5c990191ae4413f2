#include "metafile/symbol_encoding.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>

namespace plotmint {
namespace {

struct SymbolCase {
    char16_t recorded;
    char16_t unicode;
};

class SymbolText : public ::testing::TestWithParam<SymbolCase> {};

TEST_P(SymbolText, ReadsAsItsUnicodeCharacter) {
    const SymbolCase& c = GetParam();
    EXPECT_EQ(static_cast<unsigned>(symbol_text_to_unicode(c.recorded)), static_cast<unsigned>(c.unicode))
        << "U+" << std::hex << unsigned{c.recorded};
    if (c.recorded >= 0xF020 && c.recorded <= 0xF0FF) {
        EXPECT_EQ(symbol_byte_to_unicode(static_cast<unsigned char>(c.recorded - 0xF000)), c.unicode);
    }
}

INSTANTIATE_TEST_SUITE_P(
    GreekSignsAndGaps, SymbolText,
    ::testing::Values(SymbolCase{0xF061, u'α'}, SymbolCase{0xF062, u'β'}, SymbolCase{0xF067, u'γ'},
                      SymbolCase{0xF064, u'δ'}, SymbolCase{0xF070, u'π'}, SymbolCase{0xF044, u'Δ'},
                      SymbolCase{0xF057, u'Ω'}, SymbolCase{0xF06D, u'μ'}, SymbolCase{0xF06A, u'ϕ'},
                      SymbolCase{0xF0B1, u'±'}, SymbolCase{0xF0A5, u'∞'}, SymbolCase{0xF0D6, u'√'},
                      SymbolCase{0xF0E5, u'∑'}, SymbolCase{0xF0A3, u'≤'}, SymbolCase{0xF02D, u'−'},
                      SymbolCase{0xF020, u' '}, SymbolCase{0xF031, u'1'}, SymbolCase{0xF0FE, u'⎭'},
                      // Bytes the face has no character for.
                      SymbolCase{0xF07F, 0}, SymbolCase{0xF080, 0}, SymbolCase{0xF09F, 0}, SymbolCase{0xF0F0, 0},
                      SymbolCase{0xF0FF, 0},
                      // Not Symbol-set characters: as they are.
                      SymbolCase{0x0041, 0x0041}, SymbolCase{0x0009, 0x0009}, SymbolCase{0xF01F, 0xF01F},
                      SymbolCase{0xF100, 0xF100}));

TEST(SymbolEncoding, IsReadableWithoutASymbolFont) {
    EXPECT_EQ(symbol_byte_to_unicode(0x1F), 0);
    std::map<char16_t, int> seen;
    for (int b = 0x20; b <= 0xFE; ++b) {
        const char16_t u = symbol_byte_to_unicode(static_cast<unsigned char>(b));
        if (u == 0) continue;
        EXPECT_FALSE(u >= 0xE000 && u <= 0xF8FF) << "byte 0x" << std::hex << b << " is in the private use area";
        ++seen[u];
    }
    // Only the sans and serif forms of the registered, copyright and trademark signs share
    // a character.
    std::set<char16_t> shared;
    for (const auto& [u, n] : seen)
        if (n > 1) shared.insert(u);
    EXPECT_EQ(shared, (std::set<char16_t>{u'©', u'®', u'™'}));
    // 0x7F, 0x80..0x9F and 0xF0 are empty.
    EXPECT_EQ(seen.size(), 0xFFu - 0x20u - 34u - 3u);
}

// An independent reading of the encoding: the glyph names of the free Symbol font's own
// encoding vector, through the Adobe Glyph List. Where the list names a character, the
// table must agree, but for the three letters it takes as Greek rather than as signs.
TEST(SymbolEncoding, AgreesWithTheSymbolFontsGlyphNames) {
    const char* font = "/usr/share/fonts/type1/urw-base35/StandardSymbolsPS.t1";
    if (!std::filesystem::exists(font) || std::system("/usr/bin/python3 -c 'import fontTools' 2>/dev/null") != 0)
        GTEST_SKIP() << "/usr/bin/python3 with fontTools or the URW Symbol font cannot be reached from here "
                        "(python3-fonttools or fonts-urw-base35 not installed, or a Windows build under Wine)";
    const auto out = std::filesystem::temp_directory_path() / ("symbol-names-" + std::to_string(::getpid()) + ".txt");
    const std::string script =
        "from fontTools.t1Lib import T1Font\n"
        "from fontTools import agl\n"
        "import sys\n"
        "f = T1Font(sys.argv[1]); f.parse(); enc = f.font['Encoding']\n"
        "with open(sys.argv[2], 'w') as o:\n"
        "    for b in range(0x20, 0xFF):\n"
        "        u = agl.AGL2UV.get(enc[b])\n"
        "        if u: o.write('%d %d\\n' % (b, u))\n";
    const auto script_path = out.string() + ".py";
    std::ofstream(script_path) << script;
    const std::string cmd = "/usr/bin/python3 " + script_path + " " + font + " " + out.string();
    ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    std::ifstream in(out);
    int byte = 0, unicode = 0, compared = 0;
    while (in >> byte >> unicode) {
        if (byte == 0x44 || byte == 0x57 || byte == 0x6D) continue;
        EXPECT_EQ(static_cast<int>(symbol_byte_to_unicode(static_cast<unsigned char>(byte))), unicode)
            << "byte 0x" << std::hex << byte;
        ++compared;
    }
    std::filesystem::remove(out);
    std::filesystem::remove(script_path);
    EXPECT_GT(compared, 150);
}

}  // namespace
}  // namespace plotmint
