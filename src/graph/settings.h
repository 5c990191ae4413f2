#pragma once
// Everything a draw run takes from its caller, as one value: the window builds it from its
// grids and radio groups, the converter from its options, the other front ends from theirs.
// The defaults here are the ones every front end starts from.
#include <array>
#include <cstdint>

#include "base/geometry.h"
#include "base/rgb.h"
#include "color/tables.h"

namespace plotmint {

// Pen widths in graph units for width indices 1..5; the fifth is also the margin.
struct PenWidths {
    std::array<int32_t, 5> width{12, 16, 20, 24, 28};
    int32_t margin() const { return width[4]; }
    int32_t operator[](size_t i) const { return width[i]; }
    friend bool operator==(const PenWidths&, const PenWidths&) = default;
};

// How vertical and horizontal line blocks are drawn.
enum class VhlineMode : int32_t {
    segments = 0,  // as the segments the block holds
    dotted = 1,    // one dotted line in the current colour
    pen = 2,       // one line in the replacement pen
};

// How Hershey text is drawn.
enum class HersheyChoice : int32_t {
    strokes = 0,  // the strokes the graph file carries
    arial = 1,    // re-set in Arial (laid out against Helvetica)
    times = 2,    // re-set in Times New Roman (laid out against Times-Roman)
};

// The window's radio groups and the converter's options give a plain index; an index no
// item has (no selection) draws as the first item does.
constexpr VhlineMode vhline_mode_from_index(int32_t index) {
    return index == 1 ? VhlineMode::dotted : index == 2 ? VhlineMode::pen : VhlineMode::segments;
}
constexpr HersheyChoice hershey_choice_from_index(int32_t index) {
    return index <= 0 ? HersheyChoice::strokes : index == 1 ? HersheyChoice::arial : HersheyChoice::times;
}
constexpr bool replaces_vhline_blocks(VhlineMode m) { return m != VhlineMode::segments; }
constexpr bool replaces_hershey_text(HersheyChoice c) { return c != HersheyChoice::strokes; }

// The single line that replaces a vertical/horizontal line block in VhlineMode::pen.
struct VhlinePen {
    Rgb color{200, 200, 200};
    int32_t width = 1;
    friend bool operator==(const VhlinePen&, const VhlinePen&) = default;
};

struct Settings {
    PenWidths widths;
    VhlineMode vhline = VhlineMode::pen;
    VhlinePen vhline_pen;
    HersheyChoice hershey = HersheyChoice::arial;
    // The tone nodes the run expands into the 121 fill tones, and the 31 line colours.
    ToneTable tone;
    LineColorTable line_color{};
    // Whose pixels the picture's units are.
    ReferenceDisplay display = kDefaultDisplay;
};

}  // namespace plotmint
