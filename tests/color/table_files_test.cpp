// What stands where a table file is expected and is not a plain file: it counts as a
// missing table (the usual "cannot open NAME." and the default table), and it never makes
// the reader wait. A regression would hang, so each read runs in a child that is killed
// after a deadline.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "color/tables.h"
#include "temp_dir.h"

namespace plotmint {
namespace {

using testing::TempDir;

// The lines `read` logs, one per line, or nullopt when it had not finished in time.
std::optional<std::string> log_of_child(const std::function<void(LogSink&)>& read) {
    int fds[2];
    if (::pipe(fds) != 0) return std::nullopt;
    const pid_t child = ::fork();
    if (child < 0) return std::nullopt;
    if (child == 0) {
        ::close(fds[0]);
        VectorLog log;
        read(log);
        std::string out;
        for (const auto& line : log.lines) out += line + "\n";
        (void)!::write(fds[1], out.data(), out.size());
        ::_exit(0);
    }
    ::close(fds[1]);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            ::close(fds[0]);
            return std::nullopt;
        }
        ::usleep(10000);
    }
    std::string out;
    char buf[512];
    for (ssize_t n; (n = ::read(fds[0], buf, sizeof buf)) > 0;) out.append(buf, static_cast<size_t>(n));
    ::close(fds[0]);
    return out;
}

enum class Node { fifo, directory, char_device, socket, link_to_fifo };

struct NodeCase {
    const char* name;
    Node node;
};
void PrintTo(const NodeCase& c, std::ostream* os) { *os << c.name; }

class TableNode : public ::testing::TestWithParam<NodeCase> {
protected:
    // Makes the node as `name` in the folder; false when this machine does not allow it.
    bool make(const std::string& path) {
        switch (GetParam().node) {
            case Node::fifo: return ::mkfifo(path.c_str(), 0644) == 0;
            case Node::directory: return std::filesystem::create_directory(path);
            case Node::char_device: return ::mknod(path.c_str(), S_IFCHR | 0666, makedev(1, 3)) == 0;
            case Node::socket: {
                const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
                sockaddr_un addr{};
                addr.sun_family = AF_UNIX;
                if (path.size() >= sizeof addr.sun_path) return false;
                std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
                const bool bound = ::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0;
                ::close(s);
                return bound;
            }
            case Node::link_to_fifo:
                if (::mkfifo((path + ".fifo").c_str(), 0644) != 0) return false;
                std::filesystem::create_symlink(path + ".fifo", path);
                return true;
        }
        return false;
    }
    TempDir dir_;
};

TEST_P(TableNode, ToneTableCountsAsMissing) {
    const std::string given = dir_.file("tone-x.ktc");
    if (!make(given)) GTEST_SKIP() << "cannot make a " << GetParam().name << " here";
    dir_.write("tone-default.ktc", "gray\nno\n0 10\n100 20\n\n");
    const std::string def = default_tone_path(dir_.str());
    const auto log = log_of_child([&](LogSink& sink) {
        ToneTable table;
        read_tone_table(given, dir_.str(), table, sink);
        sink.log_line(std::to_string(table.count) + " nodes, last " + std::to_string(table.color[1].r));
    });
    ASSERT_TRUE(log) << "reading " << given << " blocked";
    EXPECT_EQ(*log, "cannot open " + given + ".\nopen " + def + ".\n2 nodes, last 20\n");
}

TEST_P(TableNode, LineTableCountsAsMissing) {
    const std::string given = dir_.file("line-x.klc");
    if (!make(given)) GTEST_SKIP() << "cannot make a " << GetParam().name << " here";
    const std::string def = default_line_path(dir_.str());
    if (!make(def)) GTEST_SKIP() << "cannot make a " << GetParam().name << " here";
    // The default table is no table either: both are refused without waiting.
    const auto log = log_of_child([&](LogSink& sink) {
        LineColorTable table;
        read_line_color_table(given, dir_.str(), table, sink);
    });
    ASSERT_TRUE(log) << "reading " << given << " blocked";
    EXPECT_EQ(*log, "cannot open " + given + ".\ncannot open " + def + ".\n");
}

INSTANTIATE_TEST_SUITE_P(Nodes, TableNode,
                         ::testing::Values(NodeCase{"fifo", Node::fifo}, NodeCase{"directory", Node::directory},
                                           NodeCase{"char_device", Node::char_device},
                                           NodeCase{"socket", Node::socket},
                                           NodeCase{"link_to_fifo", Node::link_to_fifo}),
                         [](const auto& case_info) { return std::string(case_info.param.name); });

}  // namespace
}  // namespace plotmint
