// Graph files that are mostly not a drawing: gigabytes of blanks, one endless line, one
// endless number, binary junk. Each must end in bounded time and memory, because the reader
// streams the file through a fixed buffer in every pass and stops at the first item that
// is not a 32-bit integer.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <string>
#include <thread>

#include "app/core/conversion.h"
#include "shell_helpers.h"

namespace plotmint {
namespace {

namespace fs = std::filesystem;

// The default settings with a two-node tone table, black to white.
Settings two_tone_settings() {
    Settings s;
    s.tone.count = 2;
    s.tone.tone[0] = 0;
    s.tone.tone[1] = 100;
    s.tone.color[1] = Rgb{255, 255, 255};
    return s;
}

// One draw run of `graph` into `output`, its diagnostics discarded.
DrawRunResult draw(const fs::path& graph, const fs::path& output, const Settings& settings, LogSink& log) {
    Conversion conversion(graph.string());
    NullLog diagnostics;
    conversion.set_diagnostics(diagnostics);
    return conversion.run(settings, PictureTarget::file(output.string()), log);
}

// Resident set figures of this process in KiB, from /proc; -1 when unknown.
long status_kib(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string key = std::string(field) + ":";
    while (std::getline(in, line))
        if (line.rfind(key, 0) == 0) return std::atol(line.c_str() + key.size());
    return -1;
}

// Resets the peak resident set to the current one, so a later VmHWM is this run's peak.
bool reset_peak() {
    std::ofstream clear("/proc/self/clear_refs");
    clear << "5";
    clear.flush();
    return static_cast<bool>(clear);
}

// A run that never ends must fail the test, not hang the suite.
void within(double seconds, const std::function<void()>& work) {
    auto done = std::async(std::launch::async, work);
    if (done.wait_for(std::chrono::duration<double>(seconds)) == std::future_status::timeout) {
        std::fprintf(stderr, "the draw run did not end within %.0f seconds\n", seconds);
        std::abort();
    }
    done.get();
}

struct HostileCase {
    const char* name;
    std::function<void(std::ofstream&)> write;
    Extent extent;
    bool bad_item_logged;
};

void PrintTo(const HostileCase& c, std::ostream* os) { *os << c.name; }

void repeat(std::ofstream& out, const std::string& piece, size_t total) {
    std::string chunk;
    while (chunk.size() < (1u << 16)) chunk += piece;
    for (size_t written = 0; written < total; written += chunk.size()) out << chunk;
}

class HostileGraph : public ::testing::TestWithParam<HostileCase> {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("plotmint_hostile_" + std::to_string(::getpid()) + "_" + GetParam().name);
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }
    fs::path dir_;
};

TEST_P(HostileGraph, EndsInBoundedTimeAndMemory) {
    const HostileCase& c = GetParam();
    const fs::path graph = dir_ / "graph.g";
    {
        std::ofstream out(graph, std::ios::binary);
        c.write(out);
    }
    ASSERT_GT(fs::file_size(graph), 8u << 20) << "the file must span several read buffers";

    const Settings settings = two_tone_settings();
    VectorLog log;

    const bool peak_known = reset_peak();
    const long before = status_kib("VmRSS");
    DrawRunResult r;
    within(120, [&] { r = draw(graph, dir_ / "graph.emf", settings, log); });
    const long peak = status_kib("VmHWM");

    EXPECT_TRUE(r.finished);
    EXPECT_EQ(r.extent.xmin, c.extent.xmin);
    EXPECT_EQ(r.extent.xmax, c.extent.xmax);
    EXPECT_EQ(r.extent.ymin, c.extent.ymin);
    EXPECT_EQ(r.extent.ymax, c.extent.ymax);
    const bool bad_logged = std::any_of(log.lines.begin(), log.lines.end(), [](const std::string& l) {
        return l.find("is not an integer.  reading stops there.") != std::string::npos;
    });
    EXPECT_EQ(bad_logged, c.bad_item_logged);
    // Set-up calls and at most one line: nothing grows with the file.
    EXPECT_LT(fs::file_size(dir_ / "graph.emf"), 4096u);
    if (peak_known && before > 0 && peak > 0) {
        // The file is read through a 1 MiB buffer; the picture is tiny.
        EXPECT_LT(peak - before, 16 * 1024) << "peak " << peak << " KiB, before " << before << " KiB";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Files, HostileGraph,
    ::testing::Values(
        HostileCase{"blanks",
                    [](std::ofstream& out) {
                        repeat(out, " \n\t\r\v\f      ", 32u << 20);
                        out << "3 0 0 2 10 10";
                    },
                    {0, 10, 0, 10}, false},
        HostileCase{"endless_line",
                    [](std::ofstream& out) {
                        repeat(out, "99 -1 +2 ", 16u << 20);
                        out << "3 0 0 2 10 10";
                    },
                    {0, 10, 0, 10}, false},
        HostileCase{"endless_number",
                    [](std::ofstream& out) {
                        out << "3 0 0 2 10 10 ";
                        repeat(out, "1234567890", 32u << 20);
                    },
                    {0, 10, 0, 10}, true},
        HostileCase{"binary_junk",
                    [](std::ofstream& out) {
                        out << "3 0 0 2 10 10 ";
                        std::string junk(1u << 16, '\0');
                        uint32_t x = 2463534242u;
                        for (int block = 0; block < 256; ++block) {
                            for (char& ch : junk) {
                                x ^= x << 13;
                                x ^= x >> 17;
                                x ^= x << 5;
                                ch = static_cast<char>(x);
                            }
                            out << junk;
                        }
                    },
                    {0, 10, 0, 10}, true},
        HostileCase{"nul_bytes_after_blanks",
                    [](std::ofstream& out) {
                        out << "3 0 0 2 10 10";
                        repeat(out, "    ", 9u << 20);
                        repeat(out, std::string(64, '\0'), 1u << 20);
                    },
                    {0, 10, 0, 10}, true}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

// The passes after the first read the records back from a temporary record file. When that
// file cannot grow (a full temporary folder; here a file-size limit, which fails writes the
// same way without privileges), the run must fall back to the text and draw the very same
// picture.
TEST(RecordFileFailure, DrawsTheSamePictureFromTheText) {
    const fs::path dir = fs::temp_directory_path() / ("plotmint_record_file_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    {
        std::ofstream out(dir / "graph.g", std::ios::binary);
        out << "6 3 0 3 0 0 2 10 10 25 1 0 0 40 0 0 5 5 0 0 65 29 30 0 ";
        repeat(out, "99 -1 +2 ", 4u << 20);  // far more records than the limit lets the record file hold
        out << "7 1 4 0 30 0 0 0 0 0 20 0 0 20 20 0 0 0 9 0 0 3 10 10 2 -5 40";
    }
    const auto run = [&](const fs::path& output) {
        NullLog log;
        return draw(dir / "graph.g", output, two_tone_settings(), log).finished;
    };
    ASSERT_TRUE(run(dir / "free.emf"));

    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{256 * 1024, 256 * 1024};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        ::_exit(run(dir / "limited.emf") ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the run with a record file that cannot grow did not finish";
    const std::string free_bytes = plotmint_test::slurp(dir / "free.emf");
    const std::string limited_bytes = plotmint_test::slurp(dir / "limited.emf");
    EXPECT_GT(free_bytes.size(), 200u);
    EXPECT_EQ(limited_bytes, free_bytes);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace plotmint
