// Runs the built plotmint-convert as a user would and checks its message log and exit code.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../test_folder.h"
#include "shell_helpers.h"

namespace fs = std::filesystem;

namespace {

struct Outcome {
    int status;
    std::vector<std::string> err;  // standard error, one entry a line
    std::string out;
};

using plotmint_test::converter_command;
using plotmint_test::slurp;

class ConvertTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = plotmint_test::test_folder("plotmint_convert_");
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "tables");
        fs::copy_file(fs::path(PLOTMINT_SOURCE_DIR) / "data/tone-default.ktc", dir_ / "tables/tone-default.ktc");
        fs::copy_file(fs::path(PLOTMINT_SOURCE_DIR) / "data/line-default.klc", dir_ / "tables/line-default.klc");
    }
    void TearDown() override { fs::remove_all(dir_); }

    void write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name, std::ios::binary) << text; }

    Outcome run(const std::vector<std::string>& args, bool with_table_dir = true) {
        const std::string cmd =
            converter_command(dir_, with_table_dir ? dir_ / "tables" : fs::path(), args) + " 2>stderr.txt >stdout.txt";
        const int rc = std::system(cmd.c_str());
        Outcome r;
        r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        std::istringstream in(slurp(dir_ / "stderr.txt"));
        for (std::string line; std::getline(in, line);) r.err.push_back(line);
        r.out = slurp(dir_ / "stdout.txt");
        return r;
    }

    std::string table(const std::string& name) { return (dir_ / "tables" / name).string(); }

    fs::path dir_;
};

TEST_F(ConvertTest, CompleteRunLogsEveryStageInOrder) {
    write("graph.g", "3 0 0\n2 100 200\n");
    const Outcome r = run({});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, (std::vector<std::string>{
                         "open " + table("tone-default.ktc") + ".", "open " + table("line-default.klc") + ".",
                         "open graph.g for searching color table name.", "no color table.", "open graph.g.",
                         "xmin : 0", "xmax : 100", "ymin : 0", "ymax : 200", "margin : 28", "making metafile",
                         "making metafile end", "draw finished."}));
    const std::string emf = slurp(dir_ / "graph.emf");
    ASSERT_GE(emf.size(), 88u);
    EXPECT_EQ(emf.substr(40, 4), std::string(" EMF"));
}

TEST_F(ConvertTest, DiscoveryLoadsNamedTablesAndCanBeSwitchedOff) {
    write("named.g", "33 0 0  0 100 0  0 101 0  35 0 0  3 0 0  2 10 10\n");
    std::ofstream(dir_ / "tables/tone-de.ktc") << "gray\nno.\n0 0\n100 200\n";
    std::ofstream(dir_ / "tables/line-de.klc") << "gray\nno.\n1 50\n";
    Outcome r = run({"named.g"});
    EXPECT_EQ(r.status, 0);
    ASSERT_GE(r.err.size(), 6u);
    EXPECT_EQ(r.err[3], "open " + table("tone-de.ktc") + ".");
    EXPECT_EQ(r.err[4], "open " + table("line-de.klc") + ".");
    EXPECT_EQ(r.err[5], "find color table.");
    r = run({"--no-discovery", "named.g"});
    EXPECT_EQ(r.err[2], "open named.g.");
}

TEST_F(ConvertTest, MissingAndEmptyNamesStopWithExitOne) {
    Outcome r = run({"nothere.g"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::vector<std::string>(r.err.end() - 4, r.err.end()),
              (std::vector<std::string>{"open nothere.g for searching color table name.", "Cannot open file.",
                                        "open nothere.g.", "Cannot open file."}));
    r = run({""});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(std::vector<std::string>(r.err.end() - 2, r.err.end()),
              (std::vector<std::string>{"File name is empty.", "File name is empty."}));
    EXPECT_FALSE(fs::exists(dir_ / "graph.emf"));
}

TEST_F(ConvertTest, FileNameIsUsedAsTyped) {
    write(" spaced.g ", "3 0 0 2 5 5");
    const Outcome r = run({"--no-discovery", " spaced.g "});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err[2], "open  spaced.g .");
}

TEST_F(ConvertTest, AbandonedRenderStillWritesButExitsOne) {
    write("bad.g", "3 0 0 2 10 10  7 1 3  0 121 0  0 0 0  0 1 1  9 0 0");
    const Outcome r = run({"--no-discovery", "bad.g"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(std::find(r.err.begin(), r.err.end(), "gray is out of range"), r.err.end());
    EXPECT_EQ(r.err.back(), "draw finished.");
    EXPECT_TRUE(fs::exists(dir_ / "graph.emf"));
}

TEST_F(ConvertTest, OptionsReachTheRun) {
    write("g.g", "3 0 0 2 10 10");
    const Outcome r = run({"--no-discovery", "--widths", "1,2,3,4,50", "-o", "out.emf", "g.g"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(std::find(r.err.begin(), r.err.end(), "margin : 50"), r.err.end());
    EXPECT_TRUE(fs::exists(dir_ / "out.emf"));
    EXPECT_FALSE(fs::exists(dir_ / "graph.emf"));
}

TEST_F(ConvertTest, UnwritableOutputIsAFailureAndKeepsWhatWasThere) {
    write("g.g", "3 0 0 2 10 10");
    fs::create_directories(dir_ / "taken.emf");  // a directory cannot be replaced by the picture
    Outcome r = run({"--no-discovery", "-o", "taken.emf", "g.g"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.back(), "draw finished.");
    EXPECT_TRUE(fs::is_directory(dir_ / "taken.emf"));
    r = run({"--no-discovery", "-o", "no/such/dir/x.emf", "g.g"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.back(), "draw finished.");
}

TEST_F(ConvertTest, UnsupportedHersheySignGoesToStandardErrorAsIs) {
    write("h.g", "10 0 0  0 10 0  20 9 0  13 0 0");
    const Outcome r = run({"--no-discovery", "h.g"});
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(std::find(r.err.begin(), r.err.end(), "This hershey font no.9 is not supported. Replaced by space."),
              r.err.end());
}

struct UsageCase {
    std::vector<std::string> args;
};

class ConvertUsage : public ConvertTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(ConvertUsage, IsRefusedWithExitTwo) {
    const Outcome r = run(GetParam().args);
    EXPECT_EQ(r.status, 2);
    ASSERT_FALSE(r.err.empty());
    EXPECT_EQ(r.err[0].rfind("plotmint-convert: ", 0), 0u);
    EXPECT_FALSE(fs::exists(dir_ / "graph.emf"));
}

INSTANTIATE_TEST_SUITE_P(
    Bad, ConvertUsage,
    ::testing::Values(UsageCase{{"--bogus"}}, UsageCase{{"--widths", "1,2,3,4"}}, UsageCase{{"--widths", "1,2,3,4,x"}},
                      UsageCase{{"--widths", "1,2,3,4,5,6"}}, UsageCase{{"--vhline", "3"}}, UsageCase{{"--hershey", "a"}},
                      UsageCase{{"--vhline-pen", "1,2,3"}}, UsageCase{{"--display", "0,1,1,1"}}, UsageCase{{"-o"}},
                      UsageCase{{"a.g", "b.g"}}));

TEST_F(ConvertTest, HelpAndVersion) {
    Outcome r = run({"--help"}, false);
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("Usage: plotmint-convert [OPTIONS] [GRAPH_FILE]"), std::string::npos);
    EXPECT_TRUE(r.err.empty());
    r = run({"--version"}, false);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out.rfind("plotmint-convert ", 0), 0u);
}

TEST_F(ConvertTest, EveryExampleConverts) {
    for (const auto& entry : fs::directory_iterator(fs::path(PLOTMINT_SOURCE_DIR) / "examples")) {
        if (entry.path().extension() != ".g") continue;
        for (const char* hershey : {"0", "1", "2"}) {
            const Outcome r = run({"--hershey", hershey, entry.path().string()}, false);
            EXPECT_EQ(r.status, 0) << entry.path();
            EXPECT_EQ(r.err.back(), "draw finished.") << entry.path();
        }
    }
}

}  // namespace

// Input that is not a graph file must not replace the last picture with an empty one; a
// byte-order mark before a real graph file is no reason to refuse it.
struct InputCase {
    const char* name;
    std::string bytes;  // written as graph.g; empty: graph.g is made a folder
    int status;
    const char* line;  // a line the log must hold
};

void PrintTo(const InputCase& c, std::ostream* os) { *os << c.name; }

class NotAGraphFile : public ConvertTest, public ::testing::WithParamInterface<InputCase> {};

TEST_P(NotAGraphFile, FailsAndKeepsTheOldPicture) {
    const InputCase& c = GetParam();
    const std::string old_picture = "the previous picture";
    write("graph.emf", old_picture);
    if (c.bytes.empty())
        fs::create_directory(dir_ / "graph.g");
    else
        write("graph.g", c.bytes);
    const Outcome r = run({"graph.g"});
    EXPECT_EQ(r.status, c.status);
    EXPECT_NE(std::find(r.err.begin(), r.err.end(), std::string(c.line)), r.err.end()) << r.err.back();
    if (c.status != 0) EXPECT_EQ(slurp(dir_ / "graph.emf"), old_picture);
    else EXPECT_NE(slurp(dir_ / "graph.emf"), old_picture);
}

std::string utf16(const std::string& ascii) {
    std::string out = "\xFF\xFE";
    for (char ch : ascii) out += std::string{ch, '\0'};
    return out;
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, NotAGraphFile,
    ::testing::Values(
        InputCase{"utf16", utf16("3 0 0\n2 100 200\n"), 1, "graph.g is not a graph file.  nothing is drawn."},
        InputCase{"junk", "%PDF-1.4 3 0 0 2 100 200", 1, "graph.g is not a graph file.  nothing is drawn."},
        InputCase{"nul_first", std::string("\0\0\0 3 0 0 2 100 200", 20), 1,
                  "graph.g is not a graph file.  nothing is drawn."},
        InputCase{"half_a_record", "3 0 x", 1, "graph.g is not a graph file.  nothing is drawn."},
        InputCase{"folder", "", 1, "graph.g is not a regular file.  nothing is drawn."},
        InputCase{"bom_then_graph", "\xEF\xBB\xBF" "3 0 0\n2 100 200\n", 0, "draw finished."},
        // One whole record before the junk is a graph file cut short, drawn as far as it goes.
        InputCase{"record_then_junk", "3 0 0 2 100 200 junk", 0, "draw finished."}),
    [](const ::testing::TestParamInfo<InputCase>& p) { return std::string(p.param.name); });

// No output may replace a file the conversion reads, whatever name reaches it.
struct SameFileCase {
    const char* name;
    std::function<std::string(const fs::path& dir)> output;  // makes the output name
};

void PrintTo(const SameFileCase& c, std::ostream* os) { *os << c.name; }

class OutputIsAnInput : public ConvertTest, public ::testing::WithParamInterface<SameFileCase> {};

TEST_P(OutputIsAnInput, IsRefusedBeforeAnythingIsWritten) {
    const SameFileCase& c = GetParam();
    const std::string graph = "33 0 0\n0 100 0\n0 101 0\n35 0 0\n3 0 0\n2 100 200\n";  // names tables "de"
    write("mine.g", graph);
    fs::copy_file(dir_ / "tables/tone-default.ktc", dir_ / "tables/tone-de.ktc");
    fs::copy_file(dir_ / "tables/line-default.klc", dir_ / "tables/line-de.klc");
    const std::string tone = slurp(dir_ / "tables/tone-de.ktc");
    const std::string output = c.output(dir_);
    const Outcome r = run({"-o", output, "mine.g"});
    EXPECT_EQ(r.status, 1);
    ASSERT_FALSE(r.err.empty());
    EXPECT_NE(r.err.back().find("which this conversion reads; nothing is written."), std::string::npos) << r.err.back();
    EXPECT_EQ(slurp(dir_ / "mine.g"), graph);
    EXPECT_EQ(slurp(dir_ / "tables/tone-de.ktc"), tone);
    EXPECT_FALSE(fs::exists(dir_ / "graph.emf"));
}

INSTANTIATE_TEST_SUITE_P(
    Names, OutputIsAnInput,
    ::testing::Values(SameFileCase{"the_graph_file", [](const fs::path&) { return std::string("mine.g"); }},
                      SameFileCase{"a_symlink_to_it",
                                   [](const fs::path& d) {
                                       fs::create_symlink("mine.g", d / "link.emf");
                                       return std::string("link.emf");
                                   }},
                      SameFileCase{"a_hard_link_as_svg",
                                   [](const fs::path& d) {
                                       fs::create_hard_link(d / "mine.g", d / "hard.svg");
                                       return std::string("hard.svg");
                                   }},
                      SameFileCase{"a_discovered_table",
                                   [](const fs::path& d) { return (d / "tables/tone-de.ktc").string(); }},
                      SameFileCase{"the_start_up_table",
                                   [](const fs::path& d) { return (d / "tables/line-default.klc").string(); }}),
    [](const ::testing::TestParamInfo<SameFileCase>& p) { return std::string(p.param.name); });

// A FIFO given as the graph file is refused at once, not waited on.
TEST_F(ConvertTest, FifoAsTheGraphFileIsRefusedWithoutWaiting) {
    ASSERT_EQ(::mkfifo((dir_ / "graph.g").c_str(), 0600), 0);
    write("graph.emf", "old");
    const auto start = std::chrono::steady_clock::now();
    const Outcome r = run({"graph.g"});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(std::find(r.err.begin(), r.err.end(), "graph.g is not a regular file.  nothing is drawn."), r.err.end());
    EXPECT_EQ(slurp(dir_ / "graph.emf"), "old");
}
