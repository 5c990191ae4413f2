#include <gtest/gtest.h>

#include <iterator>
#include <string>

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
    [](const auto& case_info) { return std::string(case_info.param.name); });

TEST(MetafileFrame, ReachesOneMarginBeyondTheSize) {
    // 25.0 hundredths of a millimetre per pixel both ways
    const Rect f = metafile_frame(20, 40, 8, ReferenceDisplay{250, 250, 1000, 1000});
    EXPECT_EQ(f, (Rect{0, 0, 700, 1200}));
    const Rect g = metafile_frame(5240, 7860, 28, ReferenceDisplay{527, 296, 1920, 1080});
    EXPECT_EQ(g.right, static_cast<int32_t>(5268 * (527 * 100.0 / 1920)));
    EXPECT_EQ(g.bottom, static_cast<int32_t>(7888 * (296 * 100.0 / 1080)));
}


// The segment part against its plain statement: each draw_to adds the previous point of the
// move_to/draw_to chain and its own, whatever records lie between.
TEST(ScanExtent, SegmentsAgreeWithAddingBothEndsOfEverySegment) {
    uint32_t seed = 12345;
    const auto next = [&seed](uint32_t n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    for (int round = 0; round < 200; ++round) {
        std::string graph;
        Extent expected;
        int32_t px = 0, py = 0, cx = 0, cy = 0;
        const auto add = [&expected](int32_t x, int32_t y) {
            if (x > expected.xmax) expected.xmax = x;
            if (x < expected.xmin) expected.xmin = x;
            if (y > expected.ymax) expected.ymax = y;
            if (y < expected.ymin) expected.ymin = y;
        };
        const int records = 1 + static_cast<int>(next(40));
        for (int i = 0; i < records; ++i) {
            static const int32_t codes[] = {2, 2, 2, 3, 3, 5, 6, 0, -999};
            const int32_t c = codes[next(std::size(codes))];
            const auto x = static_cast<int32_t>(next(40000)) - 20000, y = static_cast<int32_t>(next(40000)) - 20000;
            graph += std::to_string(c) + " " + std::to_string(x) + " " + std::to_string(y) + "\n";
            if (c != 2 && c != 3) continue;
            px = cx;
            py = cy;
            cx = x;
            cy = y;
            if (c == 2) {
                add(px, py);
                add(cx, cy);
            }
        }
        RecordReader r;
        r.open_memory(graph);
        Extent e;
        scan_extent(r, e);
        ASSERT_EQ(e.xmin, expected.xmin) << graph;
        ASSERT_EQ(e.xmax, expected.xmax) << graph;
        ASSERT_EQ(e.ymin, expected.ymin) << graph;
        ASSERT_EQ(e.ymax, expected.ymax) << graph;
    }
}

}  // namespace
}  // namespace plotmint
