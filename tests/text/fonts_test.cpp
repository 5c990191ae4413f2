#include "text/fonts.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "metafile/recording_surface.h"

namespace plotmint {
namespace {

using Lines = std::vector<std::string>;

// --- nameconv -------------------------------------------------------------------------

struct NameCase {
    int32_t font_no;
    const char* name;
    bool logs;
};

class NameconvTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(NameconvTest, MapsNumberToPostScriptName) {
    const NameCase& c = GetParam();
    VectorLog log;
    EXPECT_EQ(nameconv(c.font_no, log).name, c.name);
    if (c.logs) {
        const std::string expected =
            "Font no is not correct in nameconv. Use default font. font_no = " + std::to_string(c.font_no) + "\n";
        EXPECT_EQ(log.lines, Lines{expected});
    } else {
        EXPECT_TRUE(log.lines.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Numbers, NameconvTest,
    ::testing::Values(NameCase{1, "Helvetica", false}, NameCase{5, "Courier", false},
                      NameCase{9, "Times-Roman", false}, NameCase{13, "NewCenturySchlbk-Roman", false},
                      NameCase{17, "Symbol", false}, NameCase{0, "Helvetica", true},
                      NameCase{2, "Helvetica", true}, NameCase{18, "Helvetica", true},
                      NameCase{-1, "Helvetica", true},
                      NameCase{std::numeric_limits<int32_t>::min(), "Helvetica", true}));

// --- ps_text_out ----------------------------------------------------------------------

// xmin 0, ymax 200, margin 20: graph (100, 50) is metafile (120, 170) on the baseline.
struct TextOutFixture {
    RecordingSurface surface;
    VectorLog log;
    VectorLog diagnostics;
    RenderContext ctx{surface, log, diagnostics, 0, 200, 20, {}};
};

struct PlacementCase {
    const char* what;
    const char* fontname;
    double x, y, size, angle;
    const char* font_line;  // create_font without its " -> id"
    const char* text_line;  // nullptr: refused after the font is selected
    const char* message;    // nullptr: nothing logged
};

void PrintTo(const PlacementCase& c, std::ostream* os) { *os << c.what; }

class PsTextOutPlacementTest : public ::testing::TestWithParam<PlacementCase> {};

TEST_P(PsTextOutPlacementTest, CreatesSelectsAndPlacesBaseline) {
    const PlacementCase& c = GetParam();
    TextOutFixture f;
    ps_text_out(f.ctx, c.x, c.y, c.size, c.angle, c.fontname, "AB");

    Lines expected{std::string(c.font_line) + " -> 1", "select 1 -> stock:13", "delete stock:13"};
    if (c.text_line) expected.push_back(c.text_line);
    EXPECT_EQ(f.surface.calls, expected);
    if (c.message)
        EXPECT_EQ(f.log.lines, Lines{c.message});
    else
        EXPECT_TRUE(f.log.lines.empty());
    EXPECT_TRUE(f.diagnostics.lines.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Faces, PsTextOutPlacementTest,
    ::testing::Values(
        // 170 - 17 * 0.81 = 156.23
        PlacementCase{"helvetica_size10", "Helvetica", 100, 50, 10, 0,
                      "create_font \"Arial\" h=17 w=0 esc=0 ori=0 weight=400 charset=0", "text_out 120 156 \"AB\"",
                      nullptr},
        // 170 - 21 * 0.81 = 152.99
        PlacementCase{"helvetica_size12", "Helvetica", 100, 50, 12, 0,
                      "create_font \"Arial\" h=21 w=0 esc=0 ori=0 weight=400 charset=0", "text_out 120 152 \"AB\"",
                      nullptr},
        PlacementCase{"helvetica_bold", "Helvetica-Bold", 100, 50, 10, 0,
                      "create_font \"Arial\" h=17 w=0 esc=0 ori=0 weight=700 charset=0", "text_out 120 156 \"AB\"",
                      nullptr},
        // h = trunc(16.8); 170 - 16 * 0.81 = 157.04
        PlacementCase{"times", "Times-Roman", 100, 50, 10, 0,
                      "create_font \"Times New Roman\" h=16 w=0 esc=0 ori=0 weight=400 charset=0",
                      "text_out 120 157 \"AB\"", nullptr},
        // h = trunc(17.9); 170 - 17 * 0.82 = 156.06
        PlacementCase{"century", "NewCenturySchlbok-Roman", 100, 50, 10, 0,
                      "create_font \"Century\" h=17 w=0 esc=0 ori=0 weight=400 charset=0", "text_out 120 156 \"AB\"",
                      nullptr},
        // h = trunc(18.6); 170 - 18 * 0.82 = 155.24
        PlacementCase{"symbol", "Symbol", 100, 50, 10, 0,
                      "create_font \"Symbol\" h=18 w=0 esc=0 ori=0 weight=400 charset=2", "text_out 120 155 \"AB\"",
                      nullptr},
        PlacementCase{"symbol_bold_is_ansi", "Symbol-Bold", 100, 50, 10, 0,
                      "create_font \"Symbol\" h=18 w=0 esc=0 ori=0 weight=700 charset=0", "text_out 120 155 \"AB\"",
                      nullptr},
        // h = trunc(19.3); 170 - 19 * 0.74 = 155.94
        PlacementCase{"courier", "Courier", 100, 50, 10, 0,
                      "create_font \"Courier New\" h=19 w=0 esc=0 ori=0 weight=400 charset=0",
                      "text_out 120 155 \"AB\"", nullptr},
        // Rows are tried in table order, not in the order the keys occur in the name.
        PlacementCase{"helvetica_row_before_courier", "Courier-Helvetica", 100, 50, 10, 0,
                      "create_font \"Arial\" h=17 w=0 esc=0 ori=0 weight=400 charset=0", "text_out 120 156 \"AB\"",
                      nullptr},
        PlacementCase{"symbol_row_before_times", "Times-Symbol", 100, 50, 10, 0,
                      "create_font \"Symbol\" h=18 w=0 esc=0 ori=0 weight=400 charset=0", "text_out 120 155 \"AB\"",
                      nullptr},
        // Sizes at which a factor off by 0.01 would move the height or the reference point.
        PlacementCase{"helvetica_size54", "Helvetica", 100, 50, 54, 0,
                      "create_font \"Arial\" h=94 w=0 esc=0 ori=0 weight=400 charset=0", "text_out 120 93 \"AB\"",
                      nullptr},
        PlacementCase{"helvetica_size54_vertical", "Helvetica", 100, 50, 54, 90,
                      "create_font \"Arial\" h=94 w=0 esc=900 ori=900 weight=400 charset=0", "text_out 43 170 \"AB\"",
                      nullptr},
        PlacementCase{"symbol_size61", "Symbol", 100, 50, 61, 0,
                      "create_font \"Symbol\" h=113 w=0 esc=0 ori=0 weight=400 charset=2", "text_out 120 77 \"AB\"",
                      nullptr},
        PlacementCase{"symbol_size61_vertical", "Symbol", 100, 50, 61, 90,
                      "create_font \"Symbol\" h=113 w=0 esc=900 ori=900 weight=400 charset=2", "text_out 27 170 \"AB\"",
                      nullptr},
        PlacementCase{"century_size55", "NewCenturySchlbok-Roman", 100, 50, 55, 0,
                      "create_font \"Century\" h=98 w=0 esc=0 ori=0 weight=400 charset=0", "text_out 120 89 \"AB\"",
                      nullptr},
        PlacementCase{"century_size55_vertical", "NewCenturySchlbok-Roman", 100, 50, 55, 90,
                      "create_font \"Century\" h=98 w=0 esc=900 ori=900 weight=400 charset=0", "text_out 39 170 \"AB\"",
                      nullptr},
        PlacementCase{"times_size58", "Times-Roman", 100, 50, 58, 0,
                      "create_font \"Times New Roman\" h=97 w=0 esc=0 ori=0 weight=400 charset=0", "text_out 120 91 \"AB\"",
                      nullptr},
        PlacementCase{"times_size58_vertical", "Times-Roman", 100, 50, 58, 90,
                      "create_font \"Times New Roman\" h=97 w=0 esc=900 ori=900 weight=400 charset=0", "text_out 41 170 \"AB\"",
                      nullptr},
        PlacementCase{"courier_size63", "Courier", 100, 50, 63, 0,
                      "create_font \"Courier New\" h=121 w=0 esc=0 ori=0 weight=400 charset=0", "text_out 120 80 \"AB\"",
                      nullptr},
        PlacementCase{"courier_size63_vertical", "Courier", 100, 50, 63, 90,
                      "create_font \"Courier New\" h=121 w=0 esc=900 ori=900 weight=400 charset=0", "text_out 30 170 \"AB\"",
                      nullptr},
        // Quarter turn: the cell's top lies 13.77 to the left of the baseline point.
        PlacementCase{"vertical", "Helvetica", 100, 50, 10, 90,
                      "create_font \"Arial\" h=17 w=0 esc=900 ori=900 weight=400 charset=0",
                      "text_out 106 170 \"AB\"", nullptr},
        PlacementCase{"almost_vertical", "Helvetica", 100, 50, 10, 89.6,
                      "create_font \"Arial\" h=17 w=0 esc=900 ori=900 weight=400 charset=0",
                      "text_out 106 170 \"AB\"", nullptr},
        PlacementCase{"minus_one_is_horizontal", "Helvetica", 100, 50, 10, -1.0,
                      "create_font \"Arial\" h=17 w=0 esc=0 ori=0 weight=400 charset=0", "text_out 120 156 \"AB\"",
                      nullptr},
        PlacementCase{"minus_1_4_is_horizontal", "Helvetica", 100, 50, 10, -1.4,
                      "create_font \"Arial\" h=17 w=0 esc=0 ori=0 weight=400 charset=0", "text_out 120 156 \"AB\"",
                      nullptr},
        // Fractions and negatives truncate toward zero: -130.7 -> -130, -93.77 -> -93.
        PlacementCase{"negative_truncates_toward_zero", "Helvetica", -150.7, 300, 10, 0,
                      "create_font \"Arial\" h=17 w=0 esc=0 ori=0 weight=400 charset=0",
                      "text_out -130 -93 \"AB\"", nullptr},
        PlacementCase{"fractional_point", "Helvetica", 100.99, 49.5, 10, 0,
                      "create_font \"Arial\" h=17 w=0 esc=0 ori=0 weight=400 charset=0", "text_out 120 156 \"AB\"",
                      nullptr},
        PlacementCase{"angle_90_5_refused", "Helvetica", 100, 50, 10, 90.5,
                      "create_font \"Arial\" h=17 w=0 esc=910 ori=910 weight=400 charset=0", nullptr,
                      "This angle 91 is not supported."},
        PlacementCase{"angle_0_5_refused", "Helvetica", 100, 50, 10, 0.5,
                      "create_font \"Arial\" h=17 w=0 esc=10 ori=10 weight=400 charset=0", nullptr,
                      "This angle 1 is not supported."},
        PlacementCase{"angle_minus_90_refused", "Helvetica", 100, 50, 10, -90,
                      "create_font \"Arial\" h=17 w=0 esc=-890 ori=-890 weight=400 charset=0", nullptr,
                      "This angle -89 is not supported."},
        PlacementCase{"angle_270_refused", "Helvetica", 100, 50, 10, 270,
                      "create_font \"Arial\" h=17 w=0 esc=2700 ori=2700 weight=400 charset=0", nullptr,
                      "This angle 270 is not supported."},
        // Coordinates without an int32 value are reported, never drawn.
        PlacementCase{"x_beyond_int32", "Helvetica", 3e9, 50, 10, 0,
                      "create_font \"Arial\" h=17 w=0 esc=0 ori=0 weight=400 charset=0", nullptr,
                      "text position is out of range. x = 3e+09, y = 50"},
        PlacementCase{"y_nan", "Helvetica", 100, std::nan(""), 10, 0,
                      "create_font \"Arial\" h=17 w=0 esc=0 ori=0 weight=400 charset=0", nullptr,
                      "text position is out of range. x = 100, y = nan"}),
    [](const auto& tp) { return std::string(tp.param.what); });

TEST(PsTextOutTest, EveryCallFreesThePreviousFont) {
    TextOutFixture f;
    ps_text_out(f.ctx, 100, 50, 10, 0, "Helvetica", "A");
    ps_text_out(f.ctx, 100, 50, 10, 0, "Symbol", "\xb6");
    ps_text_out(f.ctx, 100, 50, 10, 45, "Times-Roman", "C");  // refused angle still frees
    ps_text_out(f.ctx, 100, 50, 10, 0, "Courier", "D");
    const Lines expected{
        "create_font \"Arial\" h=17 w=0 esc=0 ori=0 weight=400 charset=0 -> 1",
        "select 1 -> stock:13",
        "delete stock:13",
        "text_out 120 156 \"A\"",
        "create_font \"Symbol\" h=18 w=0 esc=0 ori=0 weight=400 charset=2 -> 2",
        "select 2 -> 1",
        "delete 1",
        "text_out 120 155 \"\\xb6\"",
        "create_font \"Times New Roman\" h=16 w=0 esc=450 ori=450 weight=400 charset=0 -> 3",
        "select 3 -> 2",
        "delete 2",
        "create_font \"Courier New\" h=19 w=0 esc=0 ori=0 weight=400 charset=0 -> 4",
        "select 4 -> 3",
        "delete 3",
        "text_out 120 155 \"D\"",
    };
    EXPECT_EQ(f.surface.calls, expected);
    EXPECT_EQ(f.log.lines, Lines{"This angle 45 is not supported."});
}

TEST(PsTextOutTest, MappingFollowsTheContext) {
    TextOutFixture f;
    f.ctx.xmin = 40;
    f.ctx.ymax = 7860;
    f.ctx.margin = 28;
    ps_text_out(f.ctx, 100, 50, 10, 0, "Helvetica", "A");
    // 100 - 40 + 28 = 88; 7860 - 50 + 28 - 13.77 = 7824.23
    EXPECT_EQ(f.surface.calls.back(), "text_out 88 7824 \"A\"");
}

struct RefusalCase {
    const char* what;
    const char* fontname;
    double size, angle;
    size_t text_length;
    const char* message;  // nullptr: nothing logged
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.what; }

class PsTextOutRefusalTest : public ::testing::TestWithParam<RefusalCase> {};

// These are refused before any font is made, so the surface sees nothing at all.
TEST_P(PsTextOutRefusalTest, CreatesNoFont) {
    const RefusalCase& c = GetParam();
    TextOutFixture f;
    ps_text_out(f.ctx, 100, 50, c.size, c.angle, c.fontname, std::string(c.text_length, 'x'));
    EXPECT_TRUE(f.surface.calls.empty());
    if (c.message)
        EXPECT_EQ(f.log.lines, Lines{c.message});
    else
        EXPECT_TRUE(f.log.lines.empty());
}

constexpr double kInf = std::numeric_limits<double>::infinity();

INSTANTIATE_TEST_SUITE_P(
    Cases, PsTextOutRefusalTest,
    ::testing::Values(
        RefusalCase{"empty_text", "Helvetica", 10, 0, 0, nullptr},
        RefusalCase{"empty_text_unknown_name", "Futura", 10, 0, 0, nullptr},
        RefusalCase{"empty_text_bad_angle", "Helvetica", 10, 45, 0, nullptr},
        RefusalCase{"unknown_name", "Futura", 10, 0, 2, "fontname Futura is not supported."},
        RefusalCase{"keys_are_case_sensitive", "helvetica", 10, 0, 2, "fontname helvetica is not supported."},
        RefusalCase{"unknown_name_before_angle", "Futura", 10, 45, 2, "fontname Futura is not supported."},
        RefusalCase{"height_beyond_int32", "Helvetica", 2e9, 0, 2, "font height is out of range. size = 2e+09"},
        RefusalCase{"height_nan", "Symbol", std::nan(""), 0, 2, "font height is out of range. size = nan"},
        RefusalCase{"angle_nan", "Helvetica", 10, std::nan(""), 2, "This angle -2147483648 is not supported."},
        RefusalCase{"angle_inf", "Helvetica", 10, kInf, 2, "This angle 2147483647 is not supported."},
        // 10 * A would not fit the escapement field.
        RefusalCase{"escapement_beyond_int32", "Helvetica", 10, 214748364.7, 2,
                    "This angle 214748365 is not supported."}),
    [](const auto& tp) { return std::string(tp.param.what); });

TEST(PsTextOutTest, LargestEscapementStillMakesAFont) {
    TextOutFixture f;
    ps_text_out(f.ctx, 100, 50, 10, 214748364.0, "Helvetica", "A");
    ASSERT_FALSE(f.surface.calls.empty());
    EXPECT_EQ(f.surface.calls[0],
              "create_font \"Arial\" h=17 w=0 esc=2147483640 ori=2147483640 weight=400 charset=0 -> 1");
    EXPECT_EQ(f.log.lines, Lines{"This angle 214748364 is not supported."});
}

TEST(PsTextOutTest, HeightKeepsTheSignOfTheSize) {
    TextOutFixture f;
    ps_text_out(f.ctx, 100, 50, -10, 0, "Helvetica", "A");
    ASSERT_EQ(f.surface.calls.size(), 4u);
    EXPECT_EQ(f.surface.calls[0], "create_font \"Arial\" h=-17 w=0 esc=0 ori=0 weight=400 charset=0 -> 1");
    // 170 + 13.77 = 183.77
    EXPECT_EQ(f.surface.calls[3], "text_out 120 183 \"A\"");
}

TEST(SetHersheyFontTest, StoresTheFont) {
    TextOutFixture f;
    EXPECT_EQ(f.ctx.hershey_font, nullptr);
    set_hershey_font(f.ctx, ps_font(PsFontId::helvetica));
    EXPECT_EQ(f.ctx.hershey_font->name, "Helvetica");
    set_hershey_font(f.ctx, ps_font(PsFontId::times_roman));
    EXPECT_EQ(f.ctx.hershey_font->name, "Times-Roman");
}

// Each row is found by its own name, and the name rule of a text block's font selects the
// same row: the table has one spelling per font.
TEST(PsFontTable, RowsAreFoundByTheirNamesAndSelectedByTheNameRule) {
    for (const PsFont& f : ps_fonts()) {
        EXPECT_EQ(find_ps_font(f.name), &f) << f.name;
        const auto selected = select_ps_font(f.name);
        ASSERT_TRUE(selected) << f.name;
        EXPECT_EQ(selected->font, &f) << f.name;
        EXPECT_EQ(selected->weight, 400);
        EXPECT_EQ(selected->char_set, f.char_set) << f.name;
    }
    EXPECT_EQ(find_ps_font("Helvetica-Bold"), nullptr);
}

}  // namespace
}  // namespace plotmint
