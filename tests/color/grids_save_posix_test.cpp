// Saving a table over what only POSIX systems have: permission bits, folders the owner
// cannot write to, FIFOs, device nodes and symbolic links.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

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

ToneTable built_in_tone() {
    ToneTable t;
    t.tone[1] = 100;
    t.color[1] = Rgb{255, 255, 255};
    t.count = 2;
    return t;
}

std::vector<std::string> file_names(const TempDir& dir) {
    std::vector<std::string> out;
    for (const auto& e : std::filesystem::directory_iterator(dir.str()))
        out.push_back(e.path().filename().string());
    return out;
}

TEST(SaveFile, KeepsPermissionsOfTheReplacedFile) {
    TempDir dir;
    const std::string path = dir.write("t.ktc", "old\n");
    namespace fs = std::filesystem;
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    ASSERT_TRUE(save_file_atomically(path, "new\n"));
    EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST(SaveFile, ReadOnlyFolderKeepsOldFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind root";
    TempDir dir;
    const std::string path = dir.write("t.ktc", "old\n");
    namespace fs = std::filesystem;
    fs::permissions(dir.str(), fs::perms::owner_read | fs::perms::owner_exec);
    const bool saved = save_file_atomically(path, "new\n");
    fs::permissions(dir.str(), fs::perms::owner_all);
    EXPECT_FALSE(saved);
    EXPECT_EQ(read_bytes(path), "old\n");
    EXPECT_EQ(file_names(dir), std::vector<std::string>{"t.ktc"});
}

// A FIFO or a device where a table is saved stays what it is (renamed over, /dev/null would
// become a plain file); the save fails with the usual line.
TEST(SaveFile, NodeThatIsNotAPlainFileIsLeftAlone) {
    TempDir dir;
    const std::string fifo = dir.file("tone-fifo.ktc");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string device = dir.file("tone-null.ktc");
    const bool have_device = ::mknod(device.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
    const std::string link = dir.file("tone-link.ktc");
    std::filesystem::create_symlink(fifo, link);
    std::vector<std::string> targets = {fifo, link};
    if (have_device) targets.push_back(device);
    const auto before = file_names(dir);
    for (const auto& target : targets) {
        struct stat old {};
        ASSERT_EQ(::lstat(target.c_str(), &old), 0);
        VectorLog log;
        EXPECT_FALSE(save_tone_table(target, tone_grid_cells(built_in_tone()), 2, log)) << target;
        EXPECT_EQ(log.lines, std::vector<std::string>{"cannot open tone file"});
        struct stat now {};
        ASSERT_EQ(::lstat(target.c_str(), &now), 0);
        EXPECT_EQ(now.st_mode, old.st_mode) << target;
        EXPECT_EQ(now.st_ino, old.st_ino) << target;
        EXPECT_EQ(now.st_rdev, old.st_rdev) << target;
    }
    EXPECT_EQ(file_names(dir), before);
}

TEST(SaveFile, LinkToATableReplacesTheTableAndKeepsTheLink) {
    TempDir dir;
    std::filesystem::create_directory(dir.file("real"));
    const std::string real = dir.write("real/t.ktc", "old\n");
    const std::string link = dir.file("t.ktc");
    std::filesystem::create_symlink("real/t.ktc", link);
    ASSERT_TRUE(save_file_atomically(link, "new\n"));
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(read_bytes(real), "new\n");
    const std::vector<std::string> expected = {"real", "t.ktc"};
    auto names = file_names(dir);
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, expected);
}

}  // namespace
}  // namespace plotmint
