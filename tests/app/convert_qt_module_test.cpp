// The converter's Qt module: found beside the program or where an installed program keeps
// it, loaded for PDF and PNG only, and when it cannot be had, those pictures fail with a
// plain line and exit 1 while EMF and SVG are written as ever.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "../test_folder.h"
#include "app/cli/qt_module.h"
#include "shell_helpers.h"

namespace fs = std::filesystem;

namespace {

using plotmint_test::quote;
using plotmint_test::slurp;

#ifdef PLOTMINT_HAVE_EXPORT

const fs::path kBin = PLOTMINT_BIN_DIR;

// What stands where the converter looks: nothing, the real module, or a stand-in.
enum class Module { none, real, garbage, other_build, no_writer, oom_status, oom_through };

fs::path module_source(Module m) {
    switch (m) {
        case Module::real: return kBin / "plotmint-convert-qt.so";
        case Module::other_build: return fs::path(PLOTMINT_FAKE_MODULE_DIR) / "fake-other_build.so";
        case Module::no_writer: return fs::path(PLOTMINT_FAKE_MODULE_DIR) / "fake-no_writer.so";
        case Module::oom_status: return fs::path(PLOTMINT_FAKE_MODULE_DIR) / "fake-oom_status.so";
        case Module::oom_through: return fs::path(PLOTMINT_FAKE_MODULE_DIR) / "fake-oom_through.so";
        case Module::none:
        case Module::garbage: break;
    }
    return {};
}

struct LayoutCase {
    const char* name;
    Module beside;     // in the program's folder
    Module installed;  // in the private library folder an installed program uses
    // How the last line of a failed PDF or PNG continues after "cannot write PDF pictures: "
    // (the start of the reason); BIN and LIB stand for the two folders. Empty when PDF and PNG
    // are written.
    std::string reason;
};

void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }

class QtModuleLayout : public ::testing::TestWithParam<LayoutCase> {
protected:
    void SetUp() override {
        dir_ = plotmint_test::test_folder("plotmint_qt_module_");
        fs::remove_all(dir_);
        bin_ = dir_ / "bin";
        fs::create_directories(bin_);
        fs::copy_file(kBin / "plotmint-convert", bin_ / "plotmint-convert");
        const std::vector<std::string> places = plotmint::qt_module_candidates(bin_.string());
        ASSERT_EQ(places.size(), 2u);
        place(GetParam().beside, places[0]);
        place(GetParam().installed, places[1]);
        lib_ = fs::path(places[1]).parent_path();
        fs::create_directories(dir_ / "work");
        std::ofstream(dir_ / "work/g.g") << "3 1000 2000\n2 4000 6000\n";
    }
    void TearDown() override { fs::remove_all(dir_); }

    void place(Module m, const fs::path& at) {
        if (m == Module::none) return;
        fs::create_directories(at.parent_path());
        if (m == Module::garbage)
            std::ofstream(at) << std::string(256, '#');
        else
            fs::copy_file(module_source(m), at);
    }

    struct Outcome {
        int status = -1;
        std::vector<std::string> err;
        bool loaded_module = false;  // the dynamic loader opened plotmint-convert-qt.so
    };

    // The copied converter in work/, the loader's file log kept apart from standard error.
    Outcome run(const std::vector<std::string>& args) {
        const fs::path work = dir_ / "work";
        for (const auto& e : fs::directory_iterator(work))
            if (e.path().filename().string().rfind("ld.", 0) == 0) fs::remove(e.path());
        std::string cmd = "cd " + quote(work.string()) + " && LD_DEBUG=files LD_DEBUG_OUTPUT=ld " +
                          quote((bin_ / "plotmint-convert").string()) + " --table-dir " +
                          quote((fs::path(PLOTMINT_SOURCE_DIR) / "data").string());
        for (const std::string& a : args) cmd += " " + quote(a);
        cmd += " 2>stderr.txt >/dev/null";
        const int rc = std::system(cmd.c_str());
        Outcome r;
        r.status = WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
        std::ifstream in(work / "stderr.txt");
        for (std::string line; std::getline(in, line);) r.err.push_back(line);
        for (const auto& e : fs::directory_iterator(work))
            if (e.path().filename().string().rfind("ld.", 0) == 0 &&
                slurp(e.path()).find("plotmint-convert-qt.so") != std::string::npos)
                r.loaded_module = true;
        return r;
    }

    std::string expected_reason() const {
        std::string reason = GetParam().reason;
        for (const auto& [key, value] : {std::pair{"BIN", bin_.string()}, std::pair{"LIB", lib_.string()}})
            for (size_t at; (at = reason.find(key)) != std::string::npos;) reason.replace(at, 3, value);
        return reason;
    }

    fs::path dir_, bin_, lib_;
};

TEST_P(QtModuleLayout, EmfSvgAndHelpNeverLoadItPdfAndPngNeedIt) {
    const Outcome help = run({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_FALSE(help.loaded_module);

    for (const char* format : {"emf", "svg"}) {
        const std::string out = std::string("out.") + format;
        const Outcome r = run({"-q", "--no-discovery", "g.g", "-o", out});
        EXPECT_EQ(r.status, 0) << out;
        EXPECT_FALSE(r.loaded_module) << out;
        EXPECT_TRUE(fs::exists(dir_ / "work" / out)) << out;
    }

    for (const char* format : {"pdf", "png"}) {
        const std::string out = std::string("out.") + format;
        const Outcome r = run({"-q", "--no-discovery", "g.g", "-o", out});
        ASSERT_FALSE(r.err.empty()) << out;
        // Looked for only once a picture is to be written: the drawing is done by then.
        EXPECT_NE(std::find(r.err.begin(), r.err.end(), "draw finished."), r.err.end()) << out;
        if (GetParam().reason.empty()) {
            EXPECT_EQ(r.status, 0) << out << ": " << r.err.back();
            EXPECT_TRUE(r.loaded_module) << out;
            EXPECT_TRUE(fs::exists(dir_ / "work" / out)) << out;
            continue;
        }
        std::string name = format;
        for (char& c : name) c = static_cast<char>(c - 'a' + 'A');
        EXPECT_EQ(r.status, 1) << out;
        const std::string says = "plotmint-convert: " + out + ": cannot write " + name + " pictures: " + expected_reason();
        EXPECT_EQ(r.err.back().substr(0, says.size()), says);
        EXPECT_EQ(r.err.back().back(), '.') << r.err.back();
        EXPECT_FALSE(fs::exists(dir_ / "work" / out)) << out;
        EXPECT_FALSE(fs::exists(dir_ / "work/graph.emf")) << "a named output is played from a private metafile";
    }
}

// With several PDFs, the module is looked for once and each picture fails on its own line.
TEST_P(QtModuleLayout, EveryPictureOfAnOutputDirRunSaysWhyItFailed) {
    std::ofstream(dir_ / "work/h.g") << "3 0 0\n2 500 500\n";
    const Outcome r = run({"-q", "--no-discovery", "-d", "out", "--format", "pdf", "g.g", "h.g"});
    if (GetParam().reason.empty()) {
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(fs::exists(dir_ / "work/out/g.pdf"));
        EXPECT_TRUE(fs::exists(dir_ / "work/out/h.pdf"));
        return;
    }
    EXPECT_EQ(r.status, 1);
    for (const char* name : {"g", "h"}) {
        const std::string says =
            std::string("plotmint-convert: out/") + name + ".pdf: cannot write PDF pictures: " + expected_reason();
        EXPECT_EQ(std::count_if(r.err.begin(), r.err.end(), [&](const std::string& l) { return l.rfind(says, 0) == 0; }),
                  1)
            << says;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), std::string("plotmint-convert: ") + name + ".g: failed"), 1);
    }
}

// Memory running out in the module ends the conversion as it did when the writers were part
// of the program, whether the module says so or the throw cannot leave it (then the
// converter's terminate handler, which is the whole process's, says it): the same line and
// exit 1, never an abort.
class QtModuleOutOfMemory : public QtModuleLayout {};

TEST_P(QtModuleOutOfMemory, IsAPlainFailure) {
    for (const char* out : {"out.pdf", "out.png"}) {
        const Outcome r = run({"-q", "--no-discovery", "g.g", "-o", out});
        EXPECT_EQ(r.status, 1) << out;
        ASSERT_FALSE(r.err.empty()) << out;
        EXPECT_EQ(r.err.back(), std::string("plotmint-convert: out of memory while writing ") + out + ".");
        EXPECT_EQ(std::count_if(r.err.begin(), r.err.end(),
                                [](const std::string& l) { return l.find("terminate called") != std::string::npos; }),
                  0);
        EXPECT_FALSE(fs::exists(dir_ / "work" / out)) << out;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, QtModuleLayout,
    ::testing::Values(
        LayoutCase{"beside", Module::real, Module::none, ""},
        LayoutCase{"installed", Module::none, Module::real, ""},
        LayoutCase{"absent", Module::none, Module::none, "plotmint-convert-qt.so is in neither BIN nor LIB."},
        // The first one there is the one loaded, and its fault is told, not that of another place.
        LayoutCase{"garbage_beside", Module::garbage, Module::real, "BIN/plotmint-convert-qt.so: invalid ELF header."},
        LayoutCase{"other_build", Module::other_build, Module::real,
                   "BIN/plotmint-convert-qt.so is of another build (plotmint 0.0.0, module revision 0, another "
                   "compiler; this program: plotmint "},
        LayoutCase{"no_writer", Module::no_writer, Module::none, "BIN/plotmint-convert-qt.so has no plotmint_qt_write."}),
    [](const auto& case_info) { return std::string(case_info.param.name); });

INSTANTIATE_TEST_SUITE_P(Writers, QtModuleOutOfMemory,
                         ::testing::Values(LayoutCase{"status", Module::oom_status, Module::none, ""},
                                           LayoutCase{"thrown_through", Module::oom_through, Module::none, ""}),
                         [](const auto& case_info) { return std::string(case_info.param.name); });

#endif  // PLOTMINT_HAVE_EXPORT

}  // namespace
