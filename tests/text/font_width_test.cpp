#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <map>
#include <string>
#include <vector>

#include "text/fonts.h"

namespace plotmint {
namespace {

using Lines = std::vector<std::string>;

struct WidthCase {
    const char* font;
    int32_t code;
    double entry;    // Adobe width / 100
    double divisor;  // the font's divisor
    double rounded;  // entry / divisor to four places
};

void PrintTo(const WidthCase& c, std::ostream* os) { *os << c.font << " " << c.code; }

class FontWidthTellingRowsTest : public ::testing::TestWithParam<WidthCase> {};

TEST_P(FontWidthTellingRowsTest, GivesEntryOverDivisor) {
    const WidthCase& c = GetParam();
    VectorLog log;
    const double w = font_width(c.font, c.code, log);
    EXPECT_DOUBLE_EQ(w, c.entry / c.divisor);
    EXPECT_NEAR(w, c.rounded, 0.5e-4);
    EXPECT_TRUE(log.lines.empty());
    // Built once; asking again changes nothing.
    EXPECT_EQ(font_width(c.font, c.code, log), w);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, FontWidthTellingRowsTest,
    ::testing::Values(WidthCase{"Helvetica", 32, 2.78, 6.41, 0.4337}, WidthCase{"Helvetica", 65, 6.67, 6.41, 1.0406},
                      WidthCase{"Helvetica", 64, 10.15, 6.41, 1.5835}, WidthCase{"Helvetica", 105, 2.22, 6.41, 0.3463},
                      WidthCase{"Helvetica", 109, 8.33, 6.41, 1.2995}, WidthCase{"Times-Roman", 32, 2.50, 6.57, 0.3805},
                      WidthCase{"Times-Roman", 65, 7.22, 6.57, 1.0989}, WidthCase{"Times-Roman", 97, 4.44, 6.57, 0.6758},
                      WidthCase{"Symbol", 45, 5.49, 6.57, 0.8356}, WidthCase{"Symbol", 97, 6.31, 6.57, 0.9604},
                      WidthCase{"Symbol", 165, 7.13, 6.57, 1.0852}, WidthCase{"Symbol", 176, 4.00, 6.57, 0.6088},
                      WidthCase{"Symbol", 213, 8.23, 6.57, 1.2527}, WidthCase{"Symbol", 200, 7.68, 6.57, 1.1689},
                      WidthCase{"NewCenturySchlbk-Roman", 109, 8.89, 6.73, 1.3210},
                      WidthCase{"Courier", 32, 6.00, 5.88, 1.0204}, WidthCase{"Courier", 127, 6.00, 5.88, 1.0204},
                      // The standard encoding puts the curly quotes on 39 and 96.
                      WidthCase{"Helvetica", 39, 2.22, 6.41, 0.3463}, WidthCase{"Helvetica", 96, 2.22, 6.41, 0.3463},
                      // Summation, produced by the Hershey sign map, has its own width.
                      WidthCase{"Symbol", 229, 7.13, 6.57, 1.0852}));

TEST(FontWidthTest, CourierIsFixedPitch) {
    NullLog log;
    for (int32_t code = 32; code <= 127; ++code) EXPECT_DOUBLE_EQ(font_width("Courier", code, log), 6.00 / 5.88) << code;
}

struct EmptyCase {
    const char* font;
    int32_t code;
};

class FontWidthEmptyEntryTest : public ::testing::TestWithParam<EmptyCase> {};

// In range but without a character: zero width and no report.
TEST_P(FontWidthEmptyEntryTest, GivesZeroSilently) {
    VectorLog log;
    EXPECT_EQ(font_width(GetParam().font, GetParam().code, log), 0.0);
    EXPECT_TRUE(log.lines.empty());
}

INSTANTIATE_TEST_SUITE_P(Codes, FontWidthEmptyEntryTest,
                         ::testing::Values(EmptyCase{"Helvetica", 127}, EmptyCase{"Times-Roman", 127},
                                           EmptyCase{"NewCenturySchlbk-Roman", 127}, EmptyCase{"Symbol", 127},
                                           EmptyCase{"Symbol", 160}, EmptyCase{"Symbol", 228},
                                           EmptyCase{"Symbol", 230}, EmptyCase{"Symbol", 254}));

struct RejectCase {
    const char* font;
    int32_t code;
    Lines lines;
};

void PrintTo(const RejectCase& c, std::ostream* os) { *os << "\"" << c.font << "\" " << c.code; }

class FontWidthRejectTest : public ::testing::TestWithParam<RejectCase> {};

TEST_P(FontWidthRejectTest, ReportsAndGivesZero) {
    const RejectCase& c = GetParam();
    VectorLog log;
    EXPECT_EQ(font_width(c.font, c.code, log), 0.0);
    EXPECT_EQ(log.lines, c.lines);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FontWidthRejectTest,
    ::testing::Values(
        RejectCase{"Helvetica", 200, {"code is not correct. Stop.\n", "code = 200\n"}},
        RejectCase{"Helvetica", 128, {"code is not correct. Stop.\n", "code = 128\n"}},
        RejectCase{"Times-Roman", 31, {"code is not correct. Stop.\n", "code = 31\n"}},
        RejectCase{"Courier", -1, {"code is not correct. Stop.\n", "code = -1\n"}},
        RejectCase{"Symbol", 31, {"code is not correct in font_width. Stop.\n", "code = 31\n"}},
        RejectCase{"Symbol", 255, {"code is not correct in font_width. Stop.\n", "code = 255\n"}},
        RejectCase{"Symbol",
                   std::numeric_limits<int32_t>::min(),
                   {"code is not correct in font_width. Stop.\n", "code = -2147483648\n"}},
        // The name is compared exactly.
        RejectCase{"Helvetica ", 65, {"fontname is not correct. exit.\n"}},
        RejectCase{"helvetica", 65, {"fontname is not correct. exit.\n"}},
        RejectCase{"NewCenturySchlbok-Roman", 65, {"fontname is not correct. exit.\n"}},
        RejectCase{"", 65, {"fontname is not correct. exit.\n"}},
        // An unknown name gets the range of the text fonts, checked first.
        RejectCase{"symbol", 200, {"code is not correct. Stop.\n", "code = 200\n"}}),
    [](const auto& tp) { return "case" + std::to_string(tp.index); });

// Every entry against the metric files the tables were generated from, where they are
// installed: catches a table that drifted from its source or a code shifted by one.
TEST(FontWidthTest, MatchesTheAfmFiles) {
    const std::filesystem::path dir = "/usr/share/fonts/type1/urw-base35";
    struct Source {
        const char* font;
        const char* afm;
        double divisor;
        std::vector<std::pair<int32_t, int32_t>> ranges;
    };
    const std::vector<Source> sources{
        {"Helvetica", "NimbusSans-Regular.afm", 6.41, {{32, 126}}},
        {"Times-Roman", "NimbusRoman-Regular.afm", 6.57, {{32, 126}}},
        {"NewCenturySchlbk-Roman", "C059-Roman.afm", 6.73, {{32, 126}}},
        {"Symbol", "StandardSymbolsPS.afm", 6.57, {{32, 126}, {161, 227}, {229, 229}}},
    };
    for (const Source& s : sources) {
        std::ifstream in(dir / s.afm);
        if (!in) GTEST_SKIP() << "no " << (dir / s.afm) << " here";
        std::map<int32_t, int32_t> afm;
        std::string line;
        while (std::getline(in, line)) {
            // "C 65 ; WX 667 ; N A ; B ..."; unencoded glyphs are "C -1" and are skipped.
            int code = -1;
            int width = 0;
            if (std::sscanf(line.c_str(), "C %d ; WX %d ;", &code, &width) == 2 && code >= 0) afm[code] = width;
        }
        NullLog log;
        int32_t checked = 0;
        for (const auto& [first, last] : s.ranges) {
            for (int32_t code = first; code <= last; ++code) {
                ASSERT_TRUE(afm.count(code)) << s.afm << " " << code;
                EXPECT_DOUBLE_EQ(font_width(s.font, code, log), afm[code] / 100.0 / s.divisor)
                    << s.font << " " << code;
                ++checked;
            }
        }
        EXPECT_GE(checked, 95);
    }
}

}  // namespace
}  // namespace plotmint
