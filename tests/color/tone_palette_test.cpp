#include <gtest/gtest.h>

#include <climits>
#include <ostream>
#include <string>
#include <vector>

#include "color/tables.h"

namespace plotmint {
namespace {

struct N {
    int32_t tone;
    Rgb c;
};

struct Span {  // tones from..to (inclusive) must hold c
    int from, to;
    Rgb c;
};

struct PaletteCase {
    const char* name;
    std::vector<N> nodes;
    std::vector<Span> want;
};

void PrintTo(const PaletteCase& c, std::ostream* os) { *os << c.name; }

constexpr Rgb kBlack{0, 0, 0}, kWhite{255, 255, 255}, kGrey{128, 128, 128};
constexpr Rgb kRed{255, 0, 0}, kGreen{0, 255, 0}, kBlue{0, 0, 255};

Rgb grey(int32_t v) { return Rgb{v, v, v}; }

std::vector<PaletteCase> palette_cases() {
    return {
        {"black_to_white",
         {{0, kBlack}, {100, kWhite}},
         {{0, 0, kBlack}, {1, 1, grey(2)}, {50, 50, grey(127)}, {99, 99, grey(252)}, {100, 100, kWhite},
          {101, 120, kGrey}}},
        // 200 + (-100 * 1 / 3) = 166.67: truncated after the addition, not 167.
        {"falling_component",
         {{0, grey(200)}, {3, grey(100)}},
         {{1, 1, grey(166)}, {2, 2, grey(133)}, {3, 100, grey(100)}}},
        // -10 + (-10 * 1 / 3) = -13.33 is truncated toward zero, not down to -14.
        {"negative_truncates_toward_zero", {{0, grey(-10)}, {3, grey(-20)}}, {{1, 1, grey(-13)}}},
        {"below_first_and_above_last",
         {{20, kRed}, {40, kBlue}},
         {{0, 20, kRed}, {30, 30, Rgb{127, 0, 127}}, {40, 100, kBlue}, {101, 120, kGrey}}},
        // The step tone ends the ramp from the node before; the next ramp starts at the second.
        {"step_in_the_middle",
         {{0, kBlack}, {50, kRed}, {50, kBlue}, {100, kWhite}},
         {{49, 49, Rgb{249, 0, 0}}, {50, 50, kRed}, {51, 51, Rgb{5, 5, 255}}, {100, 100, kWhite}}},
        {"step_at_the_start",
         {{0, kRed}, {0, kBlack}, {100, kWhite}},
         {{0, 0, kRed}, {1, 1, grey(2)}, {50, 50, grey(127)}}},
        // Rule b is tried before the ramps, so the last of two equal top nodes wins there.
        {"step_at_the_end", {{0, kBlack}, {100, kRed}, {100, kBlue}}, {{100, 100, kBlue}, {50, 50, Rgb{127, 0, 0}}}},
        {"three_equal_tones",
         {{0, kBlack}, {50, kRed}, {50, kGreen}, {50, kBlue}, {100, kWhite}},
         {{50, 50, kRed}, {51, 51, Rgb{5, 5, 255}}}},
        // For each tone the first neighbouring pair in row order that brackets it is used.
        {"unordered_nodes",
         {{0, kBlack}, {80, Rgb{200, 0, 0}}, {40, Rgb{0, 200, 0}}, {100, Rgb{0, 0, 200}}},
         {{30, 30, Rgb{75, 0, 0}}, {60, 60, Rgb{150, 0, 0}}, {80, 80, Rgb{200, 0, 0}},
          {90, 90, Rgb{0, 33, 166}}, {100, 100, Rgb{0, 0, 200}}}},
        {"low_node_after_high_node_ignored",
         {{0, kBlack}, {100, kWhite}, {110, kRed}, {50, kGreen}},
         {{50, 50, grey(127)}, {110, 110, kRed}, {101, 109, kGrey}, {111, 120, kGrey}}},
        {"tone_130_ignored_and_later_110_wins",
         {{0, kBlack}, {100, kWhite}, {110, kRed}, {130, kGreen}, {110, kBlue}, {120, kGreen}},
         {{110, 110, kBlue}, {120, 120, kGreen}, {111, 119, kGrey}, {100, 100, kWhite}}},
        {"k_zero_first_node_high",
         {{105, kRed}, {0, kBlack}, {100, kWhite}},
         {{0, 100, kRed}, {105, 105, kRed}, {101, 104, kGrey}, {106, 120, kGrey}}},
        {"single_node", {{50, kGreen}}, {{0, 100, kGreen}, {101, 120, kGrey}}},
        {"markers_are_plain_numbers", {{0, Rgb{-1, 0, 0}}, {2, Rgb{-2, 0, 0}}}, {{1, 1, Rgb{-1, 0, 0}}}},
        // Colour differences beyond 32 bits must not wrap.
        {"extreme_colours",
         {{0, grey(INT32_MIN)}, {100, grey(INT32_MAX)}},
         {{0, 0, grey(INT32_MIN)}, {1, 1, grey(-2104533975)}, {50, 50, grey(0)},
          {99, 99, grey(2104533974)}, {100, 100, grey(INT32_MAX)}}},
        // Tone differences beyond 32 bits must not wrap either.
        {"extreme_tone_numbers",
         {{INT32_MIN, kBlack}, {100, kWhite}},
         {{0, 99, grey(254)}, {100, 100, kWhite}}},
    };
}

class TonePaletteExpand : public ::testing::TestWithParam<PaletteCase> {};

TEST_P(TonePaletteExpand, Tones) {
    const PaletteCase& c = GetParam();
    ToneTable table;
    for (size_t i = 0; i < c.nodes.size(); ++i) {
        table.tone[i] = c.nodes[i].tone;
        table.color[i] = c.nodes[i].c;
    }
    table.count = static_cast<int32_t>(c.nodes.size());
    const ToneTable before = table;

    const auto palette = expand_tone_palette(table);
    ASSERT_TRUE(palette.has_value());
    for (const Span& s : c.want) {
        for (int t = s.from; t <= s.to; ++t) {
            SCOPED_TRACE("tone " + std::to_string(t));
            EXPECT_EQ((*palette)[t], s.c);
        }
    }
    EXPECT_EQ(table.count, before.count);
}

INSTANTIATE_TEST_SUITE_P(Nodes, TonePaletteExpand, ::testing::ValuesIn(palette_cases()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(TonePaletteFail, NoNodes) {
    ToneTable table;
    EXPECT_FALSE(expand_tone_palette(table).has_value());
    table.count = -3;
    EXPECT_FALSE(expand_tone_palette(table).has_value());
}

// Only the first `count` slots are nodes, however many slots hold values.
TEST(TonePaletteCount, SlotsPastCountAreNotNodes) {
    ToneTable table;
    table.tone[0] = 0;
    table.color[0] = kBlack;
    table.tone[1] = 100;
    table.color[1] = kWhite;
    table.tone[2] = 110;
    table.color[2] = kRed;
    table.count = 2;
    const auto palette = expand_tone_palette(table);
    ASSERT_TRUE(palette);
    EXPECT_EQ((*palette)[110], kGrey);
    table.count = 1000;  // a damaged count reads at most the 121 slots
    ASSERT_TRUE(expand_tone_palette(table));
}

}  // namespace
}  // namespace plotmint
