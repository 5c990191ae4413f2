#include "app/core/draw_run.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "records/record_reader.h"

namespace plotmint {
namespace {

namespace fs = std::filesystem;

TEST(PreviewRect, WorkedExample) {
    EXPECT_EQ(preview_rect(Extent{1000, 4000, 2000, 6000}, 300, 450), (Rect{57, 106, 229, 335}));
    // a drawing that fills the page fills the box
    EXPECT_EQ(preview_rect(Extent{0, 5240, 0, 7860}, 300, 450), (Rect{0, 0, 300, 450}));
}

// Settings that come straight from fixed values; counts how often each is read.
class FixedSettings final : public SettingsSource {
public:
    void read_line_width(std::array<int32_t, 5>& w) override { w = {12, 16, 20, 24, 28}; }
    void read_vhline_pen(std::array<int32_t, 4>& p) override { p = {200, 200, 200, 1}; }
    void read_tone_nodes(ToneTable&) override { ++tone_reads; }
    void read_line_colors(LineColorTable&) override { ++line_reads; }
    int32_t vhline_flag() override { return 2; }
    int32_t hershey_choice() override { return 1; }
    int tone_reads = 0, line_reads = 0;
};

TEST(DrawRun, EmptyToneListStopsBeforeTheRenderer) {
    const fs::path dir = fs::temp_directory_path() / "plotmint_draw_run_empty_tone";
    fs::create_directories(dir);
    std::ofstream(dir / "g.g") << "3 0 0 2 10 10";
    FixedSettings settings;
    HeldValues held;  // node count 0: no tone table was ever loaded
    VectorLog log;
    DrawRunOptions options;
    options.output_path = (dir / "out.emf").string();
    const DrawRunResult r = draw_run((dir / "g.g").string(), settings, held, options, log);
    EXPECT_TRUE(r.picture_renewed);
    EXPECT_FALSE(r.rendered);
    EXPECT_FALSE(r.finished);
    EXPECT_EQ(log.lines.back(), "bug exist in setting tone_color.");
    EXPECT_EQ(settings.line_reads, 0);
    EXPECT_FALSE(fs::exists(dir / "out.emf"));
    fs::remove_all(dir);
}

TEST(DrawRun, PictureIsReadBackFromTheFileWritten) {
    const fs::path dir = fs::temp_directory_path() / "plotmint_draw_run_read_back";
    fs::create_directories(dir);
    std::ofstream(dir / "g.g") << "3 0 0 2 1000 500";
    FixedSettings settings;
    HeldValues held;
    held.tone.count = 2;
    held.tone.tone[1] = 100;
    held.tone.color[1] = Rgb{255, 255, 255};
    VectorLog log;
    DrawRunOptions options;
    options.output_path = (dir / "out.emf").string();
    options.display = ReferenceDisplay{250, 250, 1000, 1000};
    const DrawRunResult r = draw_run((dir / "g.g").string(), settings, held, options, log);
    ASSERT_TRUE(r.finished);
    ASSERT_TRUE(r.picture.has_value());
    EXPECT_EQ(r.picture->frame, (Rect{0, 0, (1000 + 56 + 28) * 25, (500 + 56 + 28) * 25}));
    std::ifstream f(dir / "out.emf", std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    EXPECT_EQ(r.picture->bytes, bytes);
    EXPECT_EQ(held.tone_color[50], (Rgb{127, 127, 127}));
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
    int32_t vhline_flag, hershey_choice;
    std::vector<int> passes;  // in the order reported
};

class PassSettings final : public SettingsSource {
public:
    PassSettings(int32_t vhline, int32_t hershey) : vhline_(vhline), hershey_(hershey) {}
    void read_line_width(std::array<int32_t, 5>& w) override { w = {12, 16, 20, 24, 28}; }
    void read_vhline_pen(std::array<int32_t, 4>& p) override { p = {200, 200, 200, 1}; }
    void read_tone_nodes(ToneTable&) override {}
    void read_line_colors(LineColorTable&) override {}
    int32_t vhline_flag() override { return vhline_; }
    int32_t hershey_choice() override { return hershey_; }

private:
    int32_t vhline_, hershey_;
};

class DrawRunProgress : public ::testing::TestWithParam<RunCase> {};

TEST_P(DrawRunProgress, ReportsEachPassInOrderAndLeavesNoRecordFile) {
    const RunCase& c = GetParam();
    const fs::path dir =
        fs::temp_directory_path() / ("plotmint_draw_run_progress_" + std::string(c.name) + "_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string graph = big_graph();
    std::ofstream(dir / "g.g", std::ios::binary) << graph;
    PassSettings settings(c.vhline_flag, c.hershey_choice);
    HeldValues held;
    held.tone.count = 1;
    VectorLog log;
    DrawRunOptions options;
    options.output_path = (dir / "out.emf").string();
    options.keep_picture_bytes = false;
    std::vector<int> starts;
    int reports = 0;
    uint64_t emf_total = 0;
    options.progress = [&](int pass, uint64_t done, uint64_t total) {
        ++reports;
        if (done == 0) starts.push_back(pass);
        if (pass == static_cast<int>(RunPass::read_back)) emf_total = total;
        else EXPECT_EQ(total, graph.size());
        EXPECT_LE(done, total);
    };
    const size_t descriptors = open_descriptors();
    const DrawRunResult r = draw_run((dir / "g.g").string(), settings, held, options, log);
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

constexpr int kText = 1, kSegments = 2, kFill = 3, kVhline = 4, kLine = 5, kSubstitution = 6, kReadBack = 7;

INSTANTIATE_TEST_SUITE_P(
    Settings, DrawRunProgress,
    ::testing::Values(
        RunCase{"all_passes", 2, 1, {kText, kSegments, kFill, kVhline, kLine, kSubstitution, kReadBack}},
        RunCase{"segments_kept", 0, 2, {kText, kSegments, kFill, kLine, kSubstitution, kReadBack}},
        RunCase{"hershey_strokes", 1, 0, {kText, kSegments, kFill, kVhline, kLine, kReadBack}},
        RunCase{"fewest", 0, 0, {kText, kSegments, kFill, kLine, kReadBack}}),
    [](const ::testing::TestParamInfo<RunCase>& param) { return std::string(param.param.name); });

// The picture drawn from the record file is the one drawn from the text in memory, which
// is never cached.
TEST(DrawRun, RecordFileGivesTheSamePictureAsTheText) {
    const fs::path dir = fs::temp_directory_path() / ("plotmint_draw_run_same_" + std::to_string(::getpid()));
    fs::create_directories(dir);
    const std::string graph = big_graph() + "25 1 0\n0 100 0\n0 200 300\n0 0 65\n29 55 0\n";
    std::ofstream(dir / "g.g", std::ios::binary) << graph;
    PassSettings settings(2, 1);
    HeldValues held;
    held.tone.count = 1;
    VectorLog log;
    DrawRunOptions options;
    options.output_path = (dir / "out.emf").string();
    {
        // A reader on the file before the run (discovery) leaves the run the record file.
        RecordReader first;
        ASSERT_TRUE(first.open((dir / "g.g").string()));
        first.rewind();
        Record rec;
        while (first.read_record(rec)) {
        }
    }
    const DrawRunResult r = draw_run((dir / "g.g").string(), settings, held, options, log);
    ASSERT_TRUE(r.finished);

    RecordReader text;
    text.open_memory(graph);
    Extent extent;
    scan_extent(text, extent);
    EXPECT_EQ(extent.xmin, r.extent.xmin);
    EXPECT_EQ(extent.ymax, r.extent.ymax);
    RenderSettings render;
    render.tone_color = held.tone_color;
    render.line_color = held.line_color;
    const int32_t margin = render.line_width[4];
    const Rect frame = metafile_frame(int64_t{extent.xmax} - extent.xmin + 2 * margin,
                                      int64_t{extent.ymax} - extent.ymin + 2 * margin, margin, options.display);
    MemorySink sink;
    EmfWriter writer(sink, options.display, frame);
    NullLog quiet;
    make_metafile(text, extent, margin, render, writer, quiet, quiet);
    ASSERT_TRUE(writer.close());
    EXPECT_GT(sink.bytes.size(), 1000u);
    EXPECT_TRUE(sink.bytes == r.picture->bytes);
    fs::remove_all(dir);
}

}  // namespace
}  // namespace plotmint
