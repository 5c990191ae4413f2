#include "text/hershey.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "metafile/recording_surface.h"
#include "text/fonts.h"

namespace plotmint {
namespace {

using Lines = std::vector<std::string>;

struct Run {
    double x, y, size, angle;
    std::string font, text;
};

struct Layout {
    std::vector<Run> runs;
    HersheyPen pen;
    VectorLog log;
    VectorLog diagnostics;
};

constexpr int32_t kX = 1000, kY = 2000;

Layout lay_out(const std::vector<int32_t>& codes, const char* font = "Helvetica", int32_t size = 10,
               int32_t angle10 = 0) {
    Layout l;
    l.pen = hershey_layout(find_ps_font(font), kX, kY, size, angle10, codes, l.log, l.diagnostics, [&l](const HersheyRun& r) {
        l.runs.push_back(Run{r.x, r.y, r.size, r.angle, std::string(r.font ? r.font->name : ""), std::string(r.text)});
    });
    return l;
}

// Widths as multiples of the size, straight from the Adobe entries.
constexpr double kHelvA = 6.67 / 6.41;
constexpr double kHelvX = 5.00 / 6.41;
constexpr double kHelvY = 5.00 / 6.41;
constexpr double kHelvSpace = 2.78 / 6.41;
constexpr double kSymbolMinus = 5.49 / 6.57;
constexpr double kSymbolSpace = 2.50 / 6.57;
constexpr double kSymbolPartial = 4.94 / 6.57;

constexpr double kTight = 1e-9;

TEST(HersheyLayoutTest, TwoLettersFormOneRun) {
    const Layout l = lay_out({100, 101});
    ASSERT_EQ(l.runs.size(), 1u);
    EXPECT_EQ(l.runs[0].text, "AB");
    EXPECT_EQ(l.runs[0].font, "Helvetica");
    EXPECT_EQ(l.runs[0].x, kX);
    EXPECT_EQ(l.runs[0].y, kY);
    EXPECT_EQ(l.runs[0].size, 10.0);
    EXPECT_EQ(l.runs[0].angle, 0.0);
    // A and B are both 667 wide in Helvetica: 2 * 10 * 6.67 / 6.41
    EXPECT_NEAR(l.pen.x, kX + 20.8112324, 1e-6);
    EXPECT_EQ(l.pen.y, kY);
    EXPECT_TRUE(l.log.lines.empty());
    EXPECT_TRUE(l.diagnostics.lines.empty());
}

TEST(HersheyLayoutTest, TimesAdvancesByTimesWidths) {
    const Layout l = lay_out({100, 101}, "Times-Roman");
    ASSERT_EQ(l.runs.size(), 1u);
    EXPECT_EQ(l.runs[0].font, "Times-Roman");
    // A 722, B 667
    EXPECT_NEAR(l.pen.x, kX + 10 * (7.22 + 6.67) / 6.57, kTight);
}

TEST(HersheyLayoutTest, NoNumbersDrawNothing) {
    const Layout l = lay_out({});
    EXPECT_TRUE(l.runs.empty());
    EXPECT_EQ(l.pen.x, kX);
    EXPECT_EQ(l.pen.y, kY);
    EXPECT_EQ(l.pen.size, 10.0);
}

TEST(HersheyLayoutTest, MinusSplitsTheRunIntoSymbol) {
    const Layout l = lay_out({149, 163, 150});
    ASSERT_EQ(l.runs.size(), 3u);
    EXPECT_EQ(l.runs[0].font, "Helvetica");
    EXPECT_EQ(l.runs[0].text, "x");
    EXPECT_EQ(l.runs[1].font, "Symbol");
    EXPECT_EQ(l.runs[1].text, "-");
    EXPECT_EQ(l.runs[2].font, "Helvetica");
    EXPECT_EQ(l.runs[2].text, "y");
    EXPECT_EQ(l.runs[0].x, kX);
    EXPECT_NEAR(l.runs[1].x, kX + 10 * kHelvX, kTight);
    EXPECT_NEAR(l.runs[2].x, kX + 10 * (kHelvX + kSymbolMinus), kTight);
    EXPECT_NEAR(l.pen.x, kX + 10 * (kHelvX + kSymbolMinus + kHelvY), kTight);
}

TEST(HersheyLayoutTest, CentredCharacterSitsInACellOneSizeWide) {
    const Layout l = lay_out({-100});
    ASSERT_EQ(l.runs.size(), 1u);
    EXPECT_EQ(l.runs[0].text, "A");
    EXPECT_EQ(l.runs[0].font, "Helvetica");
    // 0.5 * (1 - 6.67 / 6.41) * 10 = -0.2028
    EXPECT_NEAR(l.runs[0].x, kX - 0.2028081, 1e-6);
    EXPECT_EQ(l.runs[0].y, kY);
    EXPECT_EQ(l.pen.x, kX + 10.0);
}

TEST(HersheyLayoutTest, CentredCharacterEndsTheRunBeforeIt) {
    const Layout l = lay_out({100, -101, 102});
    ASSERT_EQ(l.runs.size(), 3u);
    EXPECT_EQ(l.runs[0].text, "A");
    EXPECT_EQ(l.runs[1].text, "B");
    EXPECT_EQ(l.runs[2].text, "C");
    const double after_a = kX + 10 * kHelvA;
    EXPECT_NEAR(l.runs[1].x, after_a + 0.5 * (1 - kHelvA) * 10, kTight);  // B is as wide as A
    EXPECT_NEAR(l.runs[2].x, after_a + 10, kTight);
}

TEST(HersheyLayoutTest, SpaceStepAdvancesByTheFullSize) {
    const Layout l = lay_out({100, 9000, 101});
    ASSERT_EQ(l.runs.size(), 2u);
    EXPECT_EQ(l.runs[0].text, "A");
    EXPECT_EQ(l.runs[1].text, "B");
    EXPECT_NEAR(l.runs[1].x, kX + 10 * kHelvA + 10, kTight);
}

TEST(HersheyLayoutTest, SignSpaceAdvancesByTheFontsSpace) {
    const Layout l = lay_out({100, 0, 101});
    ASSERT_EQ(l.runs.size(), 1u);
    EXPECT_EQ(l.runs[0].text, "A B");
    EXPECT_NEAR(l.pen.x, kX + 10 * (kHelvA + kHelvSpace + kHelvA), kTight);
}

TEST(HersheyLayoutTest, SuperscriptReturnsToBaselineAndSize) {
    const Layout l = lay_out({100, 9001, 150, 9003, 101});
    ASSERT_EQ(l.runs.size(), 3u);
    EXPECT_EQ(l.runs[1].text, "y");
    EXPECT_NEAR(l.runs[1].x, kX + 10 * kHelvA, kTight);
    EXPECT_NEAR(l.runs[1].y, kY + 6.5, kTight);
    EXPECT_NEAR(l.runs[1].size, 6.5, kTight);
    EXPECT_EQ(l.runs[2].text, "B");
    EXPECT_NEAR(l.runs[2].x, kX + 10 * kHelvA + 6.5 * kHelvY, kTight);
    EXPECT_NEAR(l.runs[2].y, kY, kTight);
    EXPECT_NEAR(l.runs[2].size, 10.0, kTight);
}

TEST(HersheyLayoutTest, SubscriptReturnsToBaselineAndSize) {
    const Layout l = lay_out({9002, 150, 9003, 101});
    ASSERT_EQ(l.runs.size(), 2u);
    EXPECT_EQ(l.runs[0].text, "y");
    EXPECT_EQ(l.runs[0].x, kX);
    EXPECT_NEAR(l.runs[0].y, kY - 2.0, kTight);
    EXPECT_NEAR(l.runs[0].size, 6.5, kTight);
    EXPECT_NEAR(l.runs[1].y, kY, kTight);
    EXPECT_NEAR(l.runs[1].size, 10.0, kTight);
}

TEST(HersheyLayoutTest, NestedScriptsUnwindInOrder) {
    // superscript, then a subscript inside it
    const Layout l = lay_out({9001, 9002, 100, 9003, 101, 9003, 102});
    ASSERT_EQ(l.runs.size(), 3u);
    EXPECT_NEAR(l.runs[0].y, kY + 6.5 - 0.2 * 6.5, kTight);
    EXPECT_NEAR(l.runs[0].size, 6.5 * 0.65, kTight);
    EXPECT_NEAR(l.runs[1].y, kY + 6.5, kTight);
    EXPECT_NEAR(l.runs[1].size, 6.5, kTight);
    EXPECT_NEAR(l.runs[2].y, kY, kTight);
    EXPECT_NEAR(l.runs[2].size, 10.0, kTight);
}

TEST(HersheyLayoutTest, UnmatchedScriptEndIsDropped) {
    const Layout l = lay_out({100, 9003, 101});
    ASSERT_EQ(l.runs.size(), 1u);
    EXPECT_EQ(l.runs[0].text, "AB");
    EXPECT_EQ(l.pen.size, 10.0);
    EXPECT_EQ(l.pen.y, kY);
}

TEST(HersheyLayoutTest, ScriptsDeeperThanTwentyAreDropped) {
    std::vector<int32_t> codes(21, 9001);
    codes.push_back(100);
    codes.insert(codes.end(), 21, 9003);
    codes.push_back(101);
    const Layout l = lay_out(codes);
    ASSERT_EQ(l.runs.size(), 2u);
    // Twenty levels, not twenty-one.
    EXPECT_NEAR(l.runs[0].size, 10 * std::pow(0.65, 20), 1e-12);
    double rise = 0, s = 10;
    for (int i = 0; i < 20; ++i) {
        rise += 0.65 * s;
        s *= 0.65;
    }
    EXPECT_NEAR(l.runs[0].y, kY + rise, 1e-9);
    EXPECT_NEAR(l.runs[1].size, 10.0, 1e-9);
    EXPECT_NEAR(l.runs[1].y, kY, 1e-9);
}

TEST(HersheyLayoutTest, UnsupportedSignIsASpaceReportedOnStandardError) {
    const Layout l = lay_out({100, 9, 101});
    ASSERT_EQ(l.runs.size(), 1u);
    EXPECT_EQ(l.runs[0].text, "A B");
    EXPECT_EQ(l.runs[0].font, "Helvetica");
    EXPECT_EQ(l.diagnostics.lines, Lines{"This hershey font no.9 is not supported. Replaced by space.\n"});
    EXPECT_TRUE(l.log.lines.empty());
}

TEST(HersheyLayoutTest, UnsupportedSignKeepsTheRunsFont) {
    // After the partial differential the run is in Symbol; the space joins it.
    const Layout l = lay_out({3, 47, 100});
    ASSERT_EQ(l.runs.size(), 2u);
    EXPECT_EQ(l.runs[0].font, "Symbol");
    EXPECT_EQ(l.runs[0].text, "\xb6 ");
    EXPECT_EQ(l.runs[1].font, "Helvetica");
    EXPECT_NEAR(l.runs[1].x, kX + 10 * (kSymbolPartial + kSymbolSpace), kTight);
    EXPECT_EQ(l.diagnostics.lines, Lines{"This hershey font no.47 is not supported. Replaced by space.\n"});
}

TEST(HersheyLayoutTest, EveryUnsupportedSignIsReported) {
    for (const int32_t lo : {9, 20, 28, 29, 41, 42, 46, 47, -9, -47}) {
        const Layout l = lay_out({lo});
        ASSERT_EQ(l.runs.size(), 1u) << lo;
        EXPECT_EQ(l.runs[0].text, " ") << lo;
        EXPECT_EQ(l.diagnostics.lines,
                  Lines{"This hershey font no." + std::to_string(std::abs(lo)) +
                        " is not supported. Replaced by space.\n"})
            << lo;
    }
}

struct MapCase {
    int32_t v;
    const char* font;
    const char* text;
};

void PrintTo(const MapCase& c, std::ostream* os) { *os << c.v; }

class HersheyMapTest : public ::testing::TestWithParam<MapCase> {};

TEST_P(HersheyMapTest, GivesCodeAndFont) {
    const MapCase& c = GetParam();
    const Layout l = lay_out({c.v});
    ASSERT_EQ(l.runs.size(), 1u);
    EXPECT_EQ(l.runs[0].font, c.font);
    EXPECT_EQ(l.runs[0].text, c.text);
    EXPECT_TRUE(l.diagnostics.lines.empty());
    EXPECT_TRUE(l.log.lines.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Latin, HersheyMapTest,
    ::testing::Values(MapCase{100, "Helvetica", "A"}, MapCase{125, "Helvetica", "Z"}, MapCase{126, "Helvetica", "a"},
                      MapCase{151, "Helvetica", "z"}, MapCase{152, "Helvetica", "0"}, MapCase{161, "Helvetica", "9"},
                      MapCase{162, "Helvetica", "+"}, MapCase{163, "Symbol", "-"}, MapCase{164, "Helvetica", "/"},
                      MapCase{165, "Helvetica", "="}, MapCase{166, "Helvetica", "("}, MapCase{167, "Helvetica", ")"},
                      MapCase{168, "Helvetica", "*"}, MapCase{169, "Helvetica", ","}, MapCase{170, "Helvetica", "."},
                      MapCase{171, "Helvetica", "$"}, MapCase{172, "Helvetica", " "}, MapCase{199, "Helvetica", " "},
                      MapCase{900, "Helvetica", "A"}, MapCase{963, "Symbol", "-"}, MapCase{999, "Helvetica", " "}));

INSTANTIATE_TEST_SUITE_P(
    Greek, HersheyMapTest,
    ::testing::Values(MapCase{1000, "Symbol", "A"}, MapCase{1100, "Symbol", "A"}, MapCase{2000, "Symbol", "A"},
                      MapCase{1002, "Symbol", "G"}, MapCase{1007, "Symbol", "Q"}, MapCase{1020, "Symbol", "F"},
                      MapCase{1023, "Symbol", "W"}, MapCase{1024, "Symbol", "a"}, MapCase{1047, "Symbol", "w"},
                      MapCase{1048, "Symbol", " "}, MapCase{1050, "Symbol", " "}, MapCase{1099, "Symbol", " "},
                      // Magnitudes beyond int32's positive range are still characters.
                      MapCase{std::numeric_limits<int32_t>::max(), "Symbol", "w"},
                      MapCase{std::numeric_limits<int32_t>::min(), "Symbol", " "}));

INSTANTIATE_TEST_SUITE_P(
    Signs, HersheyMapTest,
    ::testing::Values(MapCase{0, "Helvetica", " "}, MapCase{1, "Helvetica", "<"}, MapCase{2, "Helvetica", ">"},
                      MapCase{3, "Symbol", "\xb6"}, MapCase{4, "Symbol", "\xd1"}, MapCase{5, "Helvetica", " "},
                      MapCase{6, "Symbol", "\xa3"}, MapCase{7, "Symbol", "\xb3"}, MapCase{8, "Symbol", "\xb5"},
                      MapCase{11, "Symbol", "\xa5"}, MapCase{12, "Symbol", "\xb1"}, MapCase{14, "Symbol", "\xb4"},
                      MapCase{15, "Symbol", "\xb8"}, MapCase{16, "Symbol", "\xd5"}, MapCase{18, "Symbol", "\xd6"},
                      MapCase{19, "Symbol", "\xe5"}, MapCase{21, "Helvetica", "{"}, MapCase{22, "Helvetica", "}"},
                      MapCase{23, "Helvetica", "@"}, MapCase{24, "Helvetica", "^"}, MapCase{25, "Helvetica", "["},
                      MapCase{26, "Helvetica", "]"}, MapCase{27, "Helvetica", "#"}, MapCase{30, "Helvetica", ":"},
                      MapCase{31, "Helvetica", ";"}, MapCase{32, "Helvetica", "!"}, MapCase{33, "Helvetica", "?"},
                      MapCase{34, "Helvetica", "%"}, MapCase{35, "Helvetica", "&"}, MapCase{36, "Helvetica", " "},
                      MapCase{40, "Helvetica", "~"}, MapCase{43, "Helvetica", "|"}, MapCase{44, "Helvetica", "\""},
                      MapCase{45, "Symbol", "\xb0"}, MapCase{48, "Helvetica", "'"}, MapCase{49, "Helvetica", " "},
                      MapCase{99, "Helvetica", " "}));

// Control numbers are recognised before the sign is dropped: the negatives are centred
// Greek capitals.
INSTANTIATE_TEST_SUITE_P(NegativeControls, HersheyMapTest,
                         ::testing::Values(MapCase{-9000, "Symbol", "A"}, MapCase{-9001, "Symbol", "B"},
                                           MapCase{-9002, "Symbol", "G"}, MapCase{-9003, "Symbol", "D"}));

TEST(HersheyLayoutTest, NegativeControlNumbersAreCentred) {
    const Layout l = lay_out({-9000, -9001});
    ASSERT_EQ(l.runs.size(), 2u);
    // Symbol Alpha 722, Beta 667
    EXPECT_NEAR(l.runs[0].x, kX + 0.5 * (1 - 7.22 / 6.57) * 10, kTight);
    EXPECT_NEAR(l.runs[1].x, kX + 10 + 0.5 * (1 - 6.67 / 6.57) * 10, kTight);
    EXPECT_EQ(l.pen.x, kX + 20.0);
}

TEST(HersheyLayoutTest, QuarterTurnWritesUpward) {
    const Layout l = lay_out({100, 101}, "Helvetica", 10, 900);
    ASSERT_EQ(l.runs.size(), 1u);
    EXPECT_EQ(l.runs[0].angle, 90.0);
    EXPECT_NEAR(l.pen.x, kX, 1e-12);
    EXPECT_NEAR(l.pen.y, kY + 20 * kHelvA, kTight);
}

TEST(HersheyLayoutTest, QuarterTurnSuperscriptMovesLeft) {
    const Layout l = lay_out({9001, 100}, "Helvetica", 10, 900);
    ASSERT_EQ(l.runs.size(), 1u);
    EXPECT_NEAR(l.runs[0].x, kX - 6.5, kTight);
    EXPECT_NEAR(l.runs[0].y, kY, kTight);
}

TEST(HersheyLayoutTest, LongBlocksAreDrawnInRunsOfThreeHundred) {
    const std::vector<int32_t> codes(700, 100);
    const Layout l = lay_out(codes);
    ASSERT_EQ(l.runs.size(), 3u);
    EXPECT_EQ(l.runs[0].text, std::string(300, 'A'));
    EXPECT_EQ(l.runs[1].text, std::string(300, 'A'));
    EXPECT_EQ(l.runs[2].text, std::string(100, 'A'));
    EXPECT_NEAR(l.runs[1].x, kX + 300 * 10 * kHelvA, 1e-6);
    EXPECT_NEAR(l.runs[2].x, kX + 600 * 10 * kHelvA, 1e-6);
    EXPECT_NEAR(l.pen.x, kX + 700 * 10 * kHelvA, 1e-6);
}

// --- hershey_text, down to the surface -------------------------------------------------

struct SurfaceFixture {
    RecordingSurface surface;
    VectorLog log;
    VectorLog diagnostics;
    RenderContext ctx{surface, log, diagnostics, 0, 200, 20, {}};
};

TEST(HersheyTextTest, DrawsRunsAtTheirBaselines) {
    SurfaceFixture f;
    set_hershey_font(f.ctx, ps_font(PsFontId::helvetica));
    const std::vector<int32_t> codes{149, 163, 150};
    hershey_text(f.ctx, 100, 50, 10, 0, codes);
    // x: 100, 100 + 7.8003 = 107.80, 107.80 + 8.3562 = 116.16
    const Lines expected{
        "create_font \"Arial\" h=17 w=0 esc=0 ori=0 weight=400 charset=0 -> 1",
        "select 1 -> stock:13",
        "delete stock:13",
        "text_out 120 156 \"x\"",
        "create_font \"Symbol\" h=18 w=0 esc=0 ori=0 weight=400 charset=2 -> 2",
        "select 2 -> 1",
        "delete 1",
        "text_out 127 155 \"-\"",
        "create_font \"Arial\" h=17 w=0 esc=0 ori=0 weight=400 charset=0 -> 3",
        "select 3 -> 2",
        "delete 2",
        "text_out 136 156 \"y\"",
    };
    EXPECT_EQ(f.surface.calls, expected);
    EXPECT_TRUE(f.log.lines.empty());
}

TEST(HersheyTextTest, QuarterTurnIsDrawnTurned) {
    SurfaceFixture f;
    set_hershey_font(f.ctx, ps_font(PsFontId::times_roman));
    const std::vector<int32_t> codes{100, 101};
    hershey_text(f.ctx, 100, 50, 10, 900, codes);
    // h = 16; 120 - 16 * 0.81 = 107.04
    const Lines expected{
        "create_font \"Times New Roman\" h=16 w=0 esc=900 ori=900 weight=400 charset=0 -> 1",
        "select 1 -> stock:13",
        "delete stock:13",
        "text_out 107 170 \"AB\"",
    };
    EXPECT_EQ(f.surface.calls, expected);
}

TEST(HersheyTextTest, UnsupportedSignGoesToDiagnosticsOnly) {
    SurfaceFixture f;
    set_hershey_font(f.ctx, ps_font(PsFontId::helvetica));
    const std::vector<int32_t> codes{9};
    hershey_text(f.ctx, 100, 50, 10, 0, codes);
    EXPECT_EQ(f.surface.calls.back(), "text_out 120 156 \" \"");
    EXPECT_EQ(f.diagnostics.lines, Lines{"This hershey font no.9 is not supported. Replaced by space.\n"});
    EXPECT_TRUE(f.log.lines.empty());
}

TEST(HersheyTextTest, RefusedAngleIsReportedOncePerRun) {
    SurfaceFixture f;
    set_hershey_font(f.ctx, ps_font(PsFontId::helvetica));
    const std::vector<int32_t> codes{100, 163, 101};
    hershey_text(f.ctx, 100, 50, 10, 450, codes);
    EXPECT_EQ(f.log.lines, Lines(3, "This angle 45 is not supported."));
    for (const std::string& call : f.surface.calls) EXPECT_NE(call.rfind("text_out", 0), 0u) << call;
}

TEST(HersheyTextTest, EmptyBlockTouchesNothing) {
    SurfaceFixture f;
    set_hershey_font(f.ctx, ps_font(PsFontId::helvetica));
    hershey_text(f.ctx, 100, 50, 10, 0, {});
    EXPECT_TRUE(f.surface.calls.empty());
    EXPECT_TRUE(f.log.lines.empty());
}

}  // namespace
}  // namespace plotmint
