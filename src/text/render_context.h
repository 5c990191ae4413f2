#pragma once
// What one render carries besides the graph file: the surface, the mapping of graph units
// to picture units, and where messages go. The renderer owns it; the text code reads it.
#include <cstdint>

#include "base/log_sink.h"
#include "metafile/surface.h"

namespace plotmint {

struct PsFont;

// Graph units (y up) to picture units (y down): X = x - xmin + margin, Y = ymax - y + margin.
// Points of records are mapped in 64 bits and text positions in double; both are exact for
// every 32-bit input, so the renderer and the text code place the same point alike.
struct PictureMapping {
    int32_t xmin = 0, ymax = 0, margin = 0;
    template <class T>
    T x(T graph_x) const {
        return graph_x - static_cast<T>(xmin) + static_cast<T>(margin);
    }
    template <class T>
    T y(T graph_y) const {
        return static_cast<T>(ymax) - graph_y + static_cast<T>(margin);
    }
};

struct RenderContext {
    Surface& surface;
    LogSink& log;          // the message log
    LogSink& diagnostics;  // standard error: the Hershey "not supported" line goes here
    int32_t xmin = 0;
    int32_t ymax = 0;
    int32_t margin = 0;
    const PsFont* hershey_font = nullptr;  // set_hershey_font; none until the substitution pass

    PictureMapping mapping() const { return PictureMapping{xmin, ymax, margin}; }
};

}  // namespace plotmint
