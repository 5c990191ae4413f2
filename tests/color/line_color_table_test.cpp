#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "color/tables.h"
#include "temp_dir.h"

namespace plotmint {
namespace {

using testing::TempDir;

struct LineCase {
    const char* name;
    std::optional<std::string> given;     // nullopt: the given file is missing
    std::optional<std::string> fallback;  // content of line-default.klc; nullopt: missing
    std::map<int, Rgb> set;               // entries that must hold these; all others black
    std::vector<std::string> log;         // "{given}" / "{default}" stand for the names
};

void PrintTo(const LineCase& c, std::ostream* os) { *os << c.name; }

std::vector<LineCase> line_cases() {
    return {
        {"only_entries_1_and_2", "color\nno.   r   g   b\n  1  10  20  30\n  2  40  50  60\n\n",
         std::nullopt, {{1, {10, 20, 30}}, {2, {40, 50, 60}}}, {"open {given}."}},
        {"out_of_range_skipped_and_reading_goes_on",
         "color\nno.\n31 1 1 1\n-1 2 2 2\n30 3 3 3\n0 4 4 4\n", std::nullopt,
         {{30, {3, 3, 3}}, {0, {4, 4, 4}}},
         {"open {given}.", "no is out of range in color : 31.  ignore\n",
          "no is out of range in color : -1.  ignore\n"}},
        {"huge_entry_number", "color\nno.\n2147483647 1 1 1\n", std::nullopt, {},
         {"open {given}.", "no is out of range in color : 2147483647.  ignore\n"}},
        {"entry_named_twice_last_wins", "color\nno.\n5 1 1 1\n6 7 7 7\n5 2 3 4\n", std::nullopt,
         {{5, {2, 3, 4}}, {6, {7, 7, 7}}}, {"open {given}."}},
        {"gray_mode", "gray\nno.\n3 200\n4 -1\n", std::nullopt, {{3, {200, 200, 200}}, {4, {-1, -1, -1}}},
         {"open {given}."}},
        {"wrong_mode", "colour\nno.\n1 1 1 1\n", std::nullopt, {},
         {"open {given}.", "color mode |colour| is not correct in color-table.\n"}},
        {"mode_in_capitals", "GRAY extra\nno.\n1 1\n", std::nullopt, {},
         {"open {given}.", "color mode |GRAY| is not correct in color-table.\n"}},
        {"control_byte_in_mode_shown_escaped", std::string("col\x01or\n", 7), std::nullopt, {},
         {"open {given}.", "color mode |col\\x01or| is not correct in color-table.\n"}},
        {"empty_file", "", std::nullopt, {},
         {"open {given}.", "color mode || is not correct in color-table.\n"}},
        {"empty_line_ends_entries", "color\nno.\n1 1 1 1\n  \n2 2 2 2\n", std::nullopt,
         {{1, {1, 1, 1}}}, {"open {given}."}},
        // A line without an entry number names no entry; missing colour fields are 0.
        {"unreadable_lines", "color\nno.\n\t\nx 5 5 5\n4 10\n7 1 y 3\n", std::nullopt,
         {{4, {10, 0, 0}}, {7, {1, 0, 0}}}, {"open {given}."}},
        {"crlf", "color\r\nno.\r\n9 1 2 3\r\n \r\n10 1 1 1\r\n", std::nullopt, {{9, {1, 2, 3}}},
         {"open {given}."}},
        {"long_line_counts_twice", "color\nno.\n1 1 2 3" + std::string(72, ' ') + "2 4 5 6\n",
         std::nullopt, {{1, {1, 2, 3}}, {2, {4, 5, 6}}}, {"open {given}."}},
        {"missing_file_uses_default", std::nullopt, "color\nno.\n8 8 8 8\n", {{8, {8, 8, 8}}},
         {"cannot open {given}.", "open {default}."}},
        {"missing_file_and_default", std::nullopt, std::nullopt, {},
         {"cannot open {given}.", "cannot open {default}."}},
    };
}

class LineColorTableRead : public ::testing::TestWithParam<LineCase> {};

void replace_key(std::string& line, const std::string& key, const std::string& value) {
    const auto at = line.find(key);
    if (at != std::string::npos) line.replace(at, key.size(), value);
}

TEST_P(LineColorTableRead, EntriesAndLog) {
    const LineCase& c = GetParam();
    TempDir dir;
    const std::string given = dir.file("line-given.klc");
    if (c.given) dir.write("line-given.klc", *c.given);
    if (c.fallback) dir.write("line-default.klc", *c.fallback);

    LineColorTable table;
    table.fill(Rgb{77, 77, 77});  // every read starts from black
    VectorLog log;
    read_line_color_table(given, dir.str(), table, log);

    for (int n = 0; n < kLineColors; ++n) {
        SCOPED_TRACE("entry " + std::to_string(n));
        const auto it = c.set.find(n);
        EXPECT_EQ(table[n], (it == c.set.end() ? Rgb{0, 0, 0} : it->second));
    }
    std::vector<std::string> want;
    for (std::string line : c.log) {
        replace_key(line, "{given}", given);
        replace_key(line, "{default}", dir.str() + "/line-default.klc");
        want.push_back(line);
    }
    EXPECT_EQ(log.lines, want);
}

INSTANTIATE_TEST_SUITE_P(Files, LineColorTableRead, ::testing::ValuesIn(line_cases()),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(LineColorTableStartup, ShippedDefaultReads) {
    LineColorTable table{};
    VectorLog log;
    read_line_color_table(std::string(PLOTMINT_SOURCE_DIR) + "/data/line-default.klc", "/nonexistent",
                          table, log);
    ASSERT_EQ(log.lines.size(), 1u);
    EXPECT_EQ(table[2], (Rgb{220, 20, 30}));
    EXPECT_EQ(table[29], (Rgb{255, 255, 255}));
    EXPECT_EQ(table[30], (Rgb{96, 96, 96}));
}

}  // namespace
}  // namespace plotmint
