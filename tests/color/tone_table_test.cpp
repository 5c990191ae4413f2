#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "color/tables.h"
#include "temp_dir.h"

namespace plotmint {
namespace {

using testing::TempDir;

struct Node {
    int slot;
    int32_t tone, r, g, b;
};

// "color" file with `n` node lines: node i is (i, i+1, i+2, i+3).
std::string color_file(int n, const std::string& tail = "") {
    std::string s = "color\nno.   r   g   b\n";
    for (int i = 0; i < n; ++i)
        s += std::to_string(i) + " " + std::to_string(i + 1) + " " + std::to_string(i + 2) + " " +
             std::to_string(i + 3) + "\n";
    return s + tail;
}

// A list that is clearly not from any file: 5 nodes, tone 1000+i, colour (9, 9, 9).
ToneTable marked_table() {
    ToneTable t;
    for (int i = 0; i < kToneSlots; ++i) {
        t.tone[i] = 1000 + i;
        t.color[i] = Rgb{9, 9, 9};
    }
    t.count = 5;
    return t;
}

struct ToneCase {
    const char* name;
    std::optional<std::string> given;     // content of the given file; nullopt: missing
    std::optional<std::string> fallback;  // content of tone-default.ktc; nullopt: missing
    int32_t count;                        // node count afterwards
    std::vector<Node> nodes;              // slots that must hold these nodes
    std::vector<int> untouched;           // slots that must keep the marked values
    std::vector<std::string> log;         // "{given}" and "{default}" stand for the names
};

void PrintTo(const ToneCase& c, std::ostream* os) { *os << c.name; }

const std::string k79 = std::string(79, ' ');

std::vector<ToneCase> tone_cases() {
    return {
        {"two_nodes_as_saved", "color\nno.   r   g   b\n  0   0   0   0\n100 255 255 255\n\n",
         std::nullopt, 2, {{0, 0, 0, 0, 0}, {1, 100, 255, 255, 255}}, {2, 120},
         {"open {given}."}},
        {"gray_mode", "gray\nno.\n50 128\n0 7\n", std::nullopt, 2,
         {{0, 50, 128, 128, 128}, {1, 0, 7, 7, 7}}, {2}, {"open {given}."}},
        {"one_node_keeps_count", "color\nno.\n7 1 2 3\n", std::nullopt, 5, {{0, 7, 1, 2, 3}},
         {1, 2, 3, 4}, {"open {given}.", "npoint is too small in color.  npoint = 1"}},
        {"mode_Gray_not_recognised", "Gray\nno.\n0 1\n1 2\n", std::nullopt, 5, {}, {0, 1},
         {"open {given}.", "npoint is too small in color.  npoint = 0"}},
        {"mode_COLOR_not_recognised", "COLOR\nno.\n0 1 1 1\n1 2 2 2\n", std::nullopt, 5, {}, {0, 1},
         {"open {given}.", "npoint is too small in color.  npoint = 0"}},
        {"mode_line_with_more_words", " \tcolor table for maps\nno.\n1 1 1 1\n2 2 2 2\n",
         std::nullopt, 2, {{0, 1, 1, 1, 1}, {1, 2, 2, 2, 2}}, {}, {"open {given}."}},
        {"mode_word_with_suffix", "colors\nno.\n1 1 1 1\n2 2 2 2\n", std::nullopt, 5, {}, {0},
         {"open {given}.", "npoint is too small in color.  npoint = 0"}},
        {"line_two_skipped_even_if_node", "color\n5 1 1 1\n6 2 2 2\n7 3 3 3\n", std::nullopt, 2,
         {{0, 6, 2, 2, 2}, {1, 7, 3, 3, 3}}, {2}, {"open {given}."}},
        {"spaces_only_line_ends_list", "color\nno.\n1 1 1 1\n2 2 2 2\n   \n3 3 3 3\n",
         std::nullopt, 2, {{0, 1, 1, 1, 1}, {1, 2, 2, 2, 2}}, {2}, {"open {given}."}},
        // A tab is not trimmed: the line is a node whose fields cannot be read (all 0).
        {"tab_only_line_is_a_node", "color\nno.\n1 1 1 1\n\t\n3 3 3 3\n", std::nullopt, 3,
         {{0, 1, 1, 1, 1}, {1, 0, 0, 0, 0}, {2, 3, 3, 3, 3}}, {3}, {"open {given}."}},
        {"unreadable_fields_are_zero", "color\nno.\n5 x 7 8\n6 1 2\n-1 +2 -3 4 trailing words\n",
         std::nullopt, 3, {{0, 5, 0, 0, 0}, {1, 6, 1, 2, 0}, {2, -1, 2, -3, 4}}, {3},
         {"open {given}."}},
        {"number_beyond_32_bits_is_unread", "color\nno.\n5 99999999999 1 1\n2147483647 -2147483648 0 0\n",
         std::nullopt, 2, {{0, 5, 0, 0, 0}, {1, 2147483647, -2147483648, 0, 0}}, {},
         {"open {given}."}},
        {"crlf_lines", "color\r\nno.   r   g   b\r\n  0   0   0   0\r\n100 255 255 255\r\n \r\n5 5 5 5\r\n",
         std::nullopt, 2, {{0, 0, 0, 0, 0}, {1, 100, 255, 255, 255}}, {2}, {"open {given}."}},
        {"lone_cr_is_kept", "color\nno.\n1 1 1 1\n\r \n2 2 2 2\n", std::nullopt, 3,
         {{0, 1, 1, 1, 1}, {1, 0, 0, 0, 0}, {2, 2, 2, 2, 2}}, {}, {"open {given}."}},
        {"no_line_feed_at_end", "color\nno.\n1 1 1 1\n2 2 2 2", std::nullopt, 2,
         {{0, 1, 1, 1, 1}, {1, 2, 2, 2, 2}}, {}, {"open {given}."}},
        // 79 characters make one piece; the rest of the line is the next node line.
        {"long_line_counts_twice", "color\nno.\n10 1 2 3" + std::string(71, ' ') + "20 4 5 6\n",
         std::nullopt, 2, {{0, 10, 1, 2, 3}, {1, 20, 4, 5, 6}}, {2}, {"open {given}."}},
        // The rest of a long mode line is taken as line 2, so the header becomes a node.
        {"long_mode_line", "color" + std::string(74, ' ') + "tail\nno. r g b\n5 5 5 5\n",
         std::nullopt, 2, {{0, 0, 0, 0, 0}, {1, 5, 5, 5, 5}}, {}, {"open {given}."}},
        // A line of exactly 79 characters leaves its line feed as an empty piece.
        {"line_of_79_then_empty_piece",
         "color\nno.\n1 1 1 1" + std::string(72, ' ') + "\n2 2 2 2\n3 3 3 3\n", std::nullopt, 5,
         {{0, 1, 1, 1, 1}}, {1}, {"open {given}.", "npoint is too small in color.  npoint = 1"}},
        // The carriage return of CRLF does not count toward the 79 characters.
        {"line_of_78_with_crlf", "color\r\nno.\r\n1 1 1 1" + std::string(71, ' ') + "\r\n2 2 2 2\r\n",
         std::nullopt, 2, {{0, 1, 1, 1, 1}, {1, 2, 2, 2, 2}}, {}, {"open {given}."}},
        {"exactly_121_nodes", color_file(121), std::nullopt, 121,
         {{0, 0, 1, 2, 3}, {120, 120, 121, 122, 123}}, {}, {"open {given}."}},
        {"121_nodes_then_empty_line", color_file(121, "\n999 9 9 9\n"), std::nullopt, 121,
         {{120, 120, 121, 122, 123}}, {}, {"open {given}."}},
        {"122_nodes_too_many", color_file(122), std::nullopt, 5,
         {{0, 0, 1, 2, 3}, {4, 4, 5, 6, 7}, {120, 120, 121, 122, 123}}, {},
         {"open {given}.", "number of node is too large. npoint = 122\n"}},
        {"200_nodes_reports_122", color_file(200), std::nullopt, 5, {{120, 120, 121, 122, 123}}, {},
         {"open {given}.", "number of node is too large. npoint = 122\n"}},
        {"empty_file", "", std::nullopt, 5, {}, {0, 1},
         {"open {given}.", "npoint is too small in color.  npoint = 0"}},
        {"mode_line_only", "color\n", std::nullopt, 5, {}, {0},
         {"open {given}.", "npoint is too small in color.  npoint = 0"}},
        {"missing_file_uses_default", std::nullopt, "gray\nno.\n0 10\n100 20\n", 2,
         {{0, 0, 10, 10, 10}, {1, 100, 20, 20, 20}}, {2},
         {"cannot open {given}.", "open {default}."}},
        {"missing_file_and_default", std::nullopt, std::nullopt, 2,
         {{0, 0, 0, 0, 0}, {1, 100, 255, 255, 255}}, {2, 3, 4},
         {"cannot open {given}.", "cannot open {default}. set default value."}},
        {"missing_file_bad_default", std::nullopt, "colour\n", 5, {}, {0, 1},
         {"cannot open {given}.", "open {default}.", "npoint is too small in color.  npoint = 0"}},
    };
}

class ToneTableRead : public ::testing::TestWithParam<ToneCase> {};

void replace_key(std::string& line, const std::string& key, const std::string& value) {
    const auto at = line.find(key);
    if (at != std::string::npos) line.replace(at, key.size(), value);
}

std::string expand(std::string line, const std::string& given, const std::string& def) {
    replace_key(line, "{given}", given);
    replace_key(line, "{default}", def);
    return line;
}

TEST_P(ToneTableRead, NodesCountAndLog) {
    const ToneCase& c = GetParam();
    TempDir dir;
    const std::string given = dir.file("tone-given.ktc");
    if (c.given) dir.write("tone-given.ktc", *c.given);
    if (c.fallback) dir.write("tone-default.ktc", *c.fallback);

    ToneTable table = marked_table();
    VectorLog log;
    read_tone_table(given, dir.str(), table, log);

    EXPECT_EQ(table.count, c.count);
    for (const Node& n : c.nodes) {
        SCOPED_TRACE("slot " + std::to_string(n.slot));
        EXPECT_EQ(table.tone[n.slot], n.tone);
        EXPECT_EQ(table.color[n.slot], (Rgb{n.r, n.g, n.b}));
    }
    for (const int slot : c.untouched) {
        SCOPED_TRACE("untouched slot " + std::to_string(slot));
        EXPECT_EQ(table.tone[slot], 1000 + slot);
        EXPECT_EQ(table.color[slot], (Rgb{9, 9, 9}));
    }
    std::vector<std::string> want;
    for (const auto& line : c.log) want.push_back(expand(line, given, dir.str() + "/tone-default.ktc"));
    EXPECT_EQ(log.lines, want);
}

INSTANTIATE_TEST_SUITE_P(Files, ToneTableRead, ::testing::ValuesIn(tone_cases()),
                         [](const auto& p) { return std::string(p.param.name); });

// At start-up the default name is given, so the same name is tried twice.
TEST(ToneTableStartup, MissingDefaultTriedTwiceThenBuiltIn) {
    TempDir dir;
    const std::string def = default_tone_path(dir.str());
    ToneTable table;
    VectorLog log;
    read_tone_table(def, dir.str(), table, log);
    EXPECT_EQ(log.lines, (std::vector<std::string>{"cannot open " + def + ".",
                                                   "cannot open " + def + ". set default value."}));
    EXPECT_EQ(table.count, 2);
    EXPECT_EQ(table.tone[1], 100);
    EXPECT_EQ(table.color[1], (Rgb{255, 255, 255}));
}

TEST(ToneTableStartup, ShippedDefaultReads) {
    ToneTable table;
    VectorLog log;
    read_tone_table(std::string(PLOTMINT_SOURCE_DIR) + "/data/tone-default.ktc", "/nonexistent", table,
                    log);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(table.count, 2);
    EXPECT_EQ(table.color[1], (Rgb{255, 255, 255}));
}

// A folder "opens" on Linux and would read as an empty table; it must count as missing.
TEST(ToneTableOpen, DirectoryIsNotATableFile) {
    TempDir dir;
    ToneTable table;
    VectorLog log;
    read_tone_table(dir.str(), dir.str(), table, log);
    ASSERT_GE(log.lines.size(), 1u);
    EXPECT_EQ(log.lines[0], "cannot open " + dir.str() + ".");
    EXPECT_EQ(table.count, 2);
}

TEST(TablePaths, JoinedWithSlash) {
    EXPECT_EQ(default_tone_path("/opt/p"), "/opt/p/tone-default.ktc");
    EXPECT_EQ(default_line_path("/opt/p"), "/opt/p/line-default.klc");
    EXPECT_EQ(named_tone_path("/opt/p", "sea"), "/opt/p/tone-sea.ktc");
    EXPECT_EQ(named_line_path("/opt/p", "sea"), "/opt/p/line-sea.klc");
    EXPECT_EQ(named_tone_path("/opt/p", ""), "/opt/p/tone-.ktc");
}

}  // namespace
}  // namespace plotmint
