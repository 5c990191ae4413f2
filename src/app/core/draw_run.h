#pragma once
// The draw run: one graph file to graph.emf, read back checked. The window feeds it from
// its grids, the converter from its options; both get the same log lines in the same order.
#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/log_sink.h"
#include "color/tables.h"
#include "graph/renderer.h"
#include "metafile/emf_reader.h"

namespace plotmint {

// Read at the moment the run needs each value. A cell without a number leaves the held
// value as it is, so each reader updates in place.
class SettingsSource {
public:
    virtual ~SettingsSource() = default;
    virtual void read_line_width(std::array<int32_t, 5>& line_width) = 0;
    virtual void read_vhline_pen(std::array<int32_t, 4>& vhline_pen) = 0;
    virtual void read_tone_nodes(ToneTable& tone) = 0;  // rows 1..tone.count
    virtual void read_line_colors(LineColorTable& line_color) = 0;
    virtual int32_t vhline_flag() = 0;
    virtual int32_t hershey_choice() = 0;
};

// Values the window holds between runs.
struct HeldValues {
    std::array<int32_t, 5> line_width{};
    std::array<int32_t, 4> vhline_pen{};
    ToneTable tone;
    LineColorTable line_color{};
    TonePalette tone_color{};
};

// The parts of a run that report progress, in the order they run. A pass that the settings
// switch off is skipped, and an abandoned render reports no later pass.
enum class RunPass : int {
    extent_text = 1,      // text boxes of the extent scan
    extent_segments = 2,  // draw_to segments of the extent scan
    fill = 3,
    vhline = 4,
    line = 5,
    substitution = 6,
    read_back = 7,  // graph.emf read back and checked; bytes are those of graph.emf
};
constexpr int kRunPasses = 7;

// pass is a RunPass; called when each pass over the graph file starts (bytes_done 0) and
// then about every 4 MiB it reads, on the thread that runs the draw run, never per record.
// The read-back reports its start and its end.
using RunProgress = std::function<void(int pass, uint64_t bytes_done, uint64_t bytes_total)>;

struct DrawRunOptions {
    std::string output_path = "graph.emf";
    ReferenceDisplay display = kDefaultDisplay;
    LogSink* diagnostics = nullptr;  // standard error when null
    // Whether DrawRunResult::picture keeps the bytes of graph.emf. Without them graph.emf
    // is checked as it streams from the file, in memory that does not grow with it.
    bool keep_picture_bytes = true;
    RunProgress progress;  // optional
};

struct DrawRunResult {
    bool picture_renewed = false;  // reached the step that drops the old picture
    bool rendered = false;         // make_metafile ran
    bool abandoned = false;        // the render was abandoned
    bool finished = false;         // "draw finished." was logged
    Extent extent;
    std::optional<EmfPicture> picture;  // graph.emf as read back
    std::string read_error;             // why graph.emf could not be read back
};

DrawRunResult draw_run(const std::string& graph_file, SettingsSource& settings, HeldValues& held,
                       const DrawRunOptions& options, LogSink& log);

// The preview rectangle for a W x H paint box (truncating integer arithmetic).
Rect preview_rect(const Extent& extent, int32_t box_width, int32_t box_height);

}  // namespace plotmint
