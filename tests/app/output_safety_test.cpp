// What the converter may replace and what it leaves behind: never a device, a FIFO or a
// folder; through a link only to a regular file; no temporary after a signal; leftovers
// of dead runs cleared, names planted by others no obstacle.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cctype>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "../test_folder.h"
#include "shell_helpers.h"

namespace fs = std::filesystem;

namespace {

using plotmint_test::converter_command;
using plotmint_test::slurp;

constexpr const char* kSmallGraph = "3 0 0\n2 100 200\n2 300 50\n";

bool is_emf(const std::string& bytes) { return bytes.size() >= 88 && bytes.substr(40, 4) == " EMF"; }

class OutputSafety : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = plotmint_test::test_folder("plotmint_output_");
        fs::remove_all(dir_);
        fs::create_directories(dir_ / "tables");
        fs::create_directories(dir_ / "work");
        dir_ = fs::canonical(dir_);
        work_ = dir_ / "work";
        fs::copy_file(fs::path(PLOTMINT_SOURCE_DIR) / "data/tone-default.ktc", dir_ / "tables/tone-default.ktc");
        fs::copy_file(fs::path(PLOTMINT_SOURCE_DIR) / "data/line-default.klc", dir_ / "tables/line-default.klc");
        std::ofstream(dir_ / "small.g", std::ios::binary) << kSmallGraph;
    }
    void TearDown() override { fs::remove_all(dir_); }

    // The converter's command in the work folder, as the shell's last command so it keeps
    // the shell's process (and PID); output goes to files beside the work folder.
    std::string command(const std::vector<std::string>& args) const {
        std::string cmd = converter_command(work_, dir_ / "tables", args);
        cmd.replace(cmd.find(" && "), 4, " && exec ");
        return cmd + " 2>" + plotmint_test::quote((dir_ / "stderr.txt").string()) + " >/dev/null";
    }

    // Runs the converter; a run that would block is ended after 60 seconds (status 124).
    int run(const std::vector<std::string>& args) const {
        const int rc = std::system(("timeout 60 sh -c " + plotmint_test::quote(command(args))).c_str());
        return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
    }

    // Starts the converter in a child that waits for go() before it runs.
    pid_t start(const std::vector<std::string>& args) {
        if (::pipe(go_) != 0) return -1;
        const std::string cmd = command(args);
        const pid_t child = ::fork();
        if (child == 0) {
            ::close(go_[1]);
            char c;
            if (::read(go_[0], &c, 1) != 1) ::_exit(126);
            // As a user's shell would start it, whatever this test runner ignores.
            for (const int sig : {SIGINT, SIGTERM, SIGHUP}) std::signal(sig, SIG_DFL);
            ::execl("/bin/sh", "sh", "-c", cmd.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(go_[0]);
        return child;
    }
    void go() {
        (void)!::write(go_[1], "g", 1);
        ::close(go_[1]);
    }

    std::vector<std::string> errors() const {
        std::vector<std::string> out;
        std::istringstream in(slurp(dir_ / "stderr.txt"));
        for (std::string line; std::getline(in, line);) out.push_back(line);
        return out;
    }
    bool error_line(const std::string& line) const {
        for (const auto& l : errors())
            if (l == line) return true;
        return false;
    }
    std::set<std::string> work_names() const {
        std::set<std::string> out;
        for (const auto& e : fs::directory_iterator(work_)) out.insert(e.path().filename().string());
        return out;
    }
    std::string work(const std::string& name) const { return (work_ / name).string(); }

    fs::path dir_, work_;
    int go_[2] = {-1, -1};
};

// ---------------------------------------------------------------------------------------
// Targets that are not regular files

enum class Node { fifo, directory, null_device, socket, link_to_fifo };

struct NodeCase {
    const char* name;
    Node node;
    const char* format;  // the target's extension
    const char* reason;
};
void PrintTo(const NodeCase& c, std::ostream* os) { *os << c.name; }

class NonRegularOutput : public OutputSafety, public ::testing::WithParamInterface<NodeCase> {};

TEST_P(NonRegularOutput, IsRefusedAndLeftAsItWas) {
    const NodeCase& c = GetParam();
    const std::string name = std::string("out.") + c.format;
    const std::string target = work(name);
    switch (c.node) {
        case Node::fifo: ASSERT_EQ(::mkfifo(target.c_str(), 0644), 0); break;
        case Node::directory: fs::create_directory(target); break;
        case Node::null_device:
            // What `-o /dev/null` meets, made inside the test folder.
            if (::mknod(target.c_str(), S_IFCHR | 0666, makedev(1, 3)) != 0)
                GTEST_SKIP() << "cannot make a device node here (needs root)";
            break;
        case Node::socket: {
            const int s = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            ASSERT_LT(target.size(), sizeof addr.sun_path);
            std::memcpy(addr.sun_path, target.c_str(), target.size() + 1);
            ASSERT_EQ(::bind(s, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
            ::close(s);
            break;
        }
        case Node::link_to_fifo:
            ASSERT_EQ(::mkfifo((dir_ / "fifo").c_str(), 0644), 0);
            fs::create_symlink(dir_ / "fifo", target);
            break;
    }
    struct stat before {};
    ASSERT_EQ(::lstat(target.c_str(), &before), 0);

    EXPECT_EQ(run({"-o", name, (dir_ / "small.g").string()}), 1);

    const bool emf = std::string(c.format) == "emf";
    std::string format_word = c.format;
    for (char& ch : format_word) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    // The draw run's line for graph.emf; the converter's own for an export.
    const std::string line = emf ? "cannot write " + name + ": " + c.reason
                                 : "plotmint-convert: " + name + ": cannot write the " + format_word +
                                       " picture: " + c.reason + ".";
    EXPECT_TRUE(error_line(line)) << "no line \"" << line << "\" in:\n" << slurp(dir_ / "stderr.txt");
    struct stat after {};
    ASSERT_EQ(::lstat(target.c_str(), &after), 0);
    EXPECT_EQ(after.st_mode, before.st_mode);
    EXPECT_EQ(after.st_ino, before.st_ino);
    EXPECT_EQ(after.st_rdev, before.st_rdev);
    // A named export is played from a private metafile: nothing else comes into the folder.
    EXPECT_EQ(work_names(), std::set<std::string>{name});
}

INSTANTIATE_TEST_SUITE_P(
    Nodes, NonRegularOutput,
    ::testing::Values(NodeCase{"emf_fifo", Node::fifo, "emf", "not a regular file"},
                      NodeCase{"emf_directory", Node::directory, "emf", "not a regular file"},
                      NodeCase{"emf_null_device", Node::null_device, "emf", "not a regular file"},
                      NodeCase{"emf_socket", Node::socket, "emf", "not a regular file"},
                      NodeCase{"emf_link_to_fifo", Node::link_to_fifo, "emf",
                               "a symbolic link to something that is not a regular file"},
                      NodeCase{"svg_fifo", Node::fifo, "svg", "not a regular file"},
                      NodeCase{"svg_null_device", Node::null_device, "svg", "not a regular file"},
                      NodeCase{"pdf_fifo", Node::fifo, "pdf", "not a regular file"},
                      NodeCase{"png_null_device", Node::null_device, "png", "not a regular file"},
                      NodeCase{"png_link_to_fifo", Node::link_to_fifo, "png",
                               "a symbolic link to something that is not a regular file"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

// A link is followed to a regular file: the file is replaced, the link stays a link.
TEST_F(OutputSafety, LinkToARegularFileReplacesTheFileAndKeepsTheLink) {
    fs::create_directories(dir_ / "real");
    for (const std::string format : {"emf", "svg"}) {
        const fs::path real = dir_ / "real" / ("picture." + format);
        std::ofstream(real) << "old";
        const std::string link = "link." + format;
        fs::create_symlink(real, work_ / link);
        EXPECT_EQ(run({"-o", link, (dir_ / "small.g").string()}), 0) << slurp(dir_ / "stderr.txt");
        EXPECT_TRUE(fs::is_symlink(work_ / link)) << format;
        EXPECT_EQ(fs::read_symlink(work_ / link), real) << format;
        const std::string bytes = slurp(real);
        if (format == "emf")
            EXPECT_TRUE(is_emf(bytes));
        else
            EXPECT_NE(bytes.find("<svg"), std::string::npos);
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_ / "real"), {}), 2);
}

TEST_F(OutputSafety, ReplacedPictureKeepsItsPermissionBits) {
    for (const std::string name : {"graph.emf", "out.png"}) {
        std::ofstream(work_ / name) << "old";
        ASSERT_EQ(::chmod(work(name).c_str(), 0600), 0);
    }
    EXPECT_EQ(run({(dir_ / "small.g").string()}), 0) << slurp(dir_ / "stderr.txt");
    EXPECT_EQ(run({"-o", "out.png", (dir_ / "small.g").string()}), 0) << slurp(dir_ / "stderr.txt");
    for (const std::string name : {"graph.emf", "out.png"}) {
        struct stat st {};
        ASSERT_EQ(::stat(work(name).c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0600u) << name;
        EXPECT_GT(st.st_size, 8) << name;
    }
    EXPECT_TRUE(is_emf(slurp(work_ / "graph.emf")));
}

// ---------------------------------------------------------------------------------------
// Temporaries

// Names another user could plant for the run's PID, in the shape a counter would take and in
// the run's own shape: the run goes on, and none of them is touched.
TEST_F(OutputSafety, PlantedTemporaryNamesDoNotStopARun) {
    const pid_t child = start({(dir_ / "small.g").string()});
    ASSERT_GT(child, 0);
    std::set<std::string> planted;
    for (int n = 0; n < 100; ++n) planted.insert("graph.emf.tmp" + std::to_string(child) + "-" + std::to_string(n));
    for (const char* random : {"0000000000000000", "0123456789abcdef", "ffffffffffffffff"})
        planted.insert("graph.emf.plotmint-tmp-" + std::to_string(child) + "-" + random);
    for (const auto& n : planted) std::ofstream(work_ / n) << "planted " << n;
    go();
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << slurp(dir_ / "stderr.txt");
    EXPECT_TRUE(is_emf(slurp(work_ / "graph.emf")));
    std::set<std::string> expected = planted;
    expected.insert("graph.emf");
    EXPECT_EQ(work_names(), expected);
    for (const auto& n : planted) EXPECT_EQ(slurp(work_ / n), "planted " + n);
}

long dead_pid() {
    const pid_t child = ::fork();
    if (child == 0) ::_exit(0);
    int status = 0;
    ::waitpid(child, &status, 0);
    return child;
}

// A run killed outright (SIGKILL, a crash, a power cut) cannot clean up; the next one into
// the folder does, but only for processes that are gone.
TEST_F(OutputSafety, NextRunRemovesLeftoversOfEndedRunsOnly) {
    const std::string stale = "graph.emf.plotmint-tmp-" + std::to_string(dead_pid()) + "-00112233445566ff";
    const std::string stale_other = "graph.svg.plotmint-tmp-" + std::to_string(dead_pid()) + "-a0a1a2a3a4a5a6a7";
    const std::string live = "graph.emf.plotmint-tmp-" + std::to_string(::getpid()) + "-00112233445566ff";
    std::ofstream(work_ / stale) << "partial";
    std::ofstream(work_ / stale_other) << "partial";
    std::ofstream(work_ / live) << "being written";
    std::ofstream(work_ / "graph.emf.tmp1-0") << "not ours";
    EXPECT_EQ(run({(dir_ / "small.g").string()}), 0) << slurp(dir_ / "stderr.txt");
    EXPECT_EQ(work_names(), (std::set<std::string>{"graph.emf", live, "graph.emf.tmp1-0"}));
    EXPECT_EQ(slurp(work_ / live), "being written");
}

struct SignalCase {
    const char* name;
    int sig;
    const char* output;  // the -o argument; graph.emf when empty
};
void PrintTo(const SignalCase& c, std::ostream* os) { *os << c.name; }

class InterruptedRun : public OutputSafety, public ::testing::WithParamInterface<SignalCase> {};

// A graph file big enough that its picture takes a while to write; the signal comes as soon
// as the temporary appears. The old picture stays and no temporary is left.
TEST_P(InterruptedRun, LeavesTheOldPictureAndNoTemporary) {
    {
        std::ofstream big(dir_ / "big.g", std::ios::binary);
        std::string chunk;
        big << "3 0 0";
        for (int i = 0; i < 6000000; ++i) {
            chunk += " 2 " + std::to_string(i % 5000) + " " + std::to_string(i % 7000);
            if (chunk.size() > (1 << 16)) {
                big << chunk;
                chunk.clear();
            }
        }
        big << chunk << "\n";
    }
    const std::string output = *GetParam().output ? GetParam().output : "graph.emf";
    const std::string old_picture = "the picture of an earlier run";
    std::ofstream(work_ / output) << old_picture;

    std::vector<std::string> args = {"--no-discovery", (dir_ / "big.g").string()};
    if (*GetParam().output) args.insert(args.end(), {"-o", output});
    const pid_t child = start(args);
    ASSERT_GT(child, 0);
    go();
    bool seen = false;
    int status = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!seen && std::chrono::steady_clock::now() < deadline) {
        // An export's temporary comes after graph.emf has been written in full.
        for (const auto& n : work_names())
            if (n != output && n.rfind(output, 0) == 0) seen = true;
        if (seen) break;
        if (::waitpid(child, &status, WNOHANG) == child) break;
        ::usleep(500);
    }
    if (seen) {
        ASSERT_EQ(::kill(child, GetParam().sig), 0);
        ASSERT_EQ(::waitpid(child, &status, 0), child);
    }
    ASSERT_TRUE(seen) << "the run ended before its temporary was seen; make the graph file bigger";
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), GetParam().sig);
    // A named export's metafile was private; only the picture asked for was ever here.
    const std::set<std::string> expected = std::set<std::string>{output};
    EXPECT_EQ(work_names(), expected);
    EXPECT_EQ(slurp(work_ / output), old_picture);
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptedRun,
                         ::testing::Values(SignalCase{"SIGINT", SIGINT, ""}, SignalCase{"SIGTERM", SIGTERM, ""},
                                           SignalCase{"SIGHUP", SIGHUP, ""},
                                           SignalCase{"SIGTERM_during_pdf_export", SIGTERM, "out.pdf"}),
                         [](const auto& case_info) { return std::string(case_info.param.name); });

}  // namespace
