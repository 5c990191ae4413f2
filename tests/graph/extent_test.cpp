#include <gtest/gtest.h>

#include "graph/renderer.h"

namespace plotmint {
namespace {

struct ExtentCase {
    const char* name;
    const char* graph;
    Extent expected;
};

class ExtentCases : public ::testing::TestWithParam<ExtentCase> {};

TEST_P(ExtentCases, Scan) {
    RecordReader r;
    r.open_memory(GetParam().graph);
    Extent e;
    scan_extent(r, e);
    const Extent& x = GetParam().expected;
    EXPECT_EQ(e.xmin, x.xmin);
    EXPECT_EQ(e.xmax, x.xmax);
    EXPECT_EQ(e.ymin, x.ymin);
    EXPECT_EQ(e.ymax, x.ymax);
}

INSTANTIATE_TEST_SUITE_P(
    Files, ExtentCases,
    ::testing::Values(
        ExtentCase{"nothing", "3 5 5  7 1 2  0 1 0", {10480, 0, 10480, 0}},
        ExtentCase{"moves_alone", "3 50 60  3 70 80", {10480, 0, 10480, 0}},
        ExtentCase{"draw_from_origin", "2 100 200", {0, 100, 0, 200}},
        ExtentCase{"segment", "3 1000 2000  2 3000 4000", {1000, 3000, 2000, 4000}},
        ExtentCase{"text_box", "25 1 0  0 100 0  0 1000 2000  0 0 65  29 500 0", {1000, 1500, 1960, 2120}},
        ExtentCase{"text_box_upright", "25 1 0  0 100 900  0 1000 2000  29 500 0", {880, 1040, 2000, 2500}},
        ExtentCase{"text_after_end_of_plot", "-999 0 0  25 1 0  0 100 0  0 1000 2000  29 500 0  3 10 10  2 20 20",
                   {10, 20, 10, 20}},
        ExtentCase{"segments_extend_text", "25 1 0  0 100 0  0 1000 2000  29 500 0  3 0 0  2 4000 10",
                   {0, 4000, 0, 2120}},
        ExtentCase{"inside_blocks_count", "7 1 3  0 5 0  2 300 300  9 0 0", {0, 300, 0, 300}},
        ExtentCase{"cut_off_text", "25 1 0  0 100 0  0 1000 2000  0 0 65", {10480, 0, 10480, 0}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(MetafileFrame, ReachesOneMarginBeyondTheSize) {
    // 25.0 hundredths of a millimetre per pixel both ways
    const Rect f = metafile_frame(20, 40, 8, ReferenceDisplay{250, 250, 1000, 1000});
    EXPECT_EQ(f, (Rect{0, 0, 700, 1200}));
    const Rect g = metafile_frame(5240, 7860, 28, ReferenceDisplay{527, 296, 1920, 1080});
    EXPECT_EQ(g.right, static_cast<int32_t>(5268 * (527 * 100.0 / 1920)));
    EXPECT_EQ(g.bottom, static_cast<int32_t>(7888 * (296 * 100.0 / 1080)));
}

}  // namespace
}  // namespace plotmint
