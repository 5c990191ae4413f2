#include "app/core/conversion.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "records/record_reader.h"
#include "shell_helpers.h"

namespace plotmint {
namespace {

namespace fs = std::filesystem;

TEST(PreviewRect, WorkedExample) {
    EXPECT_EQ(preview_rect(Extent{1000, 4000, 2000, 6000}, 300, 450), (Rect{57, 106, 229, 335}));
    // a drawing that fills the page fills the box
    EXPECT_EQ(preview_rect(Extent{0, 5240, 0, 7860}, 300, 450), (Rect{0, 0, 300, 450}));
}

Settings one_node_settings() {
    Settings s;
    s.tone.count = 1;
    return s;
}

TEST(DrawRun, EmptyToneListStopsBeforeTheRenderer) {
    const fs::path dir = fs::temp_directory_path() / "plotmint_draw_run_empty_tone";
    fs::create_directories(dir);
    std::ofstream(dir / "g.g") << "3 0 0 2 10 10";
    const Settings settings;  // node count 0: no tone table was ever loaded
    VectorLog log;
    Conversion conversion((dir / "g.g").string());
    const DrawRunResult r = conversion.run(settings, PictureTarget::file((dir / "out.emf").string()), log);
    EXPECT_TRUE(r.picture_renewed);
    EXPECT_FALSE(r.rendered);
    EXPECT_FALSE(r.finished);
    EXPECT_EQ(log.lines.back(), "bug exist in setting tone_color.");
    EXPECT_FALSE(fs::exists(dir / "out.emf"));
    fs::remove_all(dir);
}

TEST(DrawRun, PictureIsReadBackFromTheFileWritten) {
    const fs::path dir = fs::temp_directory_path() / "plotmint_draw_run_read_back";
    fs::create_directories(dir);
    std::ofstream(dir / "g.g") << "3 0 0 2 1000 500";
    Settings settings;
    settings.tone.count = 2;
    settings.tone.tone[1] = 100;
    settings.tone.color[1] = Rgb{255, 255, 255};
    settings.display = ReferenceDisplay{250, 250, 1000, 1000};
    VectorLog log;
    Conversion conversion((dir / "g.g").string());
    const DrawRunResult r = conversion.run(settings, PictureTarget::file((dir / "out.emf").string()), log);
    ASSERT_TRUE(r.finished);
    ASSERT_TRUE(r.picture.has_value());
    EXPECT_EQ(r.picture->frame, (Rect{0, 0, (1000 + 56 + 28) * 25, (500 + 56 + 28) * 25}));
    EXPECT_EQ(r.frame, r.picture->frame);
    EXPECT_EQ(r.picture->bytes, plotmint_test::slurp(dir / "out.emf"));
    EXPECT_EQ(r.tone_color[50], (Rgb{127, 127, 127}));
    fs::remove_all(dir);
}

// Open descriptors of this process (the record file is an unlinked file of its own).
size_t open_descriptors() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator("/proc/self/fd")) ++n;
    return n;
}

// A graph file of a few MiB, so that its records are read back from the record file.
std::string big_graph() {
    std::string g = "6 1 0\n5 0 2\n";
    for (int i = 0; g.size() < (3u << 20); ++i) {
        g += "3 " + std::to_string(i % 5000) + " " + std::to_string(i % 7000) + "\n";
        g += "2 " + std::to_string((i * 7) % 5000) + " " + std::to_string((i * 3) % 7000) + "\n";
    }
    return g;
}

struct RunCase {
    const char* name;
    VhlineMode vhline;
    HersheyChoice hershey;
    std::vector<RunPass> passes;  // in the order reported
};

class DrawRunProgress : public ::testing::TestWithParam<RunCase> {};

TEST_P(DrawRunProgress, ReportsEachPassInOrderAndLeavesNoRecordFile) {
    const RunCase& c = GetParam();
    const fs::path dir =
        fs::temp_directory_path() / ("plotmint_draw_run_progress_" + std::string(c.name) + "_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string graph = big_graph();
    std::ofstream(dir / "g.g", std::ios::binary) << graph;
    Settings settings = one_node_settings();
    settings.vhline = c.vhline;
    settings.hershey = c.hershey;
    VectorLog log;
    std::vector<RunPass> starts;
    int reports = 0;
    uint64_t emf_total = 0;
    const size_t descriptors = open_descriptors();
    DrawRunResult r;
    {
        Conversion conversion((dir / "g.g").string());
        conversion.set_progress([&](const RunProgress& p) {
            ++reports;
            if (p.bytes_done == 0) starts.push_back(p.pass);
            if (p.pass == RunPass::read_back)
                emf_total = p.bytes_total;
            else
                EXPECT_EQ(p.bytes_total, graph.size());
            EXPECT_LE(p.bytes_done, p.bytes_total);
        });
        r = conversion.run(settings, PictureTarget::file((dir / "out.emf").string(), false), log);
    }
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(starts, c.passes);
    EXPECT_LT(reports, 60);  // a few per pass, not one per record
    EXPECT_EQ(emf_total, fs::file_size(dir / "out.emf"));
    EXPECT_EQ(open_descriptors(), descriptors);
    // Without its bytes the picture still carries what the file's header says.
    ASSERT_TRUE(r.picture.has_value());
    EXPECT_TRUE(r.picture->bytes.empty());
    std::string error;
    const auto full = read_emf_file((dir / "out.emf").string(), error);
    ASSERT_TRUE(full) << error;
    EXPECT_EQ(r.picture->frame, full->frame);
    EXPECT_EQ(r.picture->bounds, full->bounds);
    EXPECT_EQ(r.picture->record_count, full->record_count);
    fs::remove_all(dir);
}

using P = RunPass;
INSTANTIATE_TEST_SUITE_P(
    Settings, DrawRunProgress,
    ::testing::Values(
        RunCase{"all_passes", VhlineMode::pen, HersheyChoice::arial,
                {P::extent, P::fill, P::vhline, P::line, P::substitution, P::read_back}},
        RunCase{"segments_kept", VhlineMode::segments, HersheyChoice::times,
                {P::extent, P::fill, P::line, P::substitution, P::read_back}},
        RunCase{"hershey_strokes", VhlineMode::dotted, HersheyChoice::strokes,
                {P::extent, P::fill, P::vhline, P::line, P::read_back}},
        RunCase{"fewest", VhlineMode::segments, HersheyChoice::strokes,
                {P::extent, P::fill, P::line, P::read_back}}),
    [](const ::testing::TestParamInfo<RunCase>& param) { return std::string(param.param.name); });

// Discovery and the draw run after it read the file through the conversion's one reader: the
// run's passes come from the record file discovery's reading made, and the picture is the
// one drawn from the text in memory, which is never cached.
TEST(DrawRun, RunAfterDiscoveryReadsItsRecordsAndDrawsWhatTheTextDraws) {
    const fs::path dir = fs::temp_directory_path() / ("plotmint_draw_run_same_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string graph = big_graph() + "25 1 0\n0 100 0\n0 200 300\n0 0 65\n29 55 0\n";
    std::ofstream(dir / "g.g", std::ios::binary) << graph;
    const Settings settings = one_node_settings();
    VectorLog log;
    Conversion conversion((dir / "g.g").string());
    conversion.find_color_tables(dir.string(), true, {}, log);
    EXPECT_EQ(log.lines.back(), "no color table.");
    std::vector<bool> cached;  // at the start of each pass over the graph file
    conversion.set_progress([&](const RunProgress& p) {
        if (p.bytes_done == 0 && p.pass != RunPass::read_back) cached.push_back(conversion.reader().reading_cached_records());
    });
    const DrawRunResult r = conversion.run(settings, PictureTarget::file((dir / "out.emf").string()), log);
    ASSERT_TRUE(r.finished);
    EXPECT_EQ(cached, std::vector<bool>(5, true));

    Conversion text = Conversion::of_text(graph);
    NullLog quiet;
    const DrawRunResult m = text.run(settings, PictureTarget::memory(), quiet);
    ASSERT_TRUE(m.finished);
    EXPECT_EQ(m.extent.xmin, r.extent.xmin);
    EXPECT_EQ(m.extent.ymax, r.extent.ymax);
    EXPECT_GT(m.picture->bytes.size(), 1000u);
    EXPECT_TRUE(m.picture->bytes == r.picture->bytes);
    fs::remove_all(dir);
}

// What a run logs depends on how far it gets; the same lines whatever the target.
TEST(DrawRun, LogLinesOfEachEndingAndEachTarget) {
    const fs::path dir = fs::temp_directory_path() / ("plotmint_draw_run_lines_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    std::ofstream(dir / "g.g") << "3 0 0 2 100 50";
    const std::vector<std::string> drawn{"open " + (dir / "g.g").string() + ".", "xmin : 0", "xmax : 100", "ymin : 0",
                                         "ymax : 50", "margin : 28", "making metafile", "making metafile end",
                                         "draw finished."};
    for (const bool memory : {false, true}) {
        VectorLog log;
        Conversion conversion((dir / "g.g").string());
        const PictureTarget target = memory ? PictureTarget::memory() : PictureTarget::file((dir / "o.emf").string());
        EXPECT_TRUE(conversion.run(one_node_settings(), target, log).finished);
        EXPECT_EQ(log.lines, drawn) << (memory ? "memory" : "file");
    }
    VectorLog none, missing;
    EXPECT_FALSE(Conversion("").run(one_node_settings(), PictureTarget::memory(), none).picture_renewed);
    EXPECT_EQ(none.lines, std::vector<std::string>{"File name is empty."});
    EXPECT_FALSE(Conversion((dir / "no.g").string()).run(one_node_settings(), PictureTarget::memory(), missing).picture_renewed);
    EXPECT_EQ(missing.lines, (std::vector<std::string>{"open " + (dir / "no.g").string() + ".", "Cannot open file."}));
    // A picture written over its own graph file would destroy the drawing: the window names
    // its picture graph.emf, and a graph file may have that name too.
    VectorLog itself;
    const DrawRunResult over = Conversion((dir / "g.g").string())
                                   .run(one_node_settings(), PictureTarget::file((dir / "g.g").string()), itself);
    EXPECT_FALSE(over.picture_renewed);
    EXPECT_EQ(itself.lines.back(), (dir / "g.g").string() + " is the graph file itself.  nothing is drawn.");
    EXPECT_EQ(plotmint_test::slurp(dir / "g.g"), "3 0 0 2 100 50");
    fs::remove_all(dir);
}

}  // namespace
}  // namespace plotmint
