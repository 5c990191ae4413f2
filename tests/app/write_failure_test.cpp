// A picture or a table that cannot be written completely must leave the file that was
// there untouched, say why, and (for the converter) end with exit status 1. The disk is
// filled for real on a small tmpfs when the tests may mount one (as root), and always
// through a file-size limit, which makes writes fail the same way without privileges.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "color/grids.h"

#include "shell_helpers.h"

namespace fs = std::filesystem;

namespace plotmint {
namespace {

using plotmint_test::quote;
using plotmint_test::slurp;

// Enough lines that the picture is far larger than the space left (about 16 bytes each).
std::string big_graph() {
    std::string g = "3 0 0";
    for (int i = 0; i < 40000; ++i) g += " 2 " + std::to_string(i % 5000) + " " + std::to_string(i % 7000);
    return g + "\n";
}

enum class Limit { full_tmpfs, read_only_tmpfs, file_size, read_only_permissions };

struct WriteCase {
    const char* name;
    Limit limit;
    const char* reason;  // strerror text the message must carry
};

void PrintTo(const WriteCase& c, std::ostream* os) { *os << c.name; }

class WriteFailure : public ::testing::TestWithParam<WriteCase> {
protected:
    void SetUp() override {
        root_ = fs::temp_directory_path() / ("plotmint_write_" + std::to_string(::getpid()) + "_" + GetParam().name);
        fs::remove_all(root_);
        out_ = root_ / "out";
        fs::create_directories(out_);
        fs::copy_file(fs::path(PLOTMINT_SOURCE_DIR) / "data/tone-default.ktc", root_ / "tone-default.ktc");
        fs::copy_file(fs::path(PLOTMINT_SOURCE_DIR) / "data/line-default.klc", root_ / "line-default.klc");
        std::ofstream(root_ / "big.g", std::ios::binary) << big_graph();

        const Limit limit = GetParam().limit;
        if (limit == Limit::full_tmpfs || limit == Limit::read_only_tmpfs) {
            if (::geteuid() != 0 || ::mount("tmpfs", out_.c_str(), "tmpfs", 0, "size=64k,mode=0755") != 0)
                GTEST_SKIP() << "cannot mount a tmpfs here (needs root)";
            mounted_ = true;
        }
        if (limit == Limit::read_only_permissions && ::geteuid() == 0)
            GTEST_SKIP() << "permissions do not bind root (the read-only tmpfs case covers it)";

        // What a previous run left: it must survive the failed one byte for byte.
        old_picture_ = std::string(" EMF from an earlier run ") + std::string(500, 'x');
        old_table_ = "color\nno.   r   g   b\n  0   1   2   3\n100   4   5   6\n\n";
        std::ofstream(out_ / "graph.emf", std::ios::binary) << old_picture_;
        std::ofstream(out_ / "tone-kept.ktc", std::ios::binary) << old_table_;
        if (limit == Limit::full_tmpfs) {
            // Leave a few KiB: enough to start the temporary files, not to finish them.
            std::ofstream fill(out_ / "filler", std::ios::binary);
            fill << std::string(52 * 1024, 'f');
        } else if (limit == Limit::read_only_tmpfs) {
            ASSERT_EQ(::mount(nullptr, out_.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
        } else if (limit == Limit::read_only_permissions) {
            fs::permissions(out_, fs::perms::owner_read | fs::perms::owner_exec);
        }
    }

    void TearDown() override {
        if (mounted_) ::umount2(out_.c_str(), MNT_DETACH);
        std::error_code ec;
        fs::permissions(out_, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(root_, ec);
    }

    // The shell prefix that applies the limit to the converter alone.
    std::string limit_prefix() const {
        // Ignoring SIGXFSZ turns the limit into a failing write (EFBIG), as a full disk does.
        return GetParam().limit == Limit::file_size ? "trap '' XFSZ; ulimit -f 8; " : "";
    }

    // Leftover temporary files would fill the user's folder run after run.
    std::vector<std::string> stray_files() const {
        std::vector<std::string> out;
        for (const auto& e : fs::directory_iterator(out_)) {
            const std::string n = e.path().filename().string();
            if (n != "graph.emf" && n != "tone-kept.ktc" && n != "filler") out.push_back(n);
        }
        return out;
    }

    fs::path root_, out_;
    bool mounted_ = false;
    std::string old_picture_, old_table_;
};

TEST_P(WriteFailure, ConverterExitsOneSaysWhyAndKeepsTheOldPicture) {
    const std::string cmd = "cd " + quote(out_.string()) + " && " + limit_prefix() +
                            quote(std::string(PLOTMINT_BIN_DIR) + "/plotmint-convert") + " --table-dir " +
                            quote(root_.string()) + " --no-discovery " + quote((root_ / "big.g").string()) + " 2>" +
                            quote((root_ / "stderr.txt").string());
    const int rc = std::system(cmd.c_str());
    ASSERT_TRUE(WIFEXITED(rc));
    EXPECT_EQ(WEXITSTATUS(rc), 1);

    std::vector<std::string> err;
    std::istringstream in(slurp(root_ / "stderr.txt"));
    for (std::string line; std::getline(in, line);) err.push_back(line);
    ASSERT_FALSE(err.empty());
    EXPECT_EQ(err.back(), "making metafile end");
    ASSERT_GE(err.size(), 2u);
    const std::string& why = err[err.size() - 2];
    EXPECT_EQ(why.rfind("cannot write graph.emf: ", 0), 0u) << why;
    EXPECT_NE(why.find(GetParam().reason), std::string::npos) << why;

    EXPECT_EQ(slurp(out_ / "graph.emf"), old_picture_);
    EXPECT_EQ(stray_files(), std::vector<std::string>{});
}

TEST_P(WriteFailure, SavedTableFailsAndKeepsTheOldTable) {
    const ToneTable table = [] {
        ToneTable t;
        t.count = 121;
        for (int i = 0; i < 121; ++i) {
            t.tone[i] = i;
            t.color[i] = Rgb{1000000000 + i, 1100000000 + i, 1200000000 + i};  // 37-byte rows
        }
        return t;
    }();
    const std::string path = (out_ / "tone-kept.ktc").string();
    // A child applies the file-size limit so the test process itself is not bound by it.
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        if (GetParam().limit == Limit::file_size) {
            std::signal(SIGXFSZ, SIG_IGN);
            const rlimit limit{1024, 1024};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        VectorLog log;
        const bool saved = save_tone_table(path, tone_grid_cells(table), table.count, log);
        const bool reported = log.lines == std::vector<std::string>{"cannot open tone file"};
        ::_exit(!saved && reported ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "the save must fail and log \"cannot open tone file\"";
    EXPECT_EQ(slurp(path), old_table_);
    EXPECT_EQ(stray_files(), std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Limits, WriteFailure,
    ::testing::Values(WriteCase{"full_disk", Limit::full_tmpfs, "No space left on device"},
                      WriteCase{"read_only_folder", Limit::read_only_tmpfs, "Read-only file system"},
                      WriteCase{"file_size_limit", Limit::file_size, "File too large"},
                      WriteCase{"folder_without_write_permission", Limit::read_only_permissions, "Permission denied"}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

}  // namespace
}  // namespace plotmint
