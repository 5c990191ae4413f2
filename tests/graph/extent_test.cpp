#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "graph/extent_fold.h"
#include "graph/renderer.h"
#include "worker/worker.h"

namespace plotmint {
namespace {

namespace fs = std::filesystem;

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


// The scan as it was made in two passes: the text boxes up to end_of_plot, then, after a
// rewind, the segments of the whole file starting from the boxes. The one-pass scan must
// give what this gives, record for record.
namespace two_pass {

int32_t trunc_to_int(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

void extend(Extent& e, int32_t x, int32_t y) {
    e.xmax = std::max(e.xmax, x);
    e.xmin = std::min(e.xmin, x);
    e.ymax = std::max(e.ymax, y);
    e.ymin = std::min(e.ymin, y);
}

void text_boxes(RecordReader& reader, Extent& extent) {
    reader.rewind();
    bool found = false;
    Extent text;
    Record r;
    const double pi = std::acos(-1.0);
    while (reader.read_record(r) && r.code != code::end_of_plot) {
        if (r.code != code::text_begin) continue;
        Record a, b, end;
        if (!reader.read_record(a) || !reader.read_record(b)) return;
        bool closed = false;
        while (reader.read_record(end)) {
            if (end.code == code::text_end) {
                closed = true;
                break;
            }
        }
        if (!closed) break;
        const double s = a.a;
        const double w = end.a;
        const double v_low = trunc_to_int(-0.4 * s);
        const double v_high = trunc_to_int(s + 0.2 * s);
        const double angle = a.b * 0.1 * (1.0 / 180.0) * pi;
        const double c = std::cos(angle), sn = std::sin(angle);
        const double corners[4][2] = {{0, v_low}, {w, v_low}, {w, v_high}, {0, v_high}};
        for (int i = 0; i < 4; ++i) {
            const double u = corners[i][0], v = corners[i][1];
            const int32_t X = trunc_to_int(b.a + u * c - v * sn);
            const int32_t Y = trunc_to_int(b.b + u * sn + v * c);
            if (!found) {
                found = true;
                text = Extent{X, X, Y, Y};
            }
            extend(text, X, Y);
        }
    }
    if (found) extent = text;
}

uint64_t scan(RecordReader& reader, Extent& extent) {
    text_boxes(reader, extent);
    reader.rewind();
    int32_t cx = 0, cy = 0;
    bool counted = false;
    uint64_t records = 0;
    Record r;
    while (reader.read_record(r)) {
        ++records;
        if (r.code == code::draw_to) {
            if (!counted) extend(extent, cx, cy);
            cx = r.a;
            cy = r.b;
            extend(extent, cx, cy);
            counted = true;
        } else if (r.code == code::move_to) {
            cx = r.a;
            cy = r.b;
            counted = false;
        }
    }
    return records;
}

}  // namespace two_pass

// What a scan leaves: the extent, the records counted and how the reader's pass ended.
struct Scanned {
    Extent extent;
    uint64_t records = 0;
    bool bad_item = false;
    uint64_t bad_offset = 0;
    bool read_failed = false;
};

bool operator==(const Scanned& x, const Scanned& y) {
    return x.extent.xmin == y.extent.xmin && x.extent.xmax == y.extent.xmax && x.extent.ymin == y.extent.ymin &&
           x.extent.ymax == y.extent.ymax && x.records == y.records && x.bad_item == y.bad_item &&
           x.bad_offset == y.bad_offset && x.read_failed == y.read_failed;
}

std::ostream& operator<<(std::ostream& os, const Scanned& s) {
    return os << "{" << s.extent.xmin << ", " << s.extent.xmax << ", " << s.extent.ymin << ", " << s.extent.ymax
              << "} records " << s.records << (s.bad_item ? " bad item at " + std::to_string(s.bad_offset) : "")
              << (s.read_failed ? " read failed" : "");
}

template <typename Scan>
Scanned scanned_by(RecordReader& reader, const Extent& start, Scan scan) {
    Scanned out;
    out.extent = start;
    out.records = scan(reader, out.extent);
    out.bad_item = reader.bad_item();
    out.bad_offset = reader.bad_item_offset();
    out.read_failed = reader.read_failed();
    return out;
}

Scanned one_pass_of(RecordReader& reader, const Extent& start) {
    return scanned_by(reader, start, [](RecordReader& r, Extent& e) { return scan_extent(r, e); });
}
Scanned two_pass_of(RecordReader& reader, const Extent& start) {
    return scanned_by(reader, start, two_pass::scan);
}

Scanned one_pass_of(const std::string& graph, const Extent& start) {
    RecordReader r;
    r.open_memory(graph);
    return one_pass_of(r, start);
}
Scanned two_pass_of(const std::string& graph, const Extent& start) {
    RecordReader r;
    r.open_memory(graph);
    return two_pass_of(r, start);
}

// A text block of size 100 at angle 0 from (1000, 2000), 500 wide: its box is
// {1000, 1500, 1960, 2120}.
constexpr const char* kBlock = "25 1 0  0 100 0  0 1000 2000  0 0 65  29 500 0\n";

struct OddCase {
    const char* name;
    std::string graph;
    Extent expected;  // from the default start
    uint64_t records;
};

void PrintTo(const OddCase& c, std::ostream* os) { *os << c.name; }

class OnePassScan : public ::testing::TestWithParam<OddCase> {};

// Each way the text part of the scan can end, against both the worked values and the two
// passes; from another start too, which shows whether the boxes replace it or not.
TEST_P(OnePassScan, GivesWhatTheTwoPassesGave) {
    const OddCase& c = GetParam();
    const Scanned got = one_pass_of(c.graph, Extent{});
    EXPECT_EQ(got, two_pass_of(c.graph, Extent{}));
    EXPECT_EQ(got.extent.xmin, c.expected.xmin);
    EXPECT_EQ(got.extent.xmax, c.expected.xmax);
    EXPECT_EQ(got.extent.ymin, c.expected.ymin);
    EXPECT_EQ(got.extent.ymax, c.expected.ymax);
    EXPECT_EQ(got.records, c.records);
    for (const Extent start : {Extent{-50, 50, -60, 60}, Extent{5000, 5000, 5000, 5000}, Extent{0, 0, 0, 0}})
        EXPECT_EQ(one_pass_of(c.graph, start), two_pass_of(c.graph, start))
            << "from {" << start.xmin << ", " << start.xmax << ", " << start.ymin << ", " << start.ymax << "}";
}

INSTANTIATE_TEST_SUITE_P(
    OddEndings, OnePassScan,
    ::testing::Values(
        OddCase{"empty", "", {10480, 0, 10480, 0}, 0},
        OddCase{"one_block", kBlock, {1000, 1500, 1960, 2120}, 5},
        // Two header records missing at the end: no box counts, not even the earlier ones.
        OddCase{"header_cut_voids_earlier_boxes", std::string(kBlock) + "3 0 0  2 20 30  25 1 0  0 100 0",
                {0, 20, 0, 30}, 9},
        OddCase{"header_cut_before_its_first_record", std::string(kBlock) + "25 1 0", {10480, 0, 10480, 0}, 6},
        // Cut off in its text: that block adds nothing, the earlier ones stay.
        OddCase{"text_cut_keeps_earlier_boxes", std::string(kBlock) + "25 1 0  0 100 0  0 3000 3000  0 0 65",
                {1000, 1500, 1960, 2120}, 9},
        OddCase{"text_cut_without_earlier_boxes", "3 5 5  2 6 7  25 1 0  0 100 0  0 3000 3000",
                {5, 6, 5, 7}, 5},
        // A record inside a block is text to the boxes but still a segment.
        OddCase{"draw_to_inside_a_block", "25 1 0  0 100 0  0 1000 2000  2 5000 50  29 500 0",
                {0, 5000, 0, 2120}, 5},
        OddCase{"header_records_are_segments", "3 10 10  25 1 0  2 100 0  2 1000 2000  29 500 0",
                {10, 1500, 0, 2120}, 5},
        // The header is whatever two records follow: a text_begin or an end_of_plot there
        // starts nothing and ends nothing.
        OddCase{"text_begin_as_header", "25 1 0  25 100 0  0 1000 2000  29 500 0", {1000, 1500, 1960, 2120}, 4},
        OddCase{"end_of_plot_as_header", "25 1 0  -999 100 0  0 1000 2000  29 500 0  3 0 0  2 10 10",
                {0, 1500, 0, 2120}, 6},
        OddCase{"end_of_plot_inside_text",
                "25 1 0  0 100 0  0 1000 2000  -999 0 0  29 500 0  25 1 0  0 100 0  0 3000 4000  29 100 0",
                {1000, 3100, 1960, 4120}, 9},
        // end_of_plot ends the boxes but not the segments.
        OddCase{"end_of_plot_ends_the_boxes_only",
                std::string(kBlock) + "-999 0 0  25 1 0  0 100 0  0 3000 4000  29 100 0  3 7000 7000  2 7100 7200",
                {1000, 7100, 1960, 7200}, 12},
        OddCase{"end_of_plot_before_any_block", "-999 0 0  " + std::string(kBlock), {10480, 0, 10480, 0}, 6},
        OddCase{"header_cut_after_end_of_plot", std::string(kBlock) + "-999 0 0  25 1 0  0 100 0",
                {1000, 1500, 1960, 2120}, 8},
        OddCase{"text_end_outside_a_block", "29 5 5  3 1 1  2 2 2", {1, 2, 1, 2}, 3},
        // An item that is not a number ends the records for both parts alike.
        OddCase{"bad_item_in_a_header", std::string(kBlock) + "25 1 0  0 100 x", {10480, 0, 10480, 0}, 6},
        OddCase{"bad_item_in_text", std::string(kBlock) + "25 1 0  0 100 0  0 3000 4000  2 9000 9000  oops",
                {0, 9000, 0, 9000}, 9},
        OddCase{"bad_item_before_end_of_plot", "3 0 0  2 10 10  zz  -999 0 0  " + std::string(kBlock),
                {0, 10, 0, 10}, 2},
        OddCase{"partial_record_in_text", std::string(kBlock) + "25 1 0  0 100 0  0 1000 2000  29 500",
                {1000, 1500, 1960, 2120}, 8},
        OddCase{"partial_record_in_a_header", std::string(kBlock) + "25 1 0  0 100 0  0 1000",
                {10480, 0, 10480, 0}, 7}),
    [](const ::testing::TestParamInfo<OddCase>& param) { return std::string(param.param.name); });

// Random record streams of the codes the scan acts on and a few it does not, cut off or
// ended by a bad item at random, each from one of several starts.
TEST(OnePassScan, AgreesWithTheTwoPassesOnRandomStreams) {
    std::mt19937 rng(20261208);
    const auto pick = [&rng](size_t n) { return static_cast<uint32_t>(rng() % n); };
    const int32_t codes[] = {2, 2, 2, 3, 3, 25, 25, 29, 29, -999, 0, 5, 7, 20};
    const Extent starts[] = {Extent{}, Extent{-50, 50, -60, 60}, Extent{0, 0, 0, 0}, Extent{3000, 3100, -10, 10}};
    int boxes_mattered = 0;
    for (int round = 0; round < 6000; ++round) {
        // The stream, and the same stream with every text_begin made a record no part of
        // the scan acts on: where the two scan alike the boxes did not matter.
        std::string graph, without_text;
        const uint32_t n = pick(40);
        for (uint32_t i = 0; i < n; ++i) {
            const int32_t c = codes[pick(std::size(codes))];
            // Sizes and angles for a header, coordinates elsewhere; now and then a corner
            // beyond 32 bits.
            int32_t a = static_cast<int32_t>(pick(20000)) - 10000, b = static_cast<int32_t>(pick(20000)) - 10000;
            if (pick(10) == 0) a = static_cast<int32_t>(pick(3600));
            if (pick(50) == 0) b = pick(2) ? std::numeric_limits<int32_t>::max() : std::numeric_limits<int32_t>::min();
            const std::string args = std::to_string(a) + ' ' + std::to_string(b) + '\n';
            (graph += std::to_string(c)) += ' ';
            (without_text += std::to_string(c == code::text_begin ? 0 : c)) += ' ';
            graph += args;
            without_text += args;
        }
        std::string tail;
        switch (pick(8)) {
            case 0: tail = "7 1"; break;            // a partial record
            case 1: tail = "2 x 3\n3 4 4\n"; break;  // a bad item
            default: break;
        }
        graph += tail;
        without_text += tail;
        const Extent start = starts[pick(std::size(starts))];
        const Scanned one = one_pass_of(graph, start);
        ASSERT_EQ(one, two_pass_of(graph, start)) << graph;
        if (!(one == two_pass_of(without_text, start))) ++boxes_mattered;
    }
    // The streams reach what they are there for: boxes that count.
    EXPECT_GT(boxes_mattered, 1000);
}

std::vector<fs::path> graph_files() {
    std::vector<fs::path> out;
    for (const fs::path& dir : {fs::path(PLOTMINT_SOURCE_DIR) / "examples", fs::path(PLOTMINT_TEST_DATA) / "graphs",
                               fs::path(PLOTMINT_TEST_DATA) / "regress" / "convert",
                               fs::path(PLOTMINT_SOURCE_DIR) / "fuzz" / "corpus" / "convert"}) {
        std::error_code ec;
        if (!fs::is_directory(dir, ec)) continue;
        for (const auto& entry : fs::directory_iterator(dir))
            if (entry.is_regular_file() && entry.path().extension() != ".md") out.push_back(entry.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

// The example and test graphs, read from memory and from the file through its record file:
// the record file of a two-pass scan held only the part before end_of_plot after its first
// pass, which one pass never leaves.
TEST(OnePassScan, AgreesWithTheTwoPassesOnTheGraphFiles) {
    const std::vector<fs::path> files = graph_files();
    ASSERT_GE(files.size(), 7u);
    for (const fs::path& path : files) {
        SCOPED_TRACE(path.string());
        std::ifstream in(path, std::ios::binary);
        const std::string graph((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const Scanned two = two_pass_of(graph, Extent{});
        EXPECT_EQ(one_pass_of(graph, Extent{}), two);

        RecordReader first, second;
        first.set_cache_threshold(0);
        second.set_cache_threshold(0);
        ASSERT_TRUE(first.open(path.string()));
        ASSERT_TRUE(second.open(path.string()));
        EXPECT_EQ(one_pass_of(first, Extent{}), two);  // parsing the text into the record file
        EXPECT_EQ(one_pass_of(first, Extent{}), two);  // from the record file
        EXPECT_EQ(two_pass_of(second, Extent{}), two);
        EXPECT_EQ(one_pass_of(second, Extent{}), two);  // from what the two passes left
    }
}

// ---- the scan in two pieces, joined -----------------------------------------------------

std::vector<Record> records_of(const std::string& graph) {
    RecordReader r;
    r.open_memory(graph);
    std::vector<Record> out;
    Record rec;
    while (r.read_record(rec)) out.push_back(rec);
    return out;
}

ExtentFold fold_of(const std::vector<Record>& records, size_t from, size_t to) {
    ExtentFold f;
    f.start();
    for (size_t i = from; i < to; ++i) f.add(records[i]);
    return f;
}

// The records before `split` folded apart from the rest and joined: whether the join could
// be made, and then what it gives.
std::optional<Scanned> joined_at(const std::string& graph, size_t split, const Extent& start) {
    const std::vector<Record> records = records_of(graph);
    ExtentFold whole = fold_of(records, 0, split);
    if (!whole.join(fold_of(records, split, records.size()))) return std::nullopt;
    Scanned out;
    out.extent = start;
    out.records = whole.finish(out.extent);
    return out;
}

Scanned scan_only(const std::string& graph, const Extent& start) {
    Scanned s = one_pass_of(graph, start);
    s.bad_item = false;
    s.bad_offset = 0;
    return s;
}

struct JoinCase {
    const char* name;
    std::string graph;
    size_t split;  // records before it go to the first piece
    bool joins;
};

void PrintTo(const JoinCase& c, std::ostream* os) { *os << c.name; }

class JoinedScan : public ::testing::TestWithParam<JoinCase> {};

// Where the pieces meet decides whether they join; when they do, the join is the scan.
TEST_P(JoinedScan, JoinsWhereItCanAndThenGivesTheScan) {
    const JoinCase& c = GetParam();
    for (const Extent start : {Extent{}, Extent{-50, 50, -60, 60}}) {
        const std::optional<Scanned> got = joined_at(c.graph, c.split, start);
        ASSERT_EQ(got.has_value(), c.joins);
        if (got) {
            EXPECT_EQ(*got, scan_only(c.graph, start));
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Splits, JoinedScan,
    ::testing::Values(
        JoinCase{"at_the_start", std::string(kBlock) + "2 7000 10", 0, true},
        JoinCase{"at_the_end", std::string(kBlock) + "2 7000 10", 6, true},
        JoinCase{"after_a_block", std::string(kBlock) + kBlock, 5, true},
        // Between a text_begin and the last of its two header records nothing can be told.
        JoinCase{"before_the_header", kBlock, 1, false},
        JoinCase{"inside_the_header", kBlock, 2, false},
        // In a block's text: its text_end is the second piece's first.
        JoinCase{"after_the_header", kBlock, 3, true},
        JoinCase{"inside_the_text", std::string(kBlock) + "3 0 0  2 10 10", 4, true},
        JoinCase{"text_end_opens_the_piece", std::string(kBlock) + kBlock, 4, true},
        // ... unless something before it in the second piece would have started or ended blocks.
        JoinCase{"text_begin_in_the_text", "25 1 0  0 100 0  0 1000 2000  25 1 0  29 500 0", 3, false},
        JoinCase{"end_of_plot_in_the_text", "25 1 0  0 100 0  0 1000 2000  -999 0 0  29 500 0  " + std::string(kBlock),
                 3, false},
        // The text runs on to the end of the file: that block adds nothing.
        JoinCase{"text_to_the_end", std::string(kBlock) + "25 1 0  0 100 0  0 3000 3000  0 0 65  2 9 9", 8, true},
        // After end_of_plot the second piece's blocks count for nothing.
        JoinCase{"after_end_of_plot", "-999 0 0  " + std::string(kBlock), 1, true},
        JoinCase{"end_of_plot_in_the_second", std::string(kBlock) + "-999 0 0  " + kBlock, 3, true},
        // A header cut off at the end voids every box, those of the first piece too.
        JoinCase{"header_cut_in_the_second", std::string(kBlock) + "3 1 1  2 5 5  25 1 0  0 100 0", 6, true},
        // The segments: a draw_to that opens the second piece starts from the first's last point.
        JoinCase{"move_then_draw", "3 -300 -400  2 20 30", 1, true},
        JoinCase{"draw_then_draw", "3 900 900  2 -300 -400  2 20 30", 2, true},
        JoinCase{"no_segment_in_the_first", "7 1 0  0 5 5  2 20 30", 2, true},
        JoinCase{"no_segment_in_the_second", "3 -300 -400  7 1 0  0 5 5", 1, true}),
    [](const ::testing::TestParamInfo<JoinCase>& param) { return std::string(param.param.name); });

// Every split of random streams: joined pieces give the one-pass scan whenever they join,
// and they join at nearly every split.
TEST(JoinedScan, AgreesWithTheScanAtEverySplitOfRandomStreams) {
    std::mt19937 rng(20261209);
    const auto pick = [&rng](size_t n) { return static_cast<uint32_t>(rng() % n); };
    const int32_t codes[] = {2, 2, 2, 3, 3, 25, 25, 29, 29, -999, 0, 5, 7, 20};
    const Extent starts[] = {Extent{}, Extent{-50, 50, -60, 60}, Extent{3000, 3100, -10, 10}};
    size_t splits = 0, joined = 0;
    for (int round = 0; round < 1500; ++round) {
        std::string graph;
        const uint32_t n = pick(40);
        for (uint32_t i = 0; i < n; ++i) {
            int32_t a = static_cast<int32_t>(pick(20000)) - 10000, b = static_cast<int32_t>(pick(20000)) - 10000;
            if (pick(10) == 0) a = static_cast<int32_t>(pick(3600));
            graph += std::to_string(codes[pick(std::size(codes))]) + ' ' + std::to_string(a) + ' ' +
                     std::to_string(b) + '\n';
        }
        if (pick(8) == 0) graph += "2 x 3\n3 4 4\n";
        const Extent start = starts[pick(std::size(starts))];
        const Scanned expected = scan_only(graph, start);
        const size_t records = records_of(graph).size();
        for (size_t split = 0; split <= records; ++split) {
            ++splits;
            const std::optional<Scanned> got = joined_at(graph, split, start);
            if (!got) continue;
            ++joined;
            ASSERT_EQ(*got, expected) << graph << "split before record " << split;
        }
    }
    EXPECT_GT(joined, splits * 3 / 4) << joined << " of " << splits;
}

// A file parsed in two: the scan joins what the halves' folds saw instead of reading the
// records again, and ends the pass as reading them would.
TEST(JoinedScan, TakesTheHalvesOfAFileParsedInTwo) {
    const std::unique_ptr<Worker> worker = make_inline_worker();
    const std::vector<fs::path> files = graph_files();
    int taken = 0;
    for (const fs::path& path : files) {
        SCOPED_TRACE(path.string());
        RecordReader plain;
        ASSERT_TRUE(plain.open(path.string()));
        const Scanned expected = one_pass_of(plain, Extent{});

        RecordReader r;
        r.set_cache_threshold(0);
        r.set_split_threshold(0);
        r.set_worker(worker.get());
        ExtentHalves halves;
        r.set_split_folds(&halves.head, &halves.tail);
        ASSERT_TRUE(r.open(path.string()));
        Extent e;
        const auto scan = [&halves](RecordReader& reader, Extent& x) { return scan_extent(reader, x, {}, &halves); };
        EXPECT_EQ(scanned_by(r, Extent{}, scan), expected);  // the first pass parses here
        EXPECT_EQ(scanned_by(r, Extent{}, scan), expected);  // from the record file
        if (!r.split_folded()) continue;
        ++taken;
        // The join is what answers: halves that saw nothing give nothing.
        ExtentHalves empty;
        empty.head.start();
        empty.tail.start();
        EXPECT_EQ(scan_extent(r, e, {}, &empty), 0u);
    }
    EXPECT_GE(taken, 5);
}

// One pass over the file: one rewind, told as the extent pass.
TEST(OnePassScan, ReadsTheFileOnce) {
    RecordReader r;
    r.open_memory(std::string(kBlock) + "-999 0 0  3 0 0  2 10 10  25 1 0  0 1 0");
    std::set<uint32_t> reader_passes;
    int rewinds = 0;
    r.set_progress([&](uint32_t pass, uint64_t done, uint64_t) {
        reader_passes.insert(pass);
        if (done == 0) ++rewinds;
    });
    std::vector<RunPass> told;
    Extent e;
    EXPECT_EQ(scan_extent(r, e, [&told](RunPass p) { told.push_back(p); }), 10u);
    EXPECT_EQ(told, std::vector<RunPass>{RunPass::extent});
    EXPECT_EQ(rewinds, 1);
    EXPECT_EQ(reader_passes, std::set<uint32_t>{1});
}

}  // namespace
}  // namespace plotmint
