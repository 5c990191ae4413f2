// Node counts and file names reach the colour code from files and callers; neither may
// take it outside its tables, its grid or the file it was asked to open.
#include <gtest/gtest.h>

#include <limits>
#include <string>
#include <vector>

#include "color/grids.h"
#include "color/tables.h"
#include "temp_dir.h"

namespace plotmint {
namespace {

// Every slot holds a low node, so a count past the table would read on into whatever
// follows it and take that for nodes.
ToneTable full_table(int32_t count) {
    ToneTable t;
    for (int i = 0; i < kToneSlots; ++i) {
        t.tone[i] = i * 100 / (kToneSlots - 1);
        t.color[i] = Rgb{i, 2 * i, 255 - i};
    }
    t.count = count;
    return t;
}

class CountBeyondTheTable : public ::testing::TestWithParam<int32_t> {};

TEST_P(CountBeyondTheTable, ExpandsLikeAFullTable) {
    const auto expected = expand_tone_palette(full_table(kToneSlots));
    ASSERT_TRUE(expected);
    const auto palette = expand_tone_palette(full_table(GetParam()));
    ASSERT_TRUE(palette);
    EXPECT_EQ(*palette, *expected);
}

TEST_P(CountBeyondTheTable, ShowsReadsAndSavesAtMost121Rows) {
    const ToneTable full = full_table(kToneSlots);
    const ToneTable table = full_table(GetParam());
    const GridCells cells = tone_grid_cells(table);
    EXPECT_EQ(cells, tone_grid_cells(full));
    EXPECT_EQ(tone_file_text(cells, table.count), tone_file_text(cells, kToneSlots));

    ToneTable back = table;
    read_tone_cells(cells, back);
    EXPECT_EQ(back.tone, full.tone);
    EXPECT_EQ(back.color, full.color);
}

INSTANTIATE_TEST_SUITE_P(Counts, CountBeyondTheTable,
                         ::testing::Values(kToneSlots + 1, 1000, std::numeric_limits<int32_t>::max()));

// A name is a C string to the system: a zero byte would silently open a shorter name.
TEST(TableFileName, WithAZeroByteOpensNothing) {
    testing::TempDir dir;
    const std::string real = dir.write("real.ktc", "gray\nno.\n0 10\n100 20\n");
    dir.write("real.klc", "gray\nno.\n1 10\n");
    const std::string tone_name = real + std::string(1, '\0') + "x";
    const std::string line_name = dir.file("real.klc") + std::string(1, '\0') + "x";

    ToneTable tone;
    VectorLog log;
    read_tone_table(tone_name, dir.str(), tone, log);
    ASSERT_FALSE(log.lines.empty());
    EXPECT_EQ(log.lines[0].rfind("cannot open ", 0), 0u) << log.lines[0];
    EXPECT_EQ(tone.count, 2);
    EXPECT_EQ(tone.color[1], (Rgb{255, 255, 255}));  // the built-in table, not real.ktc

    LineColorTable line{};
    VectorLog line_log;
    read_line_color_table(line_name, dir.str(), line, line_log);
    ASSERT_FALSE(line_log.lines.empty());
    EXPECT_EQ(line_log.lines[0].rfind("cannot open ", 0), 0u) << line_log.lines[0];
    EXPECT_EQ(line[1], (Rgb{0, 0, 0}));
}

}  // namespace
}  // namespace plotmint
