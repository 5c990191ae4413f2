#pragma once
// The draw run: one graph file to graph.emf, read back checked. The window feeds it from
// its grids, the converter from its options; both get the same log lines in the same order.
#include <array>
#include <cstdint>
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

struct DrawRunOptions {
    std::string output_path = "graph.emf";
    ReferenceDisplay display = kDefaultDisplay;
    LogSink* diagnostics = nullptr;  // standard error when null
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
