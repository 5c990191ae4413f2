#pragma once
// make_metafile and the extent scan: a graph file, read in passes, becomes drawing calls.
#include <array>
#include <cstdint>

#include "base/log_sink.h"
#include "color/tables.h"
#include "records/record_reader.h"
#include "metafile/emf_writer.h"
#include "metafile/surface.h"

namespace plotmint {

struct Extent {
    int32_t xmin = 10480, xmax = 0, ymin = 10480, ymax = 0;
};

// Text boxes first (up to -999), then every draw_to segment of the whole file.
void scan_extent(RecordReader& reader, Extent& extent);

struct RenderSettings {
    std::array<int32_t, 5> line_width{12, 16, 20, 24, 28};
    int32_t vhline_flag = 2;
    TonePalette tone_color{};
    LineColorTable line_color{};
    std::array<int32_t, 4> vhline_pen{200, 200, 200, 1};
    int32_t hershey_choice = 1;  // 0 strokes, 1 Arial, 2 Times New Roman
};

// rclFrame in hundredths of a millimetre: one margin beyond width and height.
Rect metafile_frame(int64_t width, int64_t height, int32_t margin, const ReferenceDisplay& display);

enum class RenderOutcome { finished, abandoned };

// Runs the fill, vhline, line and substitution passes onto `surface`, starting with the
// set-up calls (background mode, null pen, black brush). The caller creates the surface
// and closes it afterwards, also after an abandoned render, so the picture drawn up to
// the failure is kept.
RenderOutcome make_metafile(RecordReader& reader, const Extent& extent, int32_t margin,
                            const RenderSettings& settings, Surface& surface, LogSink& log,
                            LogSink& diagnostics);

}  // namespace plotmint
