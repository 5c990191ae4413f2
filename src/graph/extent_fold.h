#pragma once
// The extent scan as a fold over a run of records, so that the two halves of a file parsed
// side by side can each be scanned while they are parsed, and the scan after the parse
// becomes a join of the two. A fold starts as if the records before it had left the scan
// outside any text block; joining it after a fold that left the scan inside a block's text
// still works as long as the later fold's records before its first text_end start nothing.
#include <cstddef>
#include <cstdint>

#include "graph/renderer.h"
#include "records/record_reader.h"

namespace plotmint {

class ExtentFold final : public RecordFold {
public:
    void start() override { *this = ExtentFold{}; }
    void add(const Record* records, size_t count) override {
        for (size_t i = 0; i < count; ++i) add(records[i]);
    }
    void add(const Record& r) {
        ++records_;
        if (r.code == code::draw_to) {
            if (!counted_) {
                if (seen_segment_)
                    extend(cx_, cy_);
                else
                    leads_with_draw_ = true;  // its first point is the one before this fold
            }
            cx_ = r.a;
            cy_ = r.b;
            extend(cx_, cy_);
            counted_ = seen_segment_ = true;
        } else if (r.code == code::move_to) {
            cx_ = r.a;
            cy_ = r.b;
            counted_ = false;
            seen_segment_ = true;
        }
        if (header_left_ != 0 || r.code == code::text_begin || r.code == code::text_end ||
            r.code == code::end_of_plot) [[unlikely]]
            add_to_text(r);
    }

    // Appends `next`, the fold of the records right after this one's. False when the join
    // cannot be told from the two (the records met between a text_begin's two header
    // records, or a later block started before the text of this one's last had ended);
    // this fold is then left as it was.
    bool join(const ExtentFold& next);

    // What scan_extent gives for the whole file when this fold saw all of its records,
    // starting from `extent`; returns the records counted.
    uint64_t finish(Extent& extent) const;

private:
    enum class Text : uint8_t { outside, header, in_text, done };
    void extend(int32_t x, int32_t y) {
        if (x < segments_.xmin) segments_.xmin = x;
        if (x > segments_.xmax) segments_.xmax = x;
        if (y < segments_.ymin) segments_.ymin = y;
        if (y > segments_.ymax) segments_.ymax = y;
    }
    void add_to_text(const Record& r);
    void add_box(const Record& a, const Record& b, const Record& end);
    void add_boxes(const ExtentFold& other);

    uint64_t records_ = 0;
    // The segments: the points of the draw_to chain, and where the chain stands.
    Extent segments_{INT32_MAX, INT32_MIN, INT32_MAX, INT32_MIN};
    int32_t cx_ = 0, cy_ = 0;
    bool counted_ = false, seen_segment_ = false, leads_with_draw_ = false;
    // The text blocks: the union of their boxes and where the block reading stands.
    Extent boxes_;
    bool found_ = false;
    Text text_ = Text::outside;
    uint8_t header_left_ = 0;
    Record a_, b_;  // the header of the block being read
    // Until the first text_end: whether a text_begin or an end_of_plot came before it.
    bool seen_end_ = false, clean_before_end_ = true;
    Record first_end_;
};

// The two halves' folds of a file parsed in two; scan_extent joins them instead of reading
// the records again when the reader says they saw the whole file.
struct ExtentHalves {
    ExtentFold head, tail;
};

// scan_extent, taking the halves' folds when they saw every record of the file.
uint64_t scan_extent(RecordReader& reader, Extent& extent, const PassStart& on_pass, const ExtentHalves* halves);

}  // namespace plotmint
