#pragma once
// What one render carries besides the graph file: the surface, the mapping of graph units
// to metafile units, and where messages go. The renderer owns it; the text code reads it.
#include <cstdint>
#include <string>

#include "base/log_sink.h"
#include "metafile/surface.h"

namespace plotmint {

struct RenderContext {
    Surface& surface;
    LogSink& log;          // the message log
    LogSink& diagnostics;  // standard error: the Hershey "not supported" line goes here
    int32_t xmin = 0;
    int32_t ymax = 0;
    int32_t margin = 0;
    std::string hershey_font;  // set_hershey_font; empty until the substitution pass
};

}  // namespace plotmint
