#pragma once
// make_metafile and the extent scan: a graph file, read in passes, becomes drawing calls.
#include <cstdint>
#include <functional>

#include "base/geometry.h"
#include "base/log_sink.h"
#include "color/tables.h"
#include "graph/settings.h"
#include "metafile/surface.h"
#include "records/record_reader.h"

namespace plotmint {

struct Extent {
    int32_t xmin = 10480, xmax = 0, ymin = 10480, ymax = 0;
};

// The passes of a draw run over the graph file, in the order they run, and the read-back of
// the picture after them. A pass the settings switch off does not run, and an abandoned
// render runs no later pass.
enum class RunPass : int {
    extent = 1,  // the extent scan: text boxes and draw_to segments
    fill = 2,
    vhline = 3,
    line = 4,
    substitution = 5,
    read_back = 6,  // the picture read back and checked
};
constexpr int kRunPasses = 6;

// Told as each pass starts, before it rewinds the reader.
using PassStart = std::function<void(RunPass)>;

// One pass: the boxes of the text blocks before end_of_plot, and every draw_to segment of
// the whole file. `extent` is where the scan starts; the boxes, when any count, take its
// place before the segments are added. Returns how many records the whole file gave.
uint64_t scan_extent(RecordReader& reader, Extent& extent, const PassStart& on_pass = {});

// rclFrame in hundredths of a millimetre: one margin beyond width and height.
Rect metafile_frame(int64_t width, int64_t height, int32_t margin, const ReferenceDisplay& display);
// The picture is the extent with a margin on every side; its frame as metafile_frame gives it.
Rect picture_frame(const Extent& extent, int32_t margin, const ReferenceDisplay& display);

enum class RenderOutcome { finished, abandoned };

// Runs the fill, vhline, line and substitution passes onto `surface`, starting with the
// set-up calls (background mode, null pen, black brush). The margin is the fifth pen width.
// The caller creates the surface and closes it afterwards, also after an abandoned render,
// so the picture drawn up to the failure is kept.
RenderOutcome make_metafile(RecordReader& reader, const Extent& extent, const Settings& settings,
                            const TonePalette& tone_color, Surface& surface, LogSink& log,
                            LogSink& diagnostics, const PassStart& on_pass = {});

}  // namespace plotmint
