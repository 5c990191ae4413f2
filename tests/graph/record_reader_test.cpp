#include "graph/record_reader.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace plotmint {
namespace {

std::vector<Record> read_all(RecordReader& r) {
    std::vector<Record> out;
    Record rec;
    while (r.read_record(rec)) out.push_back(rec);
    return out;
}

struct ReaderCase {
    const char* name;
    std::string text;
    std::vector<Record> records;
    bool bad_item;
};

class RecordReaderCases : public ::testing::TestWithParam<ReaderCase> {};

TEST_P(RecordReaderCases, ReadsMemoryAndFileAlike) {
    const ReaderCase& c = GetParam();
    RecordReader mem;
    mem.open_memory(c.text);
    EXPECT_EQ(read_all(mem), c.records);
    EXPECT_EQ(mem.bad_item(), c.bad_item);

    const auto path = std::filesystem::temp_directory_path() / ("plotmint_reader_" + std::string(c.name) + ".g");
    std::ofstream(path, std::ios::binary) << c.text;
    RecordReader file;
    ASSERT_TRUE(file.open(path.string()));
    EXPECT_EQ(read_all(file), c.records);
    EXPECT_EQ(file.bad_item(), c.bad_item);
    // A pass after a rewind sees the same records.
    file.rewind();
    EXPECT_EQ(read_all(file), c.records);
    std::filesystem::remove(path);
}

INSTANTIATE_TEST_SUITE_P(
    Inputs, RecordReaderCases,
    ::testing::Values(
        ReaderCase{"one_per_line", "3 0 0\n2 100 -5\n", {{3, 0, 0}, {2, 100, -5}}, false},
        ReaderCase{"split_and_joined", "3\n0\n0 2 100\n-5", {{3, 0, 0}, {2, 100, -5}}, false},
        ReaderCase{"crlf_tabs", "3\t1\t2\r\n-999 0 0\r\n", {{3, 1, 2}, {-999, 0, 0}}, false},
        ReaderCase{"limits", "2147483647 -2147483648 +7", {{2147483647, INT32_MIN, 7}}, false},
        ReaderCase{"partial_tail", "3 1 2 2 5", {{3, 1, 2}}, false},
        ReaderCase{"empty", "", {}, false},
        ReaderCase{"blanks_only", "   \n\n\t  ", {}, false},
        ReaderCase{"word_ends_pass", "3 1 2 2 x 4 5 6 7", {{3, 1, 2}}, true},
        ReaderCase{"beyond_32_bits", "3 1 2 2 2147483648 0 3 3 3", {{3, 1, 2}}, true},
        ReaderCase{"huge_token", "3 1 2 " + std::string(5000, '9') + " 1 1", {{3, 1, 2}}, true},
        ReaderCase{"glued_sign", "3 1 2 2 5-3 1", {{3, 1, 2}}, true},
        ReaderCase{"long_zero_run", "2 " + std::string(100, '0') + "7 1", {}, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(RecordReader, TokenAcrossBufferBoundaryIsWhole) {
    // "12345" starts three bytes before the end of the 1 MiB read buffer.
    std::string text = "3 4 5";
    text += std::string((1 << 20) - 3 - text.size() - 2, ' ');
    text += "2 12345 6\n";
    const auto path = std::filesystem::temp_directory_path() / "plotmint_reader_boundary.g";
    std::ofstream(path, std::ios::binary) << text;
    RecordReader r;
    ASSERT_TRUE(r.open(path.string()));
    auto recs = read_all(r);
    ASSERT_EQ(recs.size(), 2u);
    EXPECT_EQ(recs[1], (Record{2, 12345, 6}));
    EXPECT_FALSE(r.bad_item());
    std::filesystem::remove(path);
}

TEST(RecordReader, MissingFileDoesNotOpen) {
    RecordReader r;
    EXPECT_FALSE(r.open("/nonexistent/dir/graph.g"));
    Record rec;
    EXPECT_FALSE(r.read_record(rec));
}

}  // namespace
}  // namespace plotmint
