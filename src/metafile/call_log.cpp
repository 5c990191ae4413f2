#include "metafile/call_log.h"

#include <cstring>

namespace plotmint {

namespace {

enum class Op : uint32_t { pen = 1, brush, font, select, del, move, line, polygon, text_color, bk_mode, text };

}  // namespace

namespace {

// Room past a chunk's size for the call that fills it, so that most calls never grow the
// vector (a polygon of 300 points is about 600 words).
constexpr size_t kSlackWords = 1024;

}  // namespace

CallEncoder::CallEncoder(size_t chunk_words, Flush flush) : chunk_words_(chunk_words), flush_(std::move(flush)) {
    words_.resize(chunk_words_ + kSlackWords);
}

[[gnu::noinline]] void CallEncoder::grow(size_t words) { words_.resize(words); }

void CallEncoder::bytes(std::string_view s) {
    const size_t n = (s.size() + 3) / 4;
    uint32_t* at = room(1 + n);
    at[0] = static_cast<uint32_t>(s.size());
    if (n != 0) {
        at[n] = 0;  // the padding of the last word
        std::memcpy(at + 1, s.data(), s.size());
    }
}

// A call is never split between two chunks: the check comes after each whole call.
void CallEncoder::maybe_flush() {
    if (used_ >= chunk_words_) flush();
}

[[gnu::noinline]] void CallEncoder::flush() {
    if (used_ == 0) return;
    words_.resize(used_);
    flush_(words_);
    // Whatever vector came back is written over from its start: only words it lacks are
    // made (and zeroed), not the whole chunk again.
    if (words_.size() < chunk_words_ + kSlackWords) words_.resize(chunk_words_ + kSlackWords);
    used_ = 0;
}

ObjectId CallEncoder::add(Kind k) {
    ObjectId id;
    if (!free_.empty()) {
        id = free_.back();
        free_.pop_back();
        slots_[id - 1] = k;
    } else {
        slots_.push_back(k);
        id = static_cast<ObjectId>(slots_.size());
    }
    return id;
}

CallEncoder::Kind CallEncoder::kind(ObjectId id) const {
    if (is_stock(id)) {
        const uint32_t i = id & ~kStockFlag;
        if (i <= 5) return Kind::brush;
        if (i <= 8) return Kind::pen;
        if (i >= 10 && i <= 17 && i != 15) return Kind::font;
        return Kind::none;
    }
    if (id == 0 || id > slots_.size()) return Kind::none;
    return slots_[id - 1];
}

ObjectId CallEncoder::create_pen(PenStyle style, int32_t width, uint32_t color) {
    // A null pen is the stock one on every surface: the call is passed on, with no slot.
    if (style == PenStyle::null) {
        op({uint32_t(Op::pen), 0, uint32_t(style), uint32_t(width), color});
        maybe_flush();
        return kStockNullPen;
    }
    const ObjectId id = add(Kind::pen);
    op({uint32_t(Op::pen), id, uint32_t(style), uint32_t(width), color});
    maybe_flush();
    return id;
}

ObjectId CallEncoder::create_solid_brush(uint32_t color) {
    const ObjectId id = add(Kind::brush);
    op({uint32_t(Op::brush), id, color});
    maybe_flush();
    return id;
}

ObjectId CallEncoder::create_font(const LogFont& f) {
    const ObjectId id = add(Kind::font);
    op({uint32_t(Op::font), id, uint32_t(f.height), uint32_t(f.width), uint32_t(f.escapement), uint32_t(f.orientation),
        uint32_t(f.weight), uint32_t(f.italic | f.underline << 8 | f.strike_out << 16 | f.char_set << 24),
        uint32_t(f.out_precision | f.clip_precision << 8 | f.quality << 16 | f.pitch_and_family << 24)});
    bytes(f.face_name);
    maybe_flush();
    return id;
}

ObjectId CallEncoder::select_object(ObjectId id) {
    op({uint32_t(Op::select), id});
    maybe_flush();
    const Kind k = kind(id);
    if (k == Kind::none) return 0;
    const ObjectId old = selected_[int(k)];
    selected_[int(k)] = id;
    return old;
}

void CallEncoder::delete_object(ObjectId id) {
    op({uint32_t(Op::del), id});
    maybe_flush();
    // A selected object stays in its slot: the id is still what the next selection returns.
    if (kind(id) == Kind::none || is_stock(id)) return;
    for (const ObjectId s : selected_)
        if (s == id) return;
    slots_[id - 1] = Kind::none;
    free_.push_back(id);
}

void CallEncoder::move_to(int32_t x, int32_t y) {
    op3(uint32_t(Op::move), uint32_t(x), uint32_t(y));
    maybe_flush();
}

void CallEncoder::line_to(int32_t x, int32_t y) {
    op3(uint32_t(Op::line), uint32_t(x), uint32_t(y));
    maybe_flush();
}

void CallEncoder::polygon(std::span<const Point> points) {
    uint32_t* at = room(2 + points.size() * 2);
    at[0] = uint32_t(Op::polygon);
    at[1] = uint32_t(points.size());
    if (!points.empty()) std::memcpy(at + 2, points.data(), points.size() * sizeof(Point));
    maybe_flush();
}

void CallEncoder::set_text_color(uint32_t color) {
    op({uint32_t(Op::text_color), color});
    maybe_flush();
}

void CallEncoder::set_bk_mode(int32_t mode) {
    op({uint32_t(Op::bk_mode), uint32_t(mode)});
    maybe_flush();
}

void CallEncoder::text_out(int32_t x, int32_t y, std::string_view text) {
    op({uint32_t(Op::text), uint32_t(x), uint32_t(y)});
    bytes(text);
    maybe_flush();
}

ObjectId CallReplayer::map(uint32_t id) const {
    if (is_stock(id)) return id;
    return id < ids_.size() ? ids_[id] : 0;
}

bool CallReplayer::replay(const uint32_t* w, size_t count) {
    size_t i = 0;
    auto need = [&](size_t n) { return n <= count - i; };
    auto str = [&](std::string& s) {
        if (!need(1)) return false;
        const uint32_t n = w[i++];
        const size_t nw = (size_t{n} + 3) / 4;
        if (!need(nw)) return false;
        s.assign(reinterpret_cast<const char*>(w + i), n);
        i += nw;
        return true;
    };
    // Each creation names the slot the encoder gave it: a new one or a freed one.
    uint32_t slot = 0;
    // Slots are handed out densely, so a new one is at most one past the table.
    auto good_slot = [&](uint32_t s) { return s != 0 && s <= ids_.size(); };
    auto bind = [&](ObjectId id) {
        if (slot >= ids_.size()) ids_.resize(size_t{slot} + 1, 0);
        ids_[slot] = id;
    };
    while (i < count) {
        const Op op = Op(w[i++]);
        switch (op) {
        case Op::pen:
            if (!need(4)) return false;
            slot = w[i];
            if (PenStyle(w[i + 1]) == PenStyle::null ? slot != 0 : !good_slot(slot)) return false;
            if (slot == 0)
                surface_.create_pen(PenStyle::null, int32_t(w[i + 2]), w[i + 3]);
            else
                bind(surface_.create_pen(PenStyle(w[i + 1]), int32_t(w[i + 2]), w[i + 3]));
            i += 4;
            break;
        case Op::brush:
            if (!need(2) || !good_slot(slot = w[i])) return false;
            bind(surface_.create_solid_brush(w[i + 1]));
            i += 2;
            break;
        case Op::font: {
            if (!need(8) || !good_slot(slot = w[i++])) return false;
            LogFont f;
            f.height = int32_t(w[i]);
            f.width = int32_t(w[i + 1]);
            f.escapement = int32_t(w[i + 2]);
            f.orientation = int32_t(w[i + 3]);
            f.weight = int32_t(w[i + 4]);
            f.italic = uint8_t(w[i + 5]);
            f.underline = uint8_t(w[i + 5] >> 8);
            f.strike_out = uint8_t(w[i + 5] >> 16);
            f.char_set = uint8_t(w[i + 5] >> 24);
            f.out_precision = uint8_t(w[i + 6]);
            f.clip_precision = uint8_t(w[i + 6] >> 8);
            f.quality = uint8_t(w[i + 6] >> 16);
            f.pitch_and_family = uint8_t(w[i + 6] >> 24);
            i += 7;
            if (!str(f.face_name)) return false;
            bind(surface_.create_font(f));
            break;
        }
        case Op::select:
            if (!need(1)) return false;
            surface_.select_object(map(w[i++]));
            break;
        case Op::del:
            if (!need(1)) return false;
            surface_.delete_object(map(w[i++]));
            break;
        case Op::move:
            if (!need(2)) return false;
            surface_.move_to(int32_t(w[i]), int32_t(w[i + 1]));
            i += 2;
            break;
        case Op::line:
            if (!need(2)) return false;
            surface_.line_to(int32_t(w[i]), int32_t(w[i + 1]));
            i += 2;
            break;
        case Op::polygon: {
            if (!need(1)) return false;
            const uint32_t n = w[i++];
            if (!need(size_t{n} * 2)) return false;
            points_.resize(n);
            if (n != 0) std::memcpy(static_cast<void*>(points_.data()), w + i, size_t{n} * sizeof(Point));
            i += size_t{n} * 2;
            surface_.polygon(points_);
            break;
        }
        case Op::text_color:
            if (!need(1)) return false;
            surface_.set_text_color(w[i++]);
            break;
        case Op::bk_mode:
            if (!need(1)) return false;
            surface_.set_bk_mode(int32_t(w[i++]));
            break;
        case Op::text: {
            if (!need(2)) return false;
            const int32_t x = int32_t(w[i]), y = int32_t(w[i + 1]);
            i += 2;
            if (!str(text_)) return false;
            surface_.text_out(x, y, text_);
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

}  // namespace plotmint
