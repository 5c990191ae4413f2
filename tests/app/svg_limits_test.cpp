// The converter on a large graph file under memory limits: SVG is written as the metafile
// streams, in memory that does not grow with the picture, and running out of memory in any
// format ends with exit 1 and a plain line, never an abort.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "metafile/emf_reader.h"
#include "metafile/picture_size.h"
#include "shell_helpers.h"

#ifdef PLOTMINT_HAVE_EXPORT
#include <QByteArray>
#include <QXmlStreamReader>
#endif

#if defined(__SANITIZE_ADDRESS__)
#define PLOTMINT_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PLOTMINT_ASAN 1
#endif
#endif

namespace plotmint {
namespace {

namespace fs = std::filesystem;
using plotmint_test::slurp;

struct Child {
    int status = -1;
    long peak_kib = -1;  // the program's peak resident set
    double seconds = 0;
    std::string err;
};

// The peak resident set of process `pid` from /proc, in KiB; -1 when unknown.
long vm_hwm_kib(pid_t pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmHWM:", 0) == 0) return std::atol(line.c_str() + 6);
    return -1;
}

// plotmint-convert ARGS in `dir`, with its address space limited to `limit_bytes` when not 0.
// Its peak memory is read from /proc as it stops on its way out (traced for that alone): the
// kernel's ru_maxrss of a forked child also counts the pages of this test process that the
// fork copied, which under a sanitizer are many.
Child run_converter(const fs::path& dir, const std::vector<std::string>& args, rlim_t limit_bytes = 0) {
    const fs::path err_path = dir / "stderr.txt";
    const std::string program = std::string(PLOTMINT_BIN_DIR) + "/plotmint-convert";
    std::vector<std::string> words{program};
    words.insert(words.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
#ifdef PLOTMINT_ASAN
    // AddressSanitizer holds freed memory back (256 MB by default) so a late use of it is
    // caught; that is the sanitizer's memory, not the program's, and would hide what grows.
    // Its leak check cannot run in a traced process.
    const char* given = std::getenv("ASAN_OPTIONS");
    const std::string asan_options = std::string(given ? given : "") + ":quarantine_size_mb=0:detect_leaks=0";
#endif
    const auto start = std::chrono::steady_clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
#ifdef PLOTMINT_ASAN
        ::setenv("ASAN_OPTIONS", asan_options.c_str(), 1);
#endif
        if (::chdir(dir.c_str()) != 0) ::_exit(126);
        const int out = ::open("/dev/null", O_WRONLY);
        const int err = ::open(err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (out < 0 || err < 0 || ::dup2(out, 1) < 0 || ::dup2(err, 2) < 0) ::_exit(126);
        if (limit_bytes != 0) {
            const rlimit limit{limit_bytes, limit_bytes};
            if (::setrlimit(RLIMIT_AS, &limit) != 0) ::_exit(126);
        }
        ::ptrace(PTRACE_TRACEME, 0, nullptr, nullptr);  // without it the peak is unknown
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    Child c;
    if (pid < 0) return c;
    for (;;) {
        int status = 0;
        if (::waitpid(pid, &status, 0) != pid) break;
        if (!WIFSTOPPED(status)) {
            c.status = status;
            break;
        }
        int pass_on = 0;
        if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
            c.peak_kib = vm_hwm_kib(pid);
        } else if (WSTOPSIG(status) == SIGTRAP && c.status == -1) {
            // Stopped at the exec: from here on, only its exit is of interest.
            ::ptrace(PTRACE_SETOPTIONS, pid, nullptr, PTRACE_O_TRACEEXIT | PTRACE_O_EXITKILL);
            c.status = -2;
        } else {
            pass_on = WSTOPSIG(status);
        }
        ::ptrace(PTRACE_CONT, pid, nullptr, pass_on);
    }
    c.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    c.err = slurp(err_path);
    return c;
}

// A graph file of about 20 MB: the examples' lines, fills and text blocks, over and over.
class LargeGraph : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        dir_ = fs::temp_directory_path() / ("plotmint_svg_limits_" + std::to_string(::getpid()));
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        std::string block;
        for (const char* name : {"graph.g", "text.g", "lines.g", "greek.g"})
            block += slurp(fs::path(PLOTMINT_SOURCE_DIR) / "examples" / name);
        std::ofstream out(dir_ / "big.g", std::ios::binary);
        for (size_t written = 0; written < (20u << 20); written += block.size()) out << block;
        std::ofstream small(dir_ / "small.g", std::ios::binary);
        for (size_t written = 0; written < (2u << 20); written += block.size()) small << block;
    }
    static void TearDownTestSuite() { fs::remove_all(dir_); }
    static fs::path dir_;
};
fs::path LargeGraph::dir_;

TEST_F(LargeGraph, SvgIsWrittenInMemoryThatDoesNotGrowWithThePicture) {
    ASSERT_GE(fs::file_size(dir_ / "big.g"), 20u << 20);
    const Child c = run_converter(dir_, {"-q", "--no-discovery", "-o", "big.svg", "big.g"});
    ASSERT_TRUE(WIFEXITED(c.status)) << c.err;
    ASSERT_EQ(WEXITSTATUS(c.status), 0) << c.err;
    // The metafile alone is larger than this; the old SVG path took gigabytes. A named SVG is
    // played from a private metafile, so the same one is asked for by name to compare with.
    const Child emf_run = run_converter(dir_, {"-q", "--no-discovery", "-o", "big.emf", "big.g"});
    ASSERT_TRUE(WIFEXITED(emf_run.status) && WEXITSTATUS(emf_run.status) == 0) << emf_run.err;
    EXPECT_GT(fs::file_size(dir_ / "big.emf"), 16u << 20);
    EXPECT_GT(c.peak_kib, 0);
    EXPECT_LT(c.peak_kib, 64 * 1024) << "peak resident set " << c.peak_kib << " KiB";
    EXPECT_LT(c.seconds, 20.0);
    std::printf("20 MB graph to SVG: %.2f s, peak %ld KiB, %llu bytes\n", c.seconds, c.peak_kib,
                static_cast<unsigned long long>(fs::file_size(dir_ / "big.svg")));
    // Flat: a tenth of the graph takes nearly the same memory (holding the 20 MB graph's
    // metafile alone would add more than twice the margin).
    const Child small = run_converter(dir_, {"-q", "--no-discovery", "-o", "small.svg", "small.g"});
    ASSERT_TRUE(WIFEXITED(small.status) && WEXITSTATUS(small.status) == 0) << small.err;
    EXPECT_GT(small.peak_kib, 0);
    EXPECT_LT(c.peak_kib - small.peak_kib, 8 * 1024) << c.peak_kib << " KiB against " << small.peak_kib << " KiB";

    // The SVG is the size the metafile states.
    std::string error;
    const auto emf = validate_emf_file((dir_ / "big.emf").string(), error);
    ASSERT_TRUE(emf) << error;
    const std::string svg = slurp(dir_ / "big.svg");
    char width[64], height[64];
    std::snprintf(width, sizeof width, "width=\"%.2fmm\"", picture_width_mm(*emf));
    std::snprintf(height, sizeof height, "height=\"%.2fmm\"", picture_height_mm(*emf));
    const std::string head = svg.substr(0, svg.find('>', svg.find("<svg")));
    auto trimmed = [](std::string s) {  // the writer drops trailing zeros
        for (size_t mm = s.find("mm\""); s[mm - 1] == '0' || s[mm - 1] == '.'; --mm) s.erase(mm - 1, 1);
        return s;
    };
    EXPECT_NE(head.find(trimmed(width)), std::string::npos) << head;
    EXPECT_NE(head.find(trimmed(height)), std::string::npos) << head;
#ifdef PLOTMINT_HAVE_EXPORT
    // Whole and well-formed, its text in runs.
    QXmlStreamReader xml(QByteArray::fromRawData(svg.data(), static_cast<qsizetype>(svg.size())));
    size_t texts = 0, greek = 0;
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == u"text") {
            ++texts;
            if (xml.readElementText().contains(QString::fromUtf8("αβγ"))) ++greek;
        }
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_GT(texts, 1000u);
    EXPECT_GT(greek, 100u);
#endif
}

enum class Outcome { converts, may_run_out, runs_out };

struct LimitCase {
    const char* format;
    rlim_t limit_mib;
    Outcome outcome;
    // How the last line starts when it ran out ("OUT" stands for the output's name).
    const char* says;
};

void PrintTo(const LimitCase& c, std::ostream* os) { *os << c.format << "_" << c.limit_mib << "MiB"; }

class MemoryLimit : public LargeGraph, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(MemoryLimit, EndsInExitOneWithAPlainLineNeverAnAbort) {
#ifdef PLOTMINT_ASAN
    GTEST_SKIP() << "AddressSanitizer reserves terabytes of address space; RLIMIT_AS cannot limit it";
#else
    const LimitCase& c = GetParam();
    const std::string out = std::string("limited.") + c.format;
    fs::remove(dir_ / out);
    const Child r = run_converter(dir_, {"-q", "--no-discovery", "-o", out, "big.g"}, c.limit_mib << 20);
    ASSERT_TRUE(WIFEXITED(r.status)) << "ended by signal " << WTERMSIG(r.status) << ": " << r.err;
    ASSERT_NE(WEXITSTATUS(r.status), 126) << "the child could not be set up";
    EXPECT_EQ(r.err.find("terminate called"), std::string::npos) << r.err;
    if (c.outcome == Outcome::converts || (c.outcome == Outcome::may_run_out && WEXITSTATUS(r.status) == 0)) {
        EXPECT_EQ(WEXITSTATUS(r.status), 0) << r.err;
        EXPECT_TRUE(fs::exists(dir_ / out));
        return;
    }
    EXPECT_EQ(WEXITSTATUS(r.status), 1) << r.err;
    std::string says = c.says;
    says.replace(says.find("OUT"), 3, out);
    // The last line says it, whole.
    ASSERT_FALSE(r.err.empty());
    ASSERT_EQ(r.err.back(), '\n') << r.err;
    const size_t start = r.err.rfind('\n', r.err.size() - 2);
    const std::string last = r.err.substr(start == std::string::npos ? 0 : start + 1);
    EXPECT_EQ(last.substr(0, says.size()), says) << r.err;
    EXPECT_FALSE(fs::exists(dir_ / out)) << "nothing half-written is left";
#endif
}

// The metafile and the SVG stream; PDF holds the picture, so 128 MiB of address space (about
// half of it taken by the libraries) is too little for it. PNG holds the picture's bytes but
// draws in bands of a bounded size, which fits.
INSTANTIATE_TEST_SUITE_P(
    Formats, MemoryLimit,
    ::testing::Values(LimitCase{"svg", 128, Outcome::converts, ""}, LimitCase{"emf", 128, Outcome::converts, ""},
                      LimitCase{"pdf", 128, Outcome::runs_out, "plotmint-convert: out of memory while writing OUT.\n"},
                      LimitCase{"pdf", 192, Outcome::may_run_out, "plotmint-convert: out of memory while writing OUT.\n"},
                      LimitCase{"png", 128, Outcome::converts, ""}),
    [](const auto& case_info) {
        return std::string(case_info.param.format) + "_" + std::to_string(case_info.param.limit_mib);
    });

}  // namespace
}  // namespace plotmint
