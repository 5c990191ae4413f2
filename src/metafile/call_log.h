#pragma once
// Drawing calls as a compact list of 32-bit words, and their replay onto another Surface.
// The draw run renders onto a CallEncoder on one thread while the EMF writer replays the
// words on another; the floor benchmark records a render once and times only its replay.
// Either way the writer receives exactly the calls the renderer made, in the same order,
// so the same bytes come out.
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "metafile/surface.h"

namespace plotmint {

class CallEncoder final : public Surface {
public:
    // `flush` is handed the words encoded so far whenever about `chunk_words` have gathered
    // (and at flush()); it may take them by swapping, and the encoder goes on in whatever
    // vector it leaves behind, writing over what that holds.
    using Flush = std::function<void(std::vector<uint32_t>& words)>;
    CallEncoder(size_t chunk_words, Flush flush);

    ObjectId create_pen(PenStyle style, int32_t width, uint32_t color) override;
    ObjectId create_solid_brush(uint32_t color) override;
    ObjectId create_font(const LogFont& font) override;
    ObjectId select_object(ObjectId id) override;
    void delete_object(ObjectId id) override;
    void move_to(int32_t x, int32_t y) override;
    void line_to(int32_t x, int32_t y) override;
    void polygon(std::span<const Point> points) override;
    void set_text_color(uint32_t color) override;
    void set_bk_mode(int32_t mode) override;
    void text_out(int32_t x, int32_t y, std::string_view bytes) override;

    // Hands over what is pending, if anything.
    void flush();

private:
    enum class Kind : uint8_t { pen, brush, font, none };
    // `n` words at the end of what is pending, to be filled in. The vector is kept at its
    // full size and only the count moves: a line is a few stores, not a vector insert.
    uint32_t* room(size_t n) {
        if (used_ + n > words_.size()) [[unlikely]]
            grow(used_ + n);
        uint32_t* at = words_.data() + used_;
        used_ += n;
        return at;
    }
    void grow(size_t words);  // out of line: the common call stays a few stores
    void op(std::initializer_list<uint32_t> w) {
        uint32_t* at = room(w.size());
        for (const uint32_t v : w) *at++ = v;
    }
    // Lines and moves are most of a drawing: three stores, no list in between.
    void op3(uint32_t a, uint32_t b, uint32_t c) {
        uint32_t* at = room(3);
        at[0] = a;
        at[1] = b;
        at[2] = c;
    }
    void bytes(std::string_view s);
    void maybe_flush();
    ObjectId add(Kind k);
    Kind kind(ObjectId id) const;

    size_t chunk_words_;
    Flush flush_;
    std::vector<uint32_t> words_;
    size_t used_ = 0;  // words of words_ pending
    // The ids handed out are slots that are used again once their object is deleted, so the
    // table stays as small as the set of live objects however long the drawing runs. The
    // replay maps each slot to the id the real surface gave at its latest creation.
    std::vector<Kind> slots_;  // slot - 1 -> kind, Kind::none when free
    std::vector<ObjectId> free_;
    ObjectId selected_[3] = {kStockBlackPen, kStockWhiteBrush, kStockSystemFont};
};

// Replays words from a CallEncoder onto `surface`, chunk after chunk in the order they were
// handed over.
class CallReplayer {
public:
    explicit CallReplayer(Surface& surface) : surface_(surface) {}
    // false when the words are damaged (a chunk never splits a call).
    bool replay(const uint32_t* words, size_t count);

private:
    ObjectId map(uint32_t id) const;

    Surface& surface_;
    std::vector<ObjectId> ids_{0};  // slot -> id on surface_
    std::string text_;
    std::vector<Point> points_;
};

}  // namespace plotmint
