#pragma once
// The Hershey layout without the drawing, so that where each run starts can be checked
// apart from how a surface draws it. hershey_text (fonts.h) draws these runs.
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "base/log_sink.h"
#include "text/ps_fonts.h"

namespace plotmint {

// One stretch of characters in one font, drawn by one ps_text_out call. The text points
// into the layout's own buffers and lives only for the callback.
struct HersheyRun {
    double x = 0, y = 0;  // start of its baseline, graph units
    double size = 0;      // graph units
    double angle = 0;     // degrees, counter-clockwise
    const PsFont* font = nullptr;  // null only when no Hershey font was chosen
    std::string_view text;
};

struct HersheyPen {
    double x = 0, y = 0;  // where the next character would start
    double size = 0;      // the size then in force
};

// Lays out `codes` starting at (x, y) on the baseline. Every non-empty run goes to `draw`
// in drawing order; font_width reports go to `log`, unsupported sign characters to
// `diagnostics`. Returns the pen after the last number.
HersheyPen hershey_layout(const PsFont* hershey_font, int32_t x, int32_t y, int32_t size,
                          int32_t angle10, std::span<const int32_t> codes, LogSink& log,
                          LogSink& diagnostics, const std::function<void(const HersheyRun&)>& draw);

}  // namespace plotmint
