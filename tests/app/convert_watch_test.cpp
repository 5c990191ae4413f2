// Runs the built plotmint-convert with --watch in the background, changes its graph files and
// counts the conversions it makes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "shell_helpers.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using plotmint_test::slurp;

namespace {

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + what.size())) ++n;
    return n;
}

class ConvertWatch : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("plotmint_watch_" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "_" +
                std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        fs::remove_all(dir_);
    }

    void write(const std::string& name, const std::string& text) { std::ofstream(dir_ / name, std::ios::binary) << text; }

    // Starts the converter in the folder, its standard error going to stderr.txt.
    void start(const std::vector<std::string>& args) {
        std::vector<std::string> words{std::string(PLOTMINT_BIN_DIR) + "/plotmint-convert", "--table-dir",
                                       (fs::path(PLOTMINT_SOURCE_DIR) / "data").string(), "--no-discovery", "--quiet",
                                       "--watch"};
        words.insert(words.end(), args.begin(), args.end());
        const std::string err = (dir_ / "stderr.txt").string();
        pid_ = ::fork();
        ASSERT_GE(pid_, 0);
        if (pid_ == 0) {
            std::vector<char*> argv;
            for (std::string& w : words) argv.push_back(w.data());
            argv.push_back(nullptr);
            const int fd = ::open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
            const int null = ::open("/dev/null", O_WRONLY);
            if (fd < 0 || null < 0 || ::chdir(dir_.c_str()) != 0) ::_exit(126);
            ::dup2(fd, 2);
            ::dup2(null, 1);
            ::execv(argv[0], argv.data());
            ::_exit(127);
        }
    }

    std::string log() const { return slurp(dir_ / "stderr.txt"); }

    // Waits until the log holds `n` of `what`, for at most `limit`.
    bool wait_for(const std::string& what, size_t n, std::chrono::milliseconds limit) const {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (std::chrono::steady_clock::now() < end) {
            if (count(log(), what) >= n) return true;
            std::this_thread::sleep_for(20ms);
        }
        return count(log(), what) >= n;
    }

    // Sends `signal` and returns the exit status, or -1 when the program did not exit by
    // itself within two seconds.
    int stop(int signal) {
        ::kill(pid_, signal);
        for (int i = 0; i < 100; ++i) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            std::this_thread::sleep_for(20ms);
        }
        return -1;
    }

    fs::path dir_;
    pid_t pid_ = -1;
};

const char* const kSquare = "3 1000 2000\n2 4000 6000\n";

struct StopCase {
    int signal;
    const char* name;
};

class WatchStops : public ConvertWatch, public ::testing::WithParamInterface<StopCase> {};

TEST_P(WatchStops, ABurstOfWritesGivesOneMorePictureAndASignalEndsIt) {
    write("g.g", kSquare);
    start({"g.g"});
    ASSERT_TRUE(wait_for("draw finished.", 1, 5s)) << log();
    // Nothing changed: no second picture.
    std::this_thread::sleep_for(600ms);
    EXPECT_EQ(count(log(), "draw finished."), 1u) << log();

    // Writes in quick succession, as a program writing its file in pieces does; together
    // longer than the converter takes between two looks at the file.
    write("g.g", "3 1000 2000\n2 4000 6500\n");
    std::this_thread::sleep_for(60ms);
    write("g.g", "3 1000 2000\n2 4000 6600\n");
    std::this_thread::sleep_for(60ms);
    write("g.g", "3 1000 2000\n2 4000 7000\n");
    ASSERT_TRUE(wait_for("draw finished.", 2, 3s)) << log();
    std::this_thread::sleep_for(800ms);
    const std::string after_burst = log();
    EXPECT_EQ(count(after_burst, "draw finished."), 2u) << after_burst;
    // The picture drawn is that of the last write.
    EXPECT_EQ(count(after_burst, "ymax : 7000"), 1u) << after_burst;
    EXPECT_EQ(count(after_burst, "ymax : 6500") + count(after_burst, "ymax : 6600"), 0u) << after_burst;
    EXPECT_EQ(stop(GetParam().signal), 0) << log();
}

INSTANTIATE_TEST_SUITE_P(Signals, WatchStops, ::testing::Values(StopCase{SIGTERM, "term"}, StopCase{SIGINT, "int"}),
                         [](const auto& stop_case) { return std::string(stop_case.param.name); });

TEST_F(ConvertWatch, FollowsAFileRenamedOverTheGraphFileAndEndsWithItsStatus) {
    write("g.g", kSquare);
    start({"g.g", "-o", "out.emf"});
    ASSERT_TRUE(wait_for("draw finished.", 1, 5s)) << log();
    // A new file under the old name, as editors save: same size, maybe the same time.
    write("new.g", "3 1000 2000\n2 4000 6001\n");
    fs::rename(dir_ / "new.g", dir_ / "g.g");
    ASSERT_TRUE(wait_for("draw finished.", 2, 3s)) << log();
    EXPECT_EQ(count(log(), "ymax : 6001"), 1u) << log();
    // A file that stops being a graph file fails; the status follows that last conversion.
    write("g.g", "not numbers\n");
    ASSERT_TRUE(wait_for("open g.g.", 3, 3s)) << log();
    std::this_thread::sleep_for(300ms);
    EXPECT_EQ(stop(SIGTERM), 1) << log();
}

TEST_F(ConvertWatch, OutputDirConvertsOnlyTheFileThatChanged) {
    write("a.g", kSquare);
    write("b.g", kSquare);
    start({"--output-dir", "out", "a.g", "b.g"});
    ASSERT_TRUE(wait_for("converted to", 2, 5s)) << log();
    write("b.g", "3 1000 2000\n2 4000 7000\n");
    ASSERT_TRUE(wait_for("converted to", 3, 3s)) << log();
    std::this_thread::sleep_for(500ms);
    const std::string text = log();
    EXPECT_EQ(count(text, "a.g: converted to out/a.emf"), 1u) << text;
    EXPECT_EQ(count(text, "b.g: converted to out/b.emf"), 2u) << text;
    EXPECT_EQ(stop(SIGTERM), 0) << text;
}

}  // namespace
