#include "color/discovery.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

#include "color/grids.h"
#include "temp_dir.h"

namespace plotmint {
namespace {

using testing::TempDir;

// Records that spell `name` as character records (code 20), wrapped in 33 .. 35.
std::string name_records(const std::string& name) {
    std::string s = "33 0 0\n";
    for (const char c : name) s += "20 " + std::to_string(static_cast<unsigned char>(c)) + " 0\n";
    return s + "35 0 0\n";
}

std::string refused(const std::string& shown) {
    return "color table name |" + shown + "| is not allowed.  ignore";
}

struct DiscoveryCase {
    const char* name;
    std::string graph;                // graph file content
    std::vector<std::string> loaded;  // names whose tables are shown, in order
    std::vector<std::string> tail;    // log lines after "open ... for searching ..."
};

void PrintTo(const DiscoveryCase& c, std::ostream* os) { *os << c.name; }

std::vector<DiscoveryCase> discovery_cases() {
    const std::string long_ok(200, 'a');
    return {
        {"no_table_name", "3 0 0 2 10 10 6 1 0\n", {}, {"no color table."}},
        {"empty_graph_file", "", {}, {"no color table."}},
        {"two_letters_any_codes", "3 0 0 33 0 0 6 97 0 2 98 5 35 0 0 2 1 1\n", {"ab"}, {"find color table."}},
        {"split_over_lines", "33\n0 0\t20 97\n\n0 35 0\n0", {"a"}, {"find color table."}},
        {"after_end_of_plot_not_seen", "-999 0 0\n" + name_records("ab"), {}, {"no color table."}},
        {"end_of_plot_inside_name_is_a_character", "33 0 0 -999 97 0 35 0 0 33 0 0 20 98 0 35 0 0",
         {"a", "b"}, {"find color table."}},
        {"begin_inside_name_is_a_character", "33 0 0 33 120 0 35 0 0", {"x"}, {"find color table."}},
        {"two_names_load_twice", name_records("one") + "2 5 5\n" + name_records("two"), {"one", "two"},
         {"find color table."}},
        {"empty_name", "33 0 0 35 0 0", {""}, {"find color table."}},
        {"low_8_bits", "33 0 0 20 353 0 20 -159 0 35 0 0", {"aa"}, {"find color table."}},
        {"bytes_above_127_allowed", name_records("\xC3\xA9t\xC3\xA9"), {"\xC3\xA9t\xC3\xA9"},
         {"find color table."}},
        {"single_dot_allowed", name_records("v1.2"), {"v1.2"}, {"find color table."}},
        {"two_hundred_bytes_allowed", name_records(long_ok), {long_ok}, {"find color table."}},
        // A name that is not closed is not loaded; the scan ends there.
        {"ends_inside_name", "33 0 0 20 97 0 20 98 0", {}, {"no color table."}},
        {"ends_inside_partial_record", "33 0 0 20 97 0 35 0", {}, {"no color table."}},
        {"ends_inside_second_name", name_records("a") + "33 0 0 20 98 0", {"a"}, {"find color table."}},
        {"non_integer_inside_name", "33 0 0 20 97 0 x 35 0 0", {}, {"no color table."}},
        {"non_integer_before_name", "1 2 x " + name_records("a"), {}, {"no color table."}},
        {"non_integer_after_name", name_records("a") + "1.5 0 0 " + name_records("b"), {"a"},
         {"find color table."}},
        {"slash_refused", name_records("../a/b"), {}, {refused("../a/b"), "no color table."}},
        {"slash_alone_refused", name_records("a/b"), {}, {refused("a/b"), "no color table."}},
        {"backslash_refused", name_records("a\\b"), {}, {refused("a\\b"), "no color table."}},
        {"dot_dot_refused", name_records(".."), {}, {refused(".."), "no color table."}},
        {"dot_dot_inside_refused", name_records("a..b"), {}, {refused("a..b"), "no color table."}},
        {"control_byte_refused", name_records("a\x01z"), {}, {refused("a\\x01z"), "no color table."}},
        {"newline_refused", name_records("a\nb"), {}, {refused("a\\x0Ab"), "no color table."}},
        {"delete_byte_refused", name_records("a\x7F"), {}, {refused("a\\x7F"), "no color table."}},
        {"zero_byte_refused", "33 0 0 20 97 0 20 256 0 20 98 0 35 0 0", {}, {refused("a\\x00b"), "no color table."}},
        {"201_bytes_refused", name_records(std::string(201, 'b')), {},
         {refused(std::string(201, 'b')), "no color table."}},
        {"over_299_bytes_refused", name_records(std::string(400, 'c')), {},
         {refused(std::string(299, 'c') + "..."), "no color table."}},
        {"refused_then_good", name_records("x/y") + name_records("good"), {"good"},
         {refused("x/y"), "find color table."}},
    };
}

class FindColorTable : public ::testing::TestWithParam<DiscoveryCase> {};

TEST_P(FindColorTable, LoadsAndLogs) {
    const DiscoveryCase& c = GetParam();
    TempDir dir;
    const std::string graph = dir.write("graph.g", c.graph);
    std::vector<std::string> calls;
    DiscoveryCallbacks show{[&](const std::string& p) { calls.push_back("tone " + p); },
                            [&](const std::string& p) { calls.push_back("line " + p); }};
    VectorLog log;
    find_color_table(graph, "/prog", true, show, log);

    std::vector<std::string> want_calls;
    for (const auto& n : c.loaded) {
        want_calls.push_back("tone /prog/tone-" + n + ".ktc");
        want_calls.push_back("line /prog/line-" + n + ".klc");
    }
    EXPECT_EQ(calls, want_calls);
    std::vector<std::string> want_log{"open " + graph + " for searching color table name."};
    want_log.insert(want_log.end(), c.tail.begin(), c.tail.end());
    EXPECT_EQ(log.lines, want_log);
}

INSTANTIATE_TEST_SUITE_P(Graphs, FindColorTable, ::testing::ValuesIn(discovery_cases()),
                         [](const auto& p) { return std::string(p.param.name); });

struct Recorder {
    std::vector<std::string> calls;
    DiscoveryCallbacks callbacks() {
        return {[this](const std::string& p) { calls.push_back(p); },
                [this](const std::string& p) { calls.push_back(p); }};
    }
};

TEST(FindColorTableOff, DoesNothingAtAll) {
    TempDir dir;
    const std::string graph = dir.write("graph.g", name_records("ab"));
    for (const std::string& name : {graph, std::string(), dir.file("missing.g")}) {
        Recorder rec;
        VectorLog log;
        find_color_table(name, "/prog", false, rec.callbacks(), log);
        EXPECT_TRUE(rec.calls.empty());
        EXPECT_TRUE(log.lines.empty());
    }
}

TEST(FindColorTableOpen, EmptyName) {
    Recorder rec;
    VectorLog log;
    find_color_table("", "/prog", true, rec.callbacks(), log);
    EXPECT_EQ(log.lines, std::vector<std::string>{"File name is empty."});
    EXPECT_TRUE(rec.calls.empty());
}

TEST(FindColorTableOpen, MissingFileAndFolder) {
    TempDir dir;
    for (const std::string& name : {dir.file("missing.g"), dir.str()}) {
        Recorder rec;
        VectorLog log;
        find_color_table(name, "/prog", true, rec.callbacks(), log);
        EXPECT_EQ(log.lines, (std::vector<std::string>{"open " + name + " for searching color table name.",
                                                       "Cannot open file."}));
        EXPECT_TRUE(rec.calls.empty());
    }
}

// With the real show operations: the named tables come from the program directory, a
// missing one falls back on its own, and the readers' lines come before "find color table.".
TEST(FindColorTableShow, LoadsNamedTablesWithFallbacks) {
    TempDir prog;
    TempDir work;
    prog.write("tone-sea.ktc", "color\nno.\n0 0 0 50\n100 0 0 250\n");
    prog.write("line-default.klc", "gray\nno.\n4 44\n");
    const std::string graph = work.write("graph.g", name_records("sea"));

    ToneTable tone;
    LineColorTable line{};
    GridCells tone_cells = tone_grid_cells(tone);
    GridCells line_cells = line_grid_cells(line);
    VectorLog log;
    DiscoveryCallbacks show{
        [&](const std::string& p) { show_tone_table(p, prog.str(), tone, tone_cells, log); },
        [&](const std::string& p) { show_line_color_table(p, prog.str(), line, line_cells, log); }};
    find_color_table(graph, prog.str(), true, show, log);

    const std::string p = prog.str();
    EXPECT_EQ(log.lines, (std::vector<std::string>{
                             "open " + graph + " for searching color table name.",
                             "open " + p + "/tone-sea.ktc.",
                             "cannot open " + p + "/line-sea.klc.",
                             "open " + p + "/line-default.klc.",
                             "find color table.",
                         }));
    EXPECT_EQ(tone.count, 2);
    EXPECT_EQ(tone_cells[2], (std::array<std::string, 4>{"100", "  0", "  0", "250"}));
    EXPECT_EQ(line[4], (Rgb{44, 44, 44}));
    EXPECT_EQ(line_cells[5][1], " 44");
}

// A refused name must not reach the file system at all, even though the show operations
// would fall back to the defaults.
TEST(FindColorTableShow, RefusedNameTouchesNoFile) {
    TempDir prog;
    TempDir work;
    const std::string graph = work.write("graph.g", name_records("../../etc/passwd"));
    Recorder rec;
    VectorLog log;
    find_color_table(graph, prog.str(), true, rec.callbacks(), log);
    EXPECT_TRUE(rec.calls.empty());
    ASSERT_EQ(log.lines.size(), 3u);
    EXPECT_EQ(log.lines[1], refused("../../etc/passwd"));
}

// A link in the table directory that leads out of it is not followed: the outside file's
// first word must not reach the log (the line reader shows a bad mode word). It reads as a
// missing table. A link that stays inside the directory is followed as before.
TEST(FindColorTableShow, NamedTableLeadingOutOfTheDirectoryCountsAsMissing) {
    TempDir prog;
    TempDir work;
    prog.write("tone-default.ktc", "gray\nno\n0 0\n100 100\n");
    prog.write("line-default.klc", "gray\nno.\n4 44\n");
    prog.write("real-tone.ktc", "gray\nno\n0 7\n100 77\n");
    const std::string secret = work.write("secret", "hunter2 is the password\n");
    std::error_code ec;
    std::filesystem::create_symlink(secret, prog.file("tone-out.ktc"), ec);
    // Windows lets only privileged users (or developer mode) make links, and Wine none.
    if (ec) GTEST_SKIP() << "no symbolic links can be made here: " << ec.message();
    std::filesystem::create_symlink(secret, prog.file("line-out.klc"));
    std::filesystem::create_symlink("real-tone.ktc", prog.file("tone-in.ktc"));
    const std::string graph = work.write("graph.g", name_records("out") + name_records("in"));

    ToneTable tone;
    LineColorTable line{};
    GridCells tone_cells = tone_grid_cells(tone);
    GridCells line_cells = line_grid_cells(line);
    VectorLog log;
    std::vector<int32_t> top_tone_red;
    DiscoveryCallbacks show{[&](const std::string& p) {
                                show_tone_table(p, prog.str(), tone, tone_cells, log);
                                top_tone_red.push_back(tone.color[1].r);
                            },
                            [&](const std::string& p) { show_line_color_table(p, prog.str(), line, line_cells, log); }};
    find_color_table(graph, prog.str(), true, show, log);

    const std::string p = prog.str();
    EXPECT_EQ(log.lines, (std::vector<std::string>{
                             "open " + graph + " for searching color table name.",
                             "cannot open " + p + "/tone-out.ktc.",
                             "open " + p + "/tone-default.ktc.",
                             "cannot open " + p + "/line-out.klc.",
                             "open " + p + "/line-default.klc.",
                             "open " + p + "/tone-in.ktc.",
                             "cannot open " + p + "/line-in.klc.",
                             "open " + p + "/line-default.klc.",
                             "find color table.",
                         }));
    EXPECT_EQ(top_tone_red, (std::vector<int32_t>{100, 77}));
    for (const auto& l : log.lines) EXPECT_EQ(l.find("hunter2"), std::string::npos) << l;
}

}  // namespace
}  // namespace plotmint
