// The descriptor, stamp and terminal functions of the platform seam, written against the
// seam alone so the same checks run on every system it is implemented for.
#include "../test_folder.h"
#include "base/platform.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace fs = std::filesystem;

namespace plotmint::platform {
namespace {

class Descriptors : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = plotmint_test::test_folder("plotmint-descriptors-");
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write(const std::string& name, const std::string& bytes) const {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
        return (dir_ / name).string();
    }
    static std::string contents(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    size_t entries() const { return static_cast<size_t>(std::distance(fs::directory_iterator(dir_), {})); }

    fs::path dir_;
};

std::string read_back(int fd, size_t size, uint64_t offset) {
    std::string out(size, '\0');
    const int64_t n = read_at(fd, out.data(), size, offset);
    out.resize(n < 0 ? 0 : static_cast<size_t>(n));
    return n < 0 ? "<error>" : out;
}

TEST_F(Descriptors, ReadAtGivesTheBytesAtEachOffsetAndZeroAtTheEnd) {
    // A \r\n pair too: a text-mode descriptor would turn it into one byte.
    const std::string bytes = "0123456789\r\nabcdef";
    std::string error;
    const int fd = open_regular_file(write("f", bytes), error);
    ASSERT_GE(fd, 0) << error;
    struct Case {
        uint64_t offset;
        size_t size;
        std::string want;
    };
    for (const Case& c : {Case{0, bytes.size(), bytes}, Case{10, 4, "\r\nab"}, Case{16, 10, "ef"},
                          Case{bytes.size(), 4, ""}, Case{1000, 4, ""}})
        EXPECT_EQ(read_back(fd, c.size, c.offset), c.want) << "at " << c.offset;
    close_file(fd);
}

TEST_F(Descriptors, AnonymousTemporaryReadsBackWhatWasAppendedBetweenReads) {
    const int fd = open_anonymous_temporary();
    ASSERT_GE(fd, 0);
    // The record file is appended to while earlier segments are read back: a positioned
    // read must not move where the next write goes.
    ASSERT_TRUE(write_all(fd, "first\n", 6));
    EXPECT_EQ(read_back(fd, 6, 0), "first\n");
    ASSERT_TRUE(write_all(fd, "second", 6));
    EXPECT_EQ(read_back(fd, 100, 0), "first\nsecond");
    EXPECT_EQ(read_back(fd, 3, 7), "eco");
    const auto stamp = file_stamp(fd);
    ASSERT_TRUE(stamp);
    EXPECT_EQ(stamp->size, 12u);
    close_file(fd);
}

TEST_F(Descriptors, StampsTellFilesAndChangesApart) {
    const std::string a = write("a", "abc");
    const std::string b = write("b", "abc");
    std::string error;
    const int fd = open_regular_file(a, error);
    ASSERT_GE(fd, 0) << error;
    const auto by_fd = file_stamp(fd);
    const auto by_name = file_stamp(a);
    const auto other = file_stamp(b);
    ASSERT_TRUE(by_fd && by_name && other);
    EXPECT_EQ(*by_fd, *by_name);
    EXPECT_EQ(by_fd->size, 3u);
    EXPECT_FALSE(by_fd->device == other->device && by_fd->inode == other->inode);
    // Another spelling of the same name is the same file.
    EXPECT_TRUE(same_file(a, (dir_ / "." / "a").string()));
    EXPECT_FALSE(same_file(a, b));
    std::ofstream(a, std::ios::binary | std::ios::app) << "more";
    const auto after = file_stamp(fd);
    ASSERT_TRUE(after);
    EXPECT_EQ(after->inode, by_fd->inode);
    EXPECT_EQ(after->size, 7u);
    EXPECT_NE(*after, *by_fd);
    close_file(fd);
    EXPECT_FALSE(file_stamp((dir_ / "missing").string()));
}

TEST_F(Descriptors, TemporaryStreamIsBinaryPatchableAndCommitsOverTheTarget) {
    const std::string target = write("picture", "old contents");
    std::string error;
    auto temp = create_temporary(target, error);
    ASSERT_TRUE(temp) << error;
    std::FILE* f = stream_from(temp->fd, "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite("AB\nCD\n", 1, 6, f), 6u);
    // A header patched once the rest is written, then writing goes on at the end.
    ASSERT_TRUE(std::fflush(f) == 0 && seek_stream(f, 1));
    ASSERT_EQ(std::fwrite("x", 1, 1, f), 1u);
    ASSERT_TRUE(seek_stream_to_end(f));
    ASSERT_EQ(std::fwrite("E", 1, 1, f), 1u);
    keep_permissions(stream_descriptor(f), target);
    ASSERT_TRUE(start_writeback(f));
    ASSERT_TRUE(flush_to_disk(f));
    ASSERT_EQ(std::fclose(f), 0);
    temp->fd = -1;
    ASSERT_TRUE(commit_temporary(*temp, target, error)) << error;
    EXPECT_EQ(contents(target), "Ax\nCD\nE");
    EXPECT_EQ(entries(), 1u) << "the temporary stays behind";
}

TEST_F(Descriptors, DiscardedTemporaryLeavesTheTargetAlone) {
    const std::string target = write("picture", "old");
    std::string error;
    auto temp = create_temporary(target, error);
    ASSERT_TRUE(temp) << error;
    ASSERT_TRUE(write_all(temp->fd, "new", 3));
    discard_temporary(*temp);
    EXPECT_EQ(contents(target), "old");
    EXPECT_EQ(entries(), 1u);
}

TEST_F(Descriptors, TemporaryNamesCarryThePidAndARandomPart) {
    const std::string target = (dir_ / "graph.emf").string();
    std::string error;
    auto a = create_temporary(target, error);
    auto b = create_temporary(target, error);
    ASSERT_TRUE(a && b) << error;
    const std::string prefix = target + ".plotmint-tmp-" + std::to_string(current_process_id()) + "-";
    for (const auto* t : {&*a, &*b}) {
        EXPECT_EQ(t->path.rfind(prefix, 0), 0u) << t->path;
        ASSERT_EQ(t->path.size(), prefix.size() + 16) << t->path;
        EXPECT_EQ(t->path.find_first_not_of("0123456789abcdef", prefix.size()), std::string::npos) << t->path;
    }
    EXPECT_NE(a->path.substr(a->path.size() - 8), b->path.substr(b->path.size() - 8));
    discard_temporary(*a);
    discard_temporary(*b);
    EXPECT_EQ(entries(), 0u);
}

TEST_F(Descriptors, CommitRefusesAFolderThatCameToStandAtTheTarget) {
    const std::string target = (dir_ / "graph.emf").string();
    std::string error;
    auto temp = create_temporary(target, error);
    ASSERT_TRUE(temp) << error;
    ASSERT_TRUE(write_all(temp->fd, "new", 3));
    fs::create_directory(target);
    write("graph.emf/inside", "kept");
    EXPECT_FALSE(commit_temporary(*temp, target, error));
    EXPECT_EQ(error, kNotARegularFile);
    EXPECT_EQ(contents((dir_ / "graph.emf" / "inside").string()), "kept");
    EXPECT_EQ(entries(), 1u) << "the temporary is gone";
}

TEST_F(Descriptors, StaleTemporariesOfEndedProcessesAloneAreRemoved) {
    // Above every process number either system hands out.
    const long dead = 999999999;
    ASSERT_FALSE(process_alive(dead));
    ASSERT_TRUE(process_alive(current_process_id()));
    const std::string random = "0123456789abcdef";
    const std::string stale = "graph.emf.plotmint-tmp-" + std::to_string(dead) + "-" + random;
    const std::string stale_table = "tone-a.ktc.plotmint-tmp-" + std::to_string(dead) + "-" + random;
    // No two names differ in case only: where names ignore case they would be one file.
    const std::vector<std::string> kept = {
        "graph.emf.plotmint-tmp-" + std::to_string(current_process_id()) + "-" + random,  // alive
        "graph.emf.plotmint-tmp-" + std::to_string(dead) + "-0123",                       // not our shape
        "graph.emf.plotmint-tmp-" + std::to_string(dead) + "-FEDCBA9876543210",           // not our shape
        "graph.emf.tmp" + std::to_string(dead) + "-0",                                    // someone else's
        "notes.txt",
    };
    write(stale, "partial");
    write(stale_table, "partial");
    for (const auto& n : kept) write(n, "keep");
    remove_stale_temporaries((dir_ / "graph.emf").string());
    EXPECT_FALSE(fs::exists(dir_ / stale));
    EXPECT_FALSE(fs::exists(dir_ / stale_table));
    EXPECT_EQ(entries(), kept.size());
    for (const auto& n : kept) EXPECT_EQ(contents((dir_ / n).string()), "keep") << n;
}

TEST_F(Descriptors, ProgramPathNamesThisTestProgram) {
    const std::string self = program_path();
    ASSERT_FALSE(self.empty());
    EXPECT_TRUE(fs::is_regular_file(self)) << self;
    EXPECT_EQ(fs::path(self).stem().string(), "test_platform");
}

TEST_F(Descriptors, AFileIsNoTerminal) {
    std::FILE* f = std::fopen(write("t", "").c_str(), "rb");
    ASSERT_NE(f, nullptr);
    EXPECT_FALSE(is_terminal(f));
    EXPECT_EQ(terminal_columns(f), 0);
    std::fclose(f);
}

}  // namespace
}  // namespace plotmint::platform
