#include "graph/renderer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "metafile/recording_surface.h"

namespace plotmint {
namespace {

struct Rendered {
    std::vector<std::string> calls;
    std::vector<std::string> log;
    RenderOutcome outcome;
};

// The settings and the fill tones a render draws with.
struct RenderSettings {
    Settings settings;
    TonePalette tone_color{};
};

RenderSettings default_settings() {
    RenderSettings s;
    for (int i = 0; i <= 100; ++i) s.tone_color[i] = Rgb{i, i, i};
    for (int i = 101; i <= 120; ++i) s.tone_color[i] = Rgb{128, 128, 128};
    for (int i = 0; i < kLineColors; ++i) s.settings.line_color[i] = Rgb{i, 0, 0};
    s.settings.vhline = VhlineMode::segments;
    s.settings.hershey = HersheyChoice::strokes;
    return s;
}

Rendered render(const std::string& graph, const RenderSettings& s, Extent e = {0, 1000, 0, 500}) {
    RecordReader reader;
    reader.open_memory(graph);
    RecordingSurface surface;
    VectorLog log, diag;
    Rendered out;
    out.outcome = make_metafile(reader, e, s.settings, s.tone_color, surface, log, diag);
    out.calls = surface.calls;
    out.log = log.lines;
    return out;
}

// The calls after the fixed set-up (bk mode, null pen, black brush).
std::vector<std::string> after_setup(const Rendered& r) {
    return std::vector<std::string>(r.calls.begin() + 7, r.calls.end());
}

TEST(Renderer, SetUpSelectsNullPenAndBlackBrush) {
    const Rendered r = render("", default_settings());
    ASSERT_GE(r.calls.size(), 7u);
    EXPECT_EQ(std::vector<std::string>(r.calls.begin(), r.calls.begin() + 7),
              (std::vector<std::string>{"bk_mode 1", "create_pen null 0 #000000 -> stock:8",
                                        "select stock:8 -> stock:7", "delete stock:7",
                                        "create_brush #000000 -> 1", "select 1 -> stock:0", "delete stock:0"}));
    EXPECT_EQ(r.outcome, RenderOutcome::finished);
}

TEST(Renderer, LinePassMapsPointsAndStartsInLineColorOne) {
    // The fill pass's set_color must not leak into the line pass's start colour.
    const Rendered r = render("6 5 0  3 0 0  2 100 0", default_settings());
    EXPECT_EQ(after_setup(r), (std::vector<std::string>{
                                  "create_pen solid 12 #010000 -> 2", "select 2 -> stock:8", "delete stock:8",
                                  "text_color #010000",
                                  "create_pen solid 12 #050000 -> 3", "select 3 -> 2", "delete 2",
                                  "text_color #050000", "move_to 28 528", "line_to 128 528"}));
}

TEST(Renderer, WidthIndexPersistsAcrossColorChanges) {
    const Rendered r = render("5 0 3  6 2 0", default_settings());
    const auto calls = after_setup(r);
    EXPECT_EQ(calls[4], "create_pen solid 20 #010000 -> 3");
    EXPECT_EQ(calls[7], "create_pen solid 20 #020000 -> 4");
}

TEST(Renderer, FillOfModeTwoBeforeAnySettingUsesFirstWidthAndBlack) {
    // four vertex records, the fourth repeating the first: a triangle
    const Rendered r = render("7 2 4  0 50 0  0 0 0  0 100 0  0 50 100  0 0 0  9 0 0", default_settings());
    const auto calls = after_setup(r);
    ASSERT_GE(calls.size(), 7u);
    EXPECT_EQ(calls[0], "create_pen solid 12 #000000 -> 2");
    EXPECT_EQ(calls[3], "create_brush #323232 -> 3");
    EXPECT_EQ(calls[6], "polygon 28,528 128,528 78,428");
}

TEST(Renderer, FillColorMarkersUseLastExplicitColour) {
    RenderSettings s = default_settings();
    s.tone_color[7] = Rgb{-2, 0, 0};
    s.settings.line_color[3] = Rgb{10, 20, 30};
    s.settings.line_color[4] = Rgb{-1, 0, 0};
    // before any set_color: black; after (10,20,30) then a white marker: (10,20,30)
    const Rendered r = render("7 1 3  0 7 0  0 0 0  0 1 1  0 2 2  9 0 0  6 3 0  6 4 0  7 1 3  0 7 0  0 0 0  0 1 1  0 2 2  9 0 0", s);
    std::vector<std::string> brushes;
    for (const auto& c : r.calls)
        if (c.rfind("create_brush", 0) == 0) brushes.push_back(c.substr(13, 7));
    ASSERT_EQ(brushes.size(), 3u);
    EXPECT_EQ(brushes[1], "#000000");
    EXPECT_EQ(brushes[2], "#0a141e");
}

struct FillLimitCase {
    const char* name;
    std::string graph;
    std::vector<std::string> log;
    RenderOutcome outcome;
    int polygons;
};

class FillLimits : public ::testing::TestWithParam<FillLimitCase> {};

TEST_P(FillLimits, AreReportedAsTheyShould) {
    const Rendered r = render(GetParam().graph, default_settings());
    EXPECT_EQ(r.log, GetParam().log);
    EXPECT_EQ(r.outcome, GetParam().outcome);
    int polygons = 0;
    for (const auto& c : r.calls) polygons += c.rfind("polygon", 0) == 0;
    EXPECT_EQ(polygons, GetParam().polygons);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FillLimits,
    ::testing::Values(
        FillLimitCase{"declared200", "7 1 200  0 5 0  0 0 0  0 1 0  0 1 1  9 0 0", {}, RenderOutcome::finished, 1},
        FillLimitCase{"declared201", "7 1 201  0 5 0  0 0 0  0 1 0  0 1 1  9 0 0",
                      {"エラー発生", "塗りつぶし多角形の頂点数が多すぎます。"}, RenderOutcome::finished, 0},
        FillLimitCase{"tone120", "7 1 3  0 120 0  0 0 0  0 1 0  0 1 1  9 0 0", {}, RenderOutcome::finished, 1},
        FillLimitCase{"tone121", "7 1 3  0 121 0  0 0 0  0 1 0  0 1 1  9 0 0  7 1 3  0 1 0  0 0 0  0 1 0  0 1 1  9 0 0",
                      {"gray is out of range"}, RenderOutcome::abandoned, 0},
        FillLimitCase{"toneMinus1", "7 1 3  0 -1 0  0 0 0  9 0 0", {"gray is out of range"}, RenderOutcome::abandoned, 0},
        FillLimitCase{"oneVertex", "7 1 1  0 5 0  0 0 0  9 0 0", {}, RenderOutcome::finished, 0},
        FillLimitCase{"cutOff", "7 1 3  0 5 0  0 0 0  0 1 1", {}, RenderOutcome::finished, 0},
        FillLimitCase{"overlayAbandons", "30 1 3  0 500 0  0 0 0  9 0 0  32 0 0", {"gray is out of range"},
                      RenderOutcome::abandoned, 0}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

TEST(Renderer, TooManyVertexRecordsStayInsideTheBuffer) {
    std::string g = "7 1 3  0 5 0";
    for (int i = 0; i < 1000; ++i) g += " 0 " + std::to_string(i) + " 0";
    g += " 9 0 0";
    const Rendered r = render(g, default_settings());
    ASSERT_EQ(r.log.size(), 1u);
    int polygons = 0;
    for (const auto& c : r.calls)
        if (c.rfind("polygon", 0) == 0) {
            ++polygons;
            EXPECT_EQ(std::count(c.begin(), c.end(), ','), 299);
        }
    EXPECT_EQ(polygons, 1);
}

TEST(Renderer, OverlayFillPenCarriesIntoFollowingLines) {
    const Rendered r = render("30 1 3  0 40 0  0 0 0  0 1 0  0 1 1  32 0 0  2 5 5", default_settings());
    const auto calls = after_setup(r);
    // pen of the fill: first width, fill colour; then the line uses it
    EXPECT_NE(std::find(calls.begin(), calls.end(), "create_pen solid 12 #282828 -> 3"), calls.end());
    EXPECT_EQ(calls.back(), "line_to 33 523");
}

TEST(Renderer, VhlinePassReplacesSegmentsByOneLine) {
    RenderSettings s = default_settings();
    const std::string g = "21 100 200  0 100 900  3 100 200  2 100 300  3 100 400  2 100 500  24 0 0"
                          " 21 0 0  0 10 0  24 0 0  21 0 0 0 0 5 24 0 0";
    for (int flag : {1, 2}) {
        s.settings.vhline = vhline_mode_from_index(flag);
        s.settings.line_color[1] = Rgb{0, 0, 255};
        const Rendered r = render(g, s, Extent{0, 1000, 0, 1000});
        const auto calls = after_setup(r);
        EXPECT_EQ(calls[0], flag == 1 ? "create_pen dot 1 #0000ff -> 2" : "create_pen solid 1 #c8c8c8 -> 2");
        EXPECT_EQ(calls[3], "move_to 128 828");
        EXPECT_EQ(calls[4], "line_to 128 128");
        int lines = 0;
        for (const auto& c : calls) lines += c.rfind("line_to", 0) == 0;
        EXPECT_EQ(lines, 3) << "flag " << flag;
    }
    s.settings.vhline = VhlineMode::segments;
    const Rendered r = render(g, s, Extent{0, 1000, 0, 1000});
    int lines = 0;
    for (const auto& c : r.calls) lines += c.rfind("line_to", 0) == 0;
    EXPECT_EQ(lines, 2);  // the segments themselves
}

std::string text_block(int chars) {
    std::string g = "25 1 0  0 10 0  0 100 50";
    for (int i = 0; i < chars; ++i) g += "  0 0 65";
    return g + "  29 100 0";
}

TEST(Renderer, TextBlockOf299IsDrawnAnd300Abandons) {
    RenderSettings narrow = default_settings();
    narrow.settings.widths.width[4] = 20;  // the margin
    const Rendered ok = render(text_block(299), narrow, Extent{0, 1000, 0, 200});
    EXPECT_EQ(ok.outcome, RenderOutcome::finished);
    EXPECT_EQ(ok.calls.back().substr(0, 17), "text_out 120 156 ");
    const Rendered bad = render(text_block(300) + " 2 1 1", default_settings());
    EXPECT_EQ(bad.outcome, RenderOutcome::abandoned);
    EXPECT_EQ(bad.log, std::vector<std::string>{"ic is too large. ic = 300\n"});
    EXPECT_NE(bad.calls.back().rfind("line_to", 0), 0u);
}

TEST(Renderer, HersheyStrokesDrawnOnlyWhenKept) {
    const std::string g = "10 0 0  0 10 0  20 100 0  20 101 0  3 0 0  2 10 10  13 0 0";
    RenderSettings s = default_settings();
    s.settings.hershey = HersheyChoice::strokes;
    const Rendered kept = render(g, s);
    EXPECT_EQ(kept.calls.back(), "line_to 38 518");
    s.settings.hershey = HersheyChoice::arial;
    const Rendered replaced = render(g, s);
    for (const auto& c : replaced.calls) EXPECT_NE(c.rfind("line_to", 0), 0u) << c;
    EXPECT_EQ(replaced.calls.back().rfind("text_out", 0), 0u);
}

TEST(Renderer, SubstitutionUsesColourChangesBetweenBlocks) {
    RenderSettings s = default_settings();
    s.settings.hershey = HersheyChoice::times;
    const Rendered r = render("10 0 0 0 10 0 20 100 0 13 0 0  6 7 0  10 0 0 0 10 0 20 100 0 13 0 0", s);
    std::vector<std::string> tail;
    for (const auto& c : r.calls)
        if (c.rfind("text_color", 0) == 0 || c.rfind("create_font", 0) == 0) tail.push_back(c.substr(0, 30));
    // line pass: colour 1, then 7; substitution pass: text in the colour the line pass
    // left (7), then 7 again after its own set_color.
    ASSERT_GE(tail.size(), 5u);
    EXPECT_EQ(tail[0], "text_color #010000");
    EXPECT_EQ(tail[1], "text_color #070000");
    EXPECT_NE(tail[2].find("Times New Roman"), std::string::npos);
}

TEST(Renderer, OutOfRangeIndicesAndPointsAreReportedOnce) {
    const Rendered r = render("6 31 0  6 -1 0  5 0 9  5 0 0  3 2147483647 0  2 -2147483648 0", default_settings(),
                              Extent{-2147483647 - 1, 0, 0, 2147483647});
    EXPECT_EQ(r.log, (std::vector<std::string>{"color no is out of range : 31.  ignore",
                                               "width no is out of range : 9.  ignore",
                                               "point (2147483647, 0) is out of range of the picture.  ignore"}));
    for (const auto& c : r.calls) {
        EXPECT_NE(c.rfind("move_to", 0), 0u);
        EXPECT_NE(c.rfind("line_to", 0), 0u);
    }
}

}  // namespace
}  // namespace plotmint
