#include <algorithm>
#include <cmath>
#include <limits>

#include "graph/extent_fold.h"
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

// The box of one text block: its two header records give the size, the angle and the
// origin, its text_end the width.
void add_text_box(Extent& boxes, bool& found, const Record& a, const Record& b, const Record& end) {
    const double pi = std::acos(-1.0);
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
            boxes = Extent{X, X, Y, Y};
        }
        extend(boxes, X, Y);
    }
}

}  // namespace

uint64_t scan_extent(RecordReader& reader, Extent& extent, const PassStart& on_pass) {
    return scan_extent(reader, extent, on_pass, nullptr);
}

uint64_t scan_extent(RecordReader& reader, Extent& extent, const PassStart& on_pass, const ExtentHalves* halves) {
    if (on_pass) on_pass(RunPass::extent);
    reader.rewind();
    // The first record is read before anything else, since a first pass parsed in two
    // feeds the halves' folds as it parses; when they saw the whole file, their join is
    // the scan.
    enum class First : uint8_t { none, pending, ended } first_state = First::none;
    Record first;
    if (halves) {
        first_state = reader.read_record(first) ? First::pending : First::ended;
        if (reader.split_folded()) {
            ExtentFold whole = halves->head;
            if (whole.join(halves->tail) && reader.skip_to_end()) return whole.finish(extent);
        }
    }
    // The scan is not an ExtentFold over the whole file: held in locals its state stays in
    // registers, a third faster than a fold's members, which the records read may alias.
    // Each draw_to adds the previous point and its own. When the previous point is that
    // of an earlier draw_to it is in already, so only a point a move_to set (or the (0, 0)
    // start) is added again: the same extent, with half the work on a polyline.
    // The segments' points are gathered apart from the text boxes, whose use is known only
    // when their part of the file has ended; least and most of the two sets afterwards are
    // what adding the points to the boxes would have given.
    constexpr int32_t kLeast = std::numeric_limits<int32_t>::min(), kMost = std::numeric_limits<int32_t>::max();
    Extent e{kMost, kLeast, kMost, kLeast};
    int32_t cx = 0, cy = 0;
    bool counted = false;  // whether (cx, cy) has been added
    uint64_t records = 0;
    const auto segment = [&](const Record& r) {
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
    };
    const auto next = [&](Record& r) {
        if (first_state != First::none) [[unlikely]] {
            if (first_state == First::ended) return false;
            r = first;
            first_state = First::none;
        } else if (!reader.read_record(r)) {
            return false;
        }
        segment(r);
        return true;
    };

    // The text blocks before end_of_plot. The two records after a text_begin are its
    // header whatever their codes, and every record up to the next text_end is its text,
    // an end_of_plot too. A block cut off in its text adds nothing; one cut off in its
    // header voids the boxes before it as well.
    Extent boxes;
    bool found = false, in_text = false, header_cut = false;
    Record r, a, b;
    while (next(r)) {
        if (r.code != code::text_begin && r.code != code::text_end && r.code != code::end_of_plot) [[likely]]
            continue;
        if (in_text) {
            if (r.code != code::text_end) continue;
            add_text_box(boxes, found, a, b, r);
            in_text = false;
        } else if (r.code == code::text_begin) {
            if (!next(a) || !next(b)) {
                header_cut = true;
                break;
            }
            in_text = true;
        } else if (r.code == code::end_of_plot) {
            // The segments go on to the end of the file.
            while (next(r)) {
            }
            break;
        }
    }

    Extent base = extent;
    if (found && !header_cut) base = boxes;
    extent = Extent{std::min(base.xmin, e.xmin), std::max(base.xmax, e.xmax), std::min(base.ymin, e.ymin),
                    std::max(base.ymax, e.ymax)};
    return records;
}

void ExtentFold::add_box(const Record& a, const Record& b, const Record& end) { add_text_box(boxes_, found_, a, b, end); }

// Everything here follows the scan's loop above: the two records after a text_begin are
// its header whatever their codes, its text runs to the next text_end, and an end_of_plot
// outside a block ends the blocks for good.
void ExtentFold::add_to_text(const Record& r) {
    if (!seen_end_) {
        if (r.code == code::text_end) {
            seen_end_ = true;
            first_end_ = r;
        } else if (r.code == code::text_begin || r.code == code::end_of_plot) {
            clean_before_end_ = false;
        }
    }
    switch (text_) {
        case Text::done:
            return;
        case Text::header:
            (header_left_ == 2 ? a_ : b_) = r;
            if (--header_left_ == 0) text_ = Text::in_text;
            return;
        case Text::in_text:
            if (r.code == code::text_end) {
                add_box(a_, b_, r);
                text_ = Text::outside;
            }
            return;
        case Text::outside:
            if (r.code == code::text_begin) {
                text_ = Text::header;
                header_left_ = 2;
            } else if (r.code == code::end_of_plot) {
                text_ = Text::done;
            }
            return;
    }
}

void ExtentFold::add_boxes(const ExtentFold& other) {
    if (!other.found_) return;
    if (!found_) {
        boxes_ = other.boxes_;
        found_ = true;
        return;
    }
    boxes_ = Extent{std::min(boxes_.xmin, other.boxes_.xmin), std::max(boxes_.xmax, other.boxes_.xmax),
                    std::min(boxes_.ymin, other.boxes_.ymin), std::max(boxes_.ymax, other.boxes_.ymax)};
}

bool ExtentFold::join(const ExtentFold& next) {
    // `next` read its records as if it started outside any block.
    if (text_ == Text::header) return false;
    if (text_ == Text::in_text && !next.clean_before_end_) return false;

    // The segments: a chain that `next` starts with a draw_to begins at this fold's last
    // point, which counts unless a draw_to here counted it already.
    if (next.leads_with_draw_) {
        if (seen_segment_) {
            if (!counted_) extend(cx_, cy_);
        } else {
            leads_with_draw_ = true;
        }
    }
    segments_ = Extent{std::min(segments_.xmin, next.segments_.xmin), std::max(segments_.xmax, next.segments_.xmax),
                       std::min(segments_.ymin, next.segments_.ymin), std::max(segments_.ymax, next.segments_.ymax)};
    if (next.seen_segment_) {
        cx_ = next.cx_;
        cy_ = next.cy_;
        counted_ = next.counted_;
        seen_segment_ = true;
    }

    // The blocks.
    const bool was_in_text = text_ == Text::in_text;
    if (text_ == Text::outside || (was_in_text && next.seen_end_)) {
        if (was_in_text) add_box(a_, b_, next.first_end_);
        add_boxes(next);
        text_ = next.text_;
        header_left_ = next.header_left_;
        a_ = next.a_;
        b_ = next.b_;
    }
    // Otherwise this fold's block goes on through all of `next` (which then started
    // nothing), or the blocks had ended: `next` adds no box.

    if (!seen_end_) {
        clean_before_end_ = clean_before_end_ && next.clean_before_end_;
        seen_end_ = next.seen_end_;
        first_end_ = next.first_end_;
    }
    records_ += next.records_;
    return true;
}

uint64_t ExtentFold::finish(Extent& extent) const {
    Extent e = segments_;
    // The chain starts at (0, 0), not yet counted.
    if (leads_with_draw_) plotmint::extend(e, 0, 0);
    Extent base = extent;
    if (found_ && text_ != Text::header) base = boxes_;
    extent = Extent{std::min(base.xmin, e.xmin), std::max(base.xmax, e.xmax), std::min(base.ymin, e.ymin),
                    std::max(base.ymax, e.ymax)};
    return records_;
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
