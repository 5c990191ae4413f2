#include <algorithm>
#include <cmath>
#include <limits>

#include "graph/renderer.h"

namespace plotmint {

namespace {

// trunc toward zero into int32; a value outside the range saturates, so a hostile text
// box can never produce undefined behaviour (real drawings are far inside the range).
int32_t trunc_to_int(double v) {
    if (std::isnan(v)) return 0;
    if (v >= 2147483647.0) return std::numeric_limits<int32_t>::max();
    if (v <= -2147483648.0) return std::numeric_limits<int32_t>::min();
    return static_cast<int32_t>(v);
}

void extend(Extent& e, int32_t x, int32_t y) {
    e.xmax = std::max(e.xmax, x);
    e.xmin = std::min(e.xmin, x);
    e.ymax = std::max(e.ymax, y);
    e.ymin = std::min(e.ymin, y);
}

// The boxes of all text blocks before end_of_plot.
void scan_text_boxes(RecordReader& reader, Extent& extent, const PassStart& on_pass) {
    if (on_pass) on_pass(RunPass::extent_text);
    reader.rewind();
    bool found = false;
    Extent text;
    Record r;
    const double pi = std::acos(-1.0);
    while (reader.read_record(r) && r.code != code::end_of_plot) {
        if (r.code != code::text_begin) continue;
        Record a, b, end;
        if (!reader.read_record(a) || !reader.read_record(b)) return;
        bool closed = false;
        while (reader.read_record(end)) {
            if (end.code == code::text_end) {
                closed = true;
                break;
            }
        }
        if (!closed) break;  // a block cut off by the end of the file adds nothing
        const double s = a.a;
        const double w = end.a;
        const double v_low = trunc_to_int(-0.4 * s);
        const double v_high = trunc_to_int(s + 0.2 * s);
        const double angle = a.b * 0.1 * (1.0 / 180.0) * pi;
        const double c = std::cos(angle), sn = std::sin(angle);
        const double corners[4][2] = {{0, v_low}, {w, v_low}, {w, v_high}, {0, v_high}};
        for (int i = 0; i < 4; ++i) {
            const double u = corners[i][0], v = corners[i][1];
            const int32_t X = trunc_to_int(b.a + u * c - v * sn);
            const int32_t Y = trunc_to_int(b.b + u * sn + v * c);
            if (!found) {
                found = true;
                text = Extent{X, X, Y, Y};
            }
            extend(text, X, Y);
        }
    }
    if (found) extent = text;
}

}  // namespace

uint64_t scan_extent(RecordReader& reader, Extent& extent, const PassStart& on_pass) {
    scan_text_boxes(reader, extent, on_pass);
    if (on_pass) on_pass(RunPass::extent_segments);
    reader.rewind();
    // Each draw_to adds the previous point and its own. When the previous point is that
    // of an earlier draw_to it is in already, so only a point a move_to set (or the (0, 0)
    // start) is added again: the same extent, with half the work on a polyline.
    Extent e = extent;  // kept in registers, not behind the reference
    int32_t cx = 0, cy = 0;
    bool counted = false;  // whether (cx, cy) has been added
    uint64_t records = 0;
    Record r;
    while (reader.read_record(r)) {
        ++records;
        if (r.code == code::draw_to) {
            if (!counted) extend(e, cx, cy);
            cx = r.a;
            cy = r.b;
            extend(e, cx, cy);
            counted = true;
        } else if (r.code == code::move_to) {
            cx = r.a;
            cy = r.b;
            counted = false;
        }
    }
    extent = e;
    return records;
}

Rect metafile_frame(int64_t width, int64_t height, int32_t margin, const ReferenceDisplay& d) {
    const double hs = hundredths_mm_per_unit_x(d);
    const double vs = hundredths_mm_per_unit_y(d);
    return Rect{0, 0, trunc_to_int(static_cast<double>(width + margin) * hs),
                trunc_to_int(static_cast<double>(height + margin) * vs)};
}

Rect picture_frame(const Extent& e, int32_t margin, const ReferenceDisplay& display) {
    const int64_t width = static_cast<int64_t>(e.xmax) - e.xmin + 2 * static_cast<int64_t>(margin);
    const int64_t height = static_cast<int64_t>(e.ymax) - e.ymin + 2 * static_cast<int64_t>(margin);
    return metafile_frame(width, height, margin, display);
}

}  // namespace plotmint
