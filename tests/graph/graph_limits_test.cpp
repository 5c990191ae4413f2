// What a hostile graph file can do to the extent scan and the renderer: every number it
// holds is an arbitrary 32-bit value, and every block can be longer than any buffer.
// Each case here fails when the check that guards it is taken out.
#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "graph/renderer.h"
#include "metafile/recording_surface.h"

namespace plotmint {
namespace {

constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
constexpr int32_t kMin = std::numeric_limits<int32_t>::min();

Extent scan(const std::string& graph) {
    RecordReader r;
    r.open_memory(graph);
    Extent e;
    scan_extent(r, e);
    return e;
}

struct Rendered {
    std::vector<std::string> calls, log;
    RenderOutcome outcome;
};

Rendered render(const std::string& graph, int32_t hershey_choice = 1) {
    Settings s;
    s.vhline = VhlineMode::segments;
    s.hershey = hershey_choice_from_index(hershey_choice);
    const TonePalette tones{};
    RecordReader reader;
    reader.open_memory(graph);
    RecordingSurface surface;
    VectorLog log, diagnostics;
    Rendered out;
    out.outcome = make_metafile(reader, Extent{0, 1000, 0, 1000}, s, tones, surface, log, diagnostics);
    out.calls = surface.calls;
    out.log = log.lines;
    return out;
}

// Text boxes are computed in floating point; a corner beyond 32 bits is held at the
// nearest 32-bit value instead of being converted with undefined behaviour.
struct BoxCase {
    const char* name;
    std::string graph;
    Extent expected;
};

void PrintTo(const BoxCase& c, std::ostream* os) { *os << c.name; }

class TextBoxBeyond32Bits : public ::testing::TestWithParam<BoxCase> {};

TEST_P(TextBoxBeyond32Bits, SaturatesTheExtent) {
    const Extent e = scan(GetParam().graph);
    const Extent& x = GetParam().expected;
    EXPECT_EQ(e.xmin, x.xmin);
    EXPECT_EQ(e.xmax, x.xmax);
    EXPECT_EQ(e.ymin, x.ymin);
    EXPECT_EQ(e.ymax, x.ymax);
}

INSTANTIATE_TEST_SUITE_P(
    Boxes, TextBoxBeyond32Bits,
    ::testing::Values(
        // length 10000 from x = 2147483000 runs past the largest int
        BoxCase{"right", "25 1 0  0 1000 0  0 2147483000 0  0 0 65  29 10000 0", {2147483000, kMax, -400, 1200}},
        // a negative length runs past the smallest
        BoxCase{"left", "25 1 0  0 1000 0  0 -2147483000 0  0 0 65  29 -10000 0", {kMin, -2147483000, -400, 1200}},
        // 1.2 times the largest size is beyond 32 bits across the baseline
        BoxCase{"size", "25 1 0  0 2147483647 0  0 0 0  0 0 65  29 10 0", {0, 10, -858993458, kMax}}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

// A number beyond 64 bits must not wrap around into a small, plausible one (2^64 + 1 would
// read as 1), however the digits are accumulated.
TEST(ReaderLimits, NumbersBeyond64BitsAreNotIntegers) {
    for (const char* text : {"3 0 0 2 18446744073709551617 5", "3 0 0 2 -18446744073709551617 5",
                             "3 0 0 2 36893488147419103233 5", "3 0 0 2 00000000000000000000000018446744073709551617 5"}) {
        RecordReader r;
        r.open_memory(text);
        Record rec;
        std::vector<Record> got;
        while (r.read_record(rec)) got.push_back(rec);
        EXPECT_EQ(got, (std::vector<Record>{{3, 0, 0}})) << text;
        EXPECT_TRUE(r.bad_item()) << text;
    }
}

TEST(MetafileFrameLimits, SizesBeyond32BitsSaturate) {
    const ReferenceDisplay d{1000, 1000, 1000, 1000};  // 100 hundredths of a millimetre a pixel
    EXPECT_EQ(metafile_frame(int64_t{1} << 33, int64_t{1} << 33, kMax, d), (Rect{0, 0, kMax, kMax}));
    EXPECT_EQ(metafile_frame(-(int64_t{1} << 33), -(int64_t{1} << 33), kMin, d), (Rect{0, 0, kMin, kMin}));
}

TEST(HersheyBufferLimit, CharactersPast300AreDroppedWithOneMessage) {
    std::string g = "10 0 0  0 10 0";
    for (int i = 0; i < 400; ++i) g += "  20 100 0";  // 'A' each
    g += "  13 0 0";
    const Rendered r = render(g);
    EXPECT_EQ(r.outcome, RenderOutcome::finished);
    EXPECT_EQ(r.log, std::vector<std::string>{"too many hershey characters in a block.  the rest are ignored"});
    size_t drawn = 0;
    for (const auto& c : r.calls)
        if (c.rfind("text_out", 0) == 0) drawn += static_cast<size_t>(std::count(c.begin(), c.end(), 'A'));
    EXPECT_EQ(drawn, 300u);
}

// Every pass reads the file to its end, so a block left open at the end of the file must
// stop each inner loop there rather than run on.
TEST(UnclosedBlocks, EndEveryPassAtTheEndOfTheFile) {
    for (const char* graph : {"7 1 3  0 5 0  0 0 0  0 1 0", "30 2 3  0 5 0  0 0 0", "21 0 0  0 0 100  3 0 0",
                              "25 1 0  0 10 0  0 0 0  0 0 65", "10 0 0  0 10 0  20 100 0", "33 0 0  0 97 0"}) {
        for (int32_t hershey : {0, 1}) {
            const Rendered r = render(graph, hershey);
            EXPECT_EQ(r.outcome, RenderOutcome::finished) << graph;
            for (const auto& c : r.calls) {
                EXPECT_NE(c.rfind("polygon", 0), 0u) << graph;
                EXPECT_NE(c.rfind("text_out", 0), 0u) << graph;
            }
        }
    }
}

}  // namespace
}  // namespace plotmint
