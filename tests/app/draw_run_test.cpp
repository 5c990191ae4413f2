#include "app/core/draw_run.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

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

}  // namespace
}  // namespace plotmint
