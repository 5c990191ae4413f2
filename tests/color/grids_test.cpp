#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "color/grids.h"
#include "temp_dir.h"

namespace plotmint {
namespace {

using testing::read_bytes;
using testing::TempDir;
using Row = std::array<std::string, 4>;

ToneTable built_in_tone() {
    ToneTable t;
    t.tone[1] = 100;
    t.color[1] = Rgb{255, 255, 255};
    t.count = 2;
    return t;
}

ToneTable table_of(const std::vector<std::array<int32_t, 4>>& nodes) {
    ToneTable t;
    for (size_t i = 0; i < nodes.size(); ++i) {
        t.tone[i] = nodes[i][0];
        t.color[i] = Rgb{nodes[i][1], nodes[i][2], nodes[i][3]};
    }
    t.count = static_cast<int32_t>(nodes.size());
    return t;
}

std::vector<std::string> file_names(const TempDir& dir) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir.str()))
        out.push_back(e.path().filename().string());
    return out;
}

TEST(ToneGridShow, BuiltInTable) {
    const GridCells cells = tone_grid_cells(built_in_tone());
    ASSERT_EQ(cells.size(), 122u);
    EXPECT_EQ(cells[0], (Row{"   ", "  R", "  G", "  B"}));
    EXPECT_EQ(cells[1], (Row{"  0", "  0", "  0", "  0"}));
    EXPECT_EQ(cells[2], (Row{"100", "255", "255", "255"}));
    for (size_t r = 3; r < 122; ++r) EXPECT_EQ(cells[r], Row{}) << "row " << r;
}

TEST(ToneGridShow, WideNumbersAndFullTable) {
    ToneTable t;
    for (int i = 0; i < kToneSlots; ++i) {
        t.tone[i] = i;
        t.color[i] = Rgb{-1, 1000, -2147483647 - 1};
    }
    t.count = kToneSlots;
    const GridCells cells = tone_grid_cells(t);
    EXPECT_EQ(cells[121], (Row{"120", " -1", "1000", "-2147483648"}));
    EXPECT_EQ(cells[1][0], "  0");
}

// A load that keeps the old node count (one node read) shows the new node in row 1 and
// the old nodes below it.
TEST(ToneGridShow, SingleNodeLoadKeepsOldRows) {
    TempDir dir;
    ToneTable table = table_of({{0, 1, 1, 1}, {10, 2, 2, 2}, {20, 3, 3, 3}, {30, 4, 4, 4}, {40, 5, 5, 5}});
    GridCells cells = tone_grid_cells(table);
    const std::string one = dir.write("one.ktc", "color\nno.\n 7 70 71 72\n");
    VectorLog log;
    show_tone_table(one, dir.str(), table, cells, log);
    EXPECT_EQ(log.lines.back(), "npoint is too small in color.  npoint = 1");
    EXPECT_EQ(cells[1], (Row{"  7", " 70", " 71", " 72"}));
    EXPECT_EQ(cells[2], (Row{" 10", "  2", "  2", "  2"}));
    EXPECT_EQ(cells[5], (Row{" 40", "  5", "  5", "  5"}));
    EXPECT_EQ(cells[6], Row{});
}

TEST(ToneGridShow, EmptiesRowsBelowCountAndKeepsNothingStale) {
    GridCells cells(122, Row{"x", "x", "x", "x"});
    show_tone_cells(built_in_tone(), cells);
    EXPECT_EQ(cells[2], (Row{"100", "255", "255", "255"}));
    EXPECT_EQ(cells[3], Row{});
    EXPECT_EQ(cells[121], Row{});
    GridCells small(3);  // a grid handed over too small must not be written past its end
    show_tone_cells(built_in_tone(), small);
    EXPECT_EQ(small.size(), 122u);
}

TEST(LineGridShow, CornerEmptyAndNumbersInColumnZero) {
    LineColorTable t{};
    t[0] = Rgb{1, 2, 3};
    t[30] = Rgb{-1, 0, 255};
    const GridCells cells = line_grid_cells(t);
    ASSERT_EQ(cells.size(), 32u);
    EXPECT_EQ(cells[0], (Row{"", "  R", "  G", "  B"}));
    EXPECT_EQ(cells[1], (Row{"  0", "  1", "  2", "  3"}));
    EXPECT_EQ(cells[2], (Row{"  1", "  0", "  0", "  0"}));
    EXPECT_EQ(cells[31], (Row{" 30", " -1", "  0", "255"}));
}

TEST(LineGridShow, PartialFileShowsZeroElsewhere) {
    TempDir dir;
    const std::string f = dir.write("p.klc", "color\nno.\n3 9 8 7\n");
    LineColorTable t;
    t.fill(Rgb{5, 5, 5});
    GridCells cells = line_grid_cells(t);
    VectorLog log;
    show_line_color_table(f, dir.str(), t, cells, log);
    EXPECT_EQ(cells[4], (Row{"  3", "  9", "  8", "  7"}));
    EXPECT_EQ(cells[5], (Row{"  4", "  0", "  0", "  0"}));
}

struct CellCase {
    const char* text;
    int32_t want;  // held value is 42
};

class ToneCellRead : public ::testing::TestWithParam<CellCase> {};

TEST_P(ToneCellRead, ParsesLikePercentD) {
    ToneTable t = table_of({{42, 42, 42, 42}, {42, 42, 42, 42}});
    GridCells cells = tone_grid_cells(t);
    cells[2][2] = GetParam().text;
    read_tone_cells(cells, t);
    EXPECT_EQ(t.color[1].g, GetParam().want);
    EXPECT_EQ(t.color[1].r, 42);
}

INSTANTIATE_TEST_SUITE_P(Cells, ToneCellRead,
                         ::testing::Values(CellCase{"17", 17}, CellCase{"  -5", -5}, CellCase{"+8", 8},
                                           CellCase{"12abc", 12}, CellCase{"", 42}, CellCase{"abc", 42},
                                           CellCase{"-", 42}, CellCase{"99999999999", 42},
                                           CellCase{"\t 7", 7}));

TEST(ToneCellRead, OnlyRowsUpToCount) {
    ToneTable t = built_in_tone();
    GridCells cells = tone_grid_cells(t);
    cells[1] = {"5", "6", "7", "8"};
    cells[3] = {"50", "60", "70", "80"};  // typed below the nodes: not a node
    read_tone_cells(cells, t);
    EXPECT_EQ(t.count, 2);
    EXPECT_EQ(t.tone[0], 5);
    EXPECT_EQ(t.color[0], (Rgb{6, 7, 8}));
    EXPECT_EQ(t.tone[2], 0);
}

TEST(LineCellRead, ColumnsOneToThreeOfAll31Rows) {
    LineColorTable t{};
    GridCells cells = line_grid_cells(t);
    cells[1] = {"  9", " 10", "bad", " 12"};
    cells[31] = {"junk", "1", "2", "3"};
    t[0] = Rgb{0, 77, 0};
    read_line_cells(cells, t);
    EXPECT_EQ(t[0], (Rgb{10, 77, 12}));
    EXPECT_EQ(t[30], (Rgb{1, 2, 3}));
}

TEST(ToneFileText, BuiltInTableIsFiveLines) {
    EXPECT_EQ(tone_file_text(tone_grid_cells(built_in_tone()), 2),
              "color\nno.   r   g   b\n  0   0   0   0\n100 255 255 255\n\n");
}

TEST(ToneFileText, RowsBelowCountAreNotSavedAndCellsAreUnchecked) {
    GridCells cells = tone_grid_cells(built_in_tone());
    cells[2][1] = "abc";
    cells[3] = {"50", "1", "1", "1"};
    EXPECT_EQ(tone_file_text(cells, 2), "color\nno.   r   g   b\n  0   0   0   0\n100 abc 255 255\n\n");
    EXPECT_EQ(tone_file_text(cells, 0), "color\nno.   r   g   b\n\n");
    // A damaged count never reads past the grid.
    EXPECT_EQ(tone_file_text(GridCells(4), 500).size(), std::string("color\nno.   r   g   b\n").size() + 3 * 4 + 1);
}

TEST(LineFileText, All31Rows) {
    const std::string text = line_file_text(line_grid_cells(LineColorTable{}));
    EXPECT_EQ(text.substr(0, 38), "color\nno.   r   g   b\n  0   0   0   0\n");
    EXPECT_EQ(text.substr(text.size() - 17), " 30   0   0   0\n\n");
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 2 + 31 + 1);
}

// Saving writes what reading takes back: same nodes, same count.
TEST(GridRoundTrip, ToneTableReadsBackTheSame) {
    for (const int n : {2, 5, 121}) {
        SCOPED_TRACE(n);
        TempDir dir;
        ToneTable t;
        for (int i = 0; i < n; ++i) {
            t.tone[i] = i * 7 - 3;
            t.color[i] = Rgb{i, -i, i * 1000};
        }
        t.count = n;
        VectorLog log;
        const std::string path = dir.file("saved.ktc");
        ASSERT_TRUE(save_tone_table(path, tone_grid_cells(t), t.count, log));
        ToneTable back;
        read_tone_table(path, dir.str(), back, log);
        EXPECT_EQ(log.lines, std::vector<std::string>{"open " + path + "."});
        EXPECT_EQ(back.count, n);
        for (int i = 0; i < n; ++i) {
            EXPECT_EQ(back.tone[i], t.tone[i]);
            EXPECT_EQ(back.color[i], t.color[i]);
        }
    }
}

TEST(GridRoundTrip, LineTableReadsBackTheSame) {
    TempDir dir;
    LineColorTable t;
    for (int n = 0; n < kLineColors; ++n) t[n] = Rgb{n, 255 - n, n == 7 ? -2 : n * 3};
    VectorLog log;
    const std::string path = dir.file("saved.klc");
    ASSERT_TRUE(save_line_color_table(path, line_grid_cells(t), log));
    LineColorTable back{};
    read_line_color_table(path, dir.str(), back, log);
    EXPECT_EQ(log.lines, std::vector<std::string>{"open " + path + "."});
    EXPECT_EQ(back, t);
}

// An emptied row is saved as three blanks, which reads back as the end of the nodes.
TEST(GridRoundTrip, EmptiedRowEndsTheNodes) {
    TempDir dir;
    GridCells cells = tone_grid_cells(table_of({{0, 0, 0, 0}, {50, 1, 1, 1}, {60, 2, 2, 2}, {100, 3, 3, 3}}));
    cells[3] = Row{};
    const std::string path = dir.file("gap.ktc");
    VectorLog log;
    ASSERT_TRUE(save_tone_table(path, cells, 4, log));
    EXPECT_NE(read_bytes(path).find("\n   \n"), std::string::npos);
    ToneTable back;
    read_tone_table(path, dir.str(), back, log);
    EXPECT_EQ(back.count, 2);
    EXPECT_EQ(back.tone[1], 50);
}

TEST(SaveFile, ReplacesOldContentAndLeavesNoTempFile) {
    TempDir dir;
    const std::string path = dir.write("t.ktc", "old contents that are longer than the new ones\n");
    ASSERT_TRUE(save_file_atomically(path, "new\n"));
    EXPECT_EQ(read_bytes(path), "new\n");
    EXPECT_EQ(file_names(dir), std::vector<std::string>{"t.ktc"});
}

TEST(SaveFile, MissingFolderFails) {
    TempDir dir;
    VectorLog log;
    EXPECT_FALSE(save_tone_table(dir.file("no/such/folder/t.ktc"), tone_grid_cells(built_in_tone()), 2, log));
    EXPECT_EQ(log.lines, std::vector<std::string>{"cannot open tone file"});
    EXPECT_FALSE(save_line_color_table(dir.file("no/t.klc"), line_grid_cells(LineColorTable{}), log));
    EXPECT_EQ(log.lines.back(), "cannot open line color file");
    EXPECT_FALSE(save_file_atomically("", "x"));
}

TEST(SaveFile, TargetThatIsAFolderIsLeftAlone) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("sub"));
    dir.write("sub/keep", "k");
    EXPECT_FALSE(save_file_atomically(dir.file("sub"), "new\n"));
    EXPECT_EQ(read_bytes(dir.file("sub/keep")), "k");
    EXPECT_EQ(file_names(dir), std::vector<std::string>{"sub"});
}

// A path whose folder part is a plain file: nothing can be created there, and that file
// must come through unchanged.
TEST(SaveFile, FolderPartThatIsAFile) {
    TempDir dir;
    const std::string file = dir.write("plain", "old\n");
    EXPECT_FALSE(save_file_atomically(file + "/t.ktc", "new\n"));
    EXPECT_EQ(read_bytes(file), "old\n");
}

}  // namespace
}  // namespace plotmint
