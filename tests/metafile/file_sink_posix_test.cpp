// FileSink against what only POSIX systems have: FIFOs, sockets, device nodes, permission
// bits and directories the owner cannot write to.
#include "file_sink_fixture.h"
#include "metafile/emf_reader.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <ostream>
#include <string>

namespace plotmint {
namespace {

using test::draw_something;
using test::FileSinkTest;

constexpr Rect kFrame = test::kFileSinkFrame;

TEST_F(FileSinkTest, MissingDirectoryIsReportedInTheSystemsWords) {
    FileSink sink((dir_ / "no-such-dir" / "graph.emf").string());
    EXPECT_FALSE(sink.ok());
    EXPECT_NE(sink.error().find(": No such file or directory"), std::string::npos) << sink.error();
}

TEST_F(FileSinkTest, ReadOnlyDirectoryKeepsTheOldFile) {
    if (::geteuid() == 0) GTEST_SKIP() << "permissions do not bind the superuser";
    const auto target = dir_ / "graph.emf";
    spit(target, "old picture");
    std::filesystem::permissions(dir_, std::filesystem::perms::owner_write | std::filesystem::perms::group_write |
                                           std::filesystem::perms::others_write,
                                 std::filesystem::perm_options::remove);
    FileSink sink(target.string());
    EmfWriter w(sink, kDefaultDisplay, kFrame);
    draw_something(w);
    EXPECT_FALSE(w.close());
    EXPECT_NE(w.error().find("Permission denied"), std::string::npos) << w.error();
    EXPECT_EQ(slurp(target), "old picture");
}

// What stands at the target and is not a plain file must survive a picture aimed at it:
// a rename over /dev/null or a FIFO would silently turn it into a plain file.
enum class Node { fifo, directory, socket, char_device, link_to_fifo, dangling_link };

struct NodeCase {
    const char* name;
    Node node;
    const char* reason;
};
void PrintTo(const NodeCase& c, std::ostream* os) { *os << c.name; }

class FileSinkNode : public FileSinkTest, public ::testing::WithParamInterface<NodeCase> {};

TEST_P(FileSinkNode, IsRefusedAndLeftAsItWas) {
    const auto target = dir_ / "graph.emf";
    const auto fifo_path = dir_ / "fifo";
    switch (GetParam().node) {
        case Node::fifo: ASSERT_EQ(::mkfifo(target.c_str(), 0644), 0); break;
        case Node::directory: std::filesystem::create_directory(target); break;
        case Node::socket: {
            const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            ASSERT_LT(target.string().size(), sizeof addr.sun_path);
            std::memcpy(addr.sun_path, target.c_str(), target.string().size() + 1);
            ASSERT_EQ(::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
            ::close(s);
            break;
        }
        case Node::char_device:
            // The null device's own numbers, made inside the test folder.
            if (::mknod(target.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
                GTEST_SKIP() << "cannot make a device node here (needs root)";
            break;
        case Node::link_to_fifo:
            ASSERT_EQ(::mkfifo(fifo_path.c_str(), 0644), 0);
            std::filesystem::create_symlink(fifo_path, target);
            break;
        case Node::dangling_link: std::filesystem::create_symlink(dir_ / "nowhere.emf", target); break;
    }
    struct stat before {};
    ASSERT_EQ(::lstat(target.c_str(), &before), 0);
    const size_t entries_before = entries();
    {
        FileSink sink(target.string());
        EXPECT_FALSE(sink.ok());
        EXPECT_EQ(sink.error(), GetParam().reason);
        EmfWriter w(sink, kDefaultDisplay, kFrame);
        draw_something(w);
        EXPECT_FALSE(w.close());
    }
    struct stat after {};
    ASSERT_EQ(::lstat(target.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_rdev, before.st_rdev);
    EXPECT_EQ(entries(), entries_before) << "nothing made beside it";
    EXPECT_FALSE(std::filesystem::exists(dir_ / "nowhere.emf")) << "a dangling link is not followed";
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, FileSinkNode,
    ::testing::Values(NodeCase{"fifo", Node::fifo, "not a regular file"},
                      NodeCase{"directory", Node::directory, "not a regular file"},
                      NodeCase{"socket", Node::socket, "not a regular file"},
                      NodeCase{"char_device", Node::char_device, "not a regular file"},
                      NodeCase{"link_to_fifo", Node::link_to_fifo,
                               "a symbolic link to something that is not a regular file"},
                      NodeCase{"dangling_link", Node::dangling_link, "a symbolic link to nothing"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

TEST_F(FileSinkTest, LinkToAPictureReplacesThePictureAndKeepsTheLink) {
    std::filesystem::create_directory(dir_ / "real");
    const auto real = dir_ / "real" / "picture.emf";
    const auto link = dir_ / "graph.emf";
    spit(real, "old picture");
    std::filesystem::create_symlink("real/picture.emf", link);
    {
        FileSink sink(link.string());
        ASSERT_TRUE(sink.ok()) << sink.error();
        EmfWriter w(sink, kDefaultDisplay, kFrame);
        draw_something(w);
        ASSERT_TRUE(w.close()) << w.error();
    }
    EXPECT_TRUE(std::filesystem::is_symlink(link));
    EXPECT_EQ(std::filesystem::read_symlink(link), "real/picture.emf");
    std::string error;
    EXPECT_TRUE(read_emf_file(real.string(), error)) << error;
    EXPECT_EQ(entries(), 2u);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir_ / "real"), {}), 1);
}

TEST_F(FileSinkTest, ReplacedPictureKeepsItsPermissionBits) {
    const auto target = dir_ / "graph.emf";
    for (const mode_t mode : {0600, 0640, 0604}) {
        spit(target, "old picture");
        ASSERT_EQ(::chmod(target.c_str(), mode), 0);
        FileSink sink(target.string());
        EmfWriter w(sink, kDefaultDisplay, kFrame);
        draw_something(w);
        ASSERT_TRUE(w.close()) << w.error();
        struct stat st {};
        ASSERT_EQ(::stat(target.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, mode) << std::oct << mode;
    }
}

}  // namespace
}  // namespace plotmint
