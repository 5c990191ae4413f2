#include "app/core/table_dir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace plotmint;

namespace {

struct Layout {
    const char* name;
    std::vector<const char*> files;  // relative to PREFIX
    const char* expected;            // relative to PREFIX; "" for the empty name
};

class TableDirectory : public ::testing::TestWithParam<Layout> {};

TEST_P(TableDirectory, ProgramDirectoryFirstThenTheSharedOne) {
    const fs::path prefix = fs::temp_directory_path() / (std::string("plotmint_table_dir_") + GetParam().name);
    fs::remove_all(prefix);
    fs::create_directories(prefix / "bin");
    for (const char* f : GetParam().files) {
        fs::create_directories((prefix / f).parent_path());
        std::ofstream(prefix / f) << "color\n";
    }
    // Spelled with the system's own separators, which the expected names mix with '/'.
    EXPECT_EQ(fs::path(table_directory((prefix / "bin").string())).make_preferred().string(),
              (prefix / GetParam().expected).make_preferred().string());
    fs::remove_all(prefix);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, TableDirectory,
    ::testing::Values(
        // A build tree or an unpacked copy: the tables sit beside the program.
        Layout{"beside", {"bin/tone-default.ktc", "bin/line-default.klc", "share/plotmint/tone-default.ktc"}, "bin"},
        Layout{"beside_line_only", {"bin/line-default.klc", "share/plotmint/tone-default.ktc"}, "bin"},
        // An installed program: PREFIX/bin and PREFIX/share/plotmint.
        Layout{"installed", {"share/plotmint/tone-default.ktc", "share/plotmint/line-default.klc"}, "share/plotmint"},
        // Neither: the program's own directory, so the messages name where tables were sought.
        Layout{"nowhere", {"share/plotmint/other.ktc"}, "bin"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

TEST(TableDirectoryName, EmptyStaysEmpty) { EXPECT_EQ(table_directory(""), ""); }

}  // namespace
