#pragma once
// A Surface that writes every drawing call to a compact binary log, and a replay of that
// log onto another Surface. The floor benchmark records a render once, untimed, and then
// times only the replay: the same calls reach the EMF writer, so the same bytes come out.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "metafile/surface.h"

namespace plotmint::bench {

enum class Op : uint32_t { pen = 1, brush, font, select, del, move, line, polygon, text_color, bk_mode, text };

class CallLogSurface final : public Surface {
public:
    explicit CallLogSurface(std::FILE* out) : out_(out) {}

    ObjectId create_pen(PenStyle style, int32_t width, uint32_t color) override {
        if (style == PenStyle::null) return kStockNullPen;
        words({uint32_t(Op::pen), uint32_t(style), uint32_t(width), color});
        return add(Kind::pen);
    }
    ObjectId create_solid_brush(uint32_t color) override {
        words({uint32_t(Op::brush), color});
        return add(Kind::brush);
    }
    ObjectId create_font(const LogFont& f) override {
        words({uint32_t(Op::font), uint32_t(f.height), uint32_t(f.width), uint32_t(f.escapement),
               uint32_t(f.orientation), uint32_t(f.weight),
               uint32_t(f.italic | f.underline << 8 | f.strike_out << 16 | f.char_set << 24),
               uint32_t(f.out_precision | f.clip_precision << 8 | f.quality << 16 | f.pitch_and_family << 24)});
        bytes(f.face_name);
        return add(Kind::font);
    }
    ObjectId select_object(ObjectId id) override {
        words({uint32_t(Op::select), id});
        const Kind k = kind(id);
        if (k == Kind::none) return 0;
        const ObjectId old = selected_[int(k)];
        selected_[int(k)] = id;
        return old;
    }
    void delete_object(ObjectId id) override { words({uint32_t(Op::del), id}); }
    void move_to(int32_t x, int32_t y) override { words({uint32_t(Op::move), uint32_t(x), uint32_t(y)}); }
    void line_to(int32_t x, int32_t y) override { words({uint32_t(Op::line), uint32_t(x), uint32_t(y)}); }
    void polygon(std::span<const Point> points) override {
        words({uint32_t(Op::polygon), uint32_t(points.size())});
        std::fwrite(points.data(), sizeof(Point), points.size(), out_);
    }
    void set_text_color(uint32_t color) override { words({uint32_t(Op::text_color), color}); }
    void set_bk_mode(int32_t mode) override { words({uint32_t(Op::bk_mode), uint32_t(mode)}); }
    void text_out(int32_t x, int32_t y, std::string_view text) override {
        words({uint32_t(Op::text), uint32_t(x), uint32_t(y)});
        bytes(text);
    }

private:
    enum class Kind { pen, brush, font, none };
    void words(std::initializer_list<uint32_t> w) { std::fwrite(w.begin(), 4, w.size(), out_); }
    void bytes(std::string_view s) {
        const uint32_t n = uint32_t(s.size());
        std::fwrite(&n, 4, 1, out_);
        std::fwrite(s.data(), 1, s.size(), out_);
        static const char pad[4] = {};
        std::fwrite(pad, 1, (4 - n % 4) % 4, out_);
    }
    ObjectId add(Kind k) {
        kinds_.push_back(k);
        return ObjectId(kinds_.size());
    }
    Kind kind(ObjectId id) const {
        if (is_stock(id)) {
            const uint32_t i = id & ~kStockFlag;
            if (i <= 5) return Kind::brush;
            if (i <= 8) return Kind::pen;
            if (i >= 10 && i <= 17 && i != 15) return Kind::font;
            return Kind::none;
        }
        if (id == 0 || id > kinds_.size()) return Kind::none;
        return kinds_[id - 1];
    }

    std::FILE* out_;
    std::vector<Kind> kinds_;
    ObjectId selected_[3] = {kStockBlackPen, kStockWhiteBrush, kStockSystemFont};
};

// Replays a call log onto `surface`; false when the log is damaged.
inline bool replay_calls(const uint32_t* w, size_t count, Surface& surface) {
    std::vector<ObjectId> ids(1, 0);  // recorded id -> replayed id
    auto map = [&](uint32_t id) -> ObjectId { return is_stock(id) ? id : id < ids.size() ? ids[id] : 0; };
    size_t i = 0;
    auto need = [&](size_t n) { return i + n <= count; };
    auto str = [&](std::string& s) {
        if (!need(1)) return false;
        const uint32_t n = w[i++];
        const size_t nw = (n + 3) / 4;
        if (!need(nw)) return false;
        s.assign(reinterpret_cast<const char*>(w + i), n);
        i += nw;
        return true;
    };
    std::string s;
    std::vector<Point> pts;
    while (i < count) {
        const Op op = Op(w[i++]);
        switch (op) {
        case Op::pen:
            if (!need(3)) return false;
            ids.push_back(surface.create_pen(PenStyle(w[i]), int32_t(w[i + 1]), w[i + 2]));
            i += 3;
            break;
        case Op::brush:
            if (!need(1)) return false;
            ids.push_back(surface.create_solid_brush(w[i++]));
            break;
        case Op::font: {
            if (!need(7)) return false;
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
            ids.push_back(surface.create_font(f));
            break;
        }
        case Op::select:
            if (!need(1)) return false;
            surface.select_object(map(w[i++]));
            break;
        case Op::del:
            if (!need(1)) return false;
            surface.delete_object(map(w[i++]));
            break;
        case Op::move:
            if (!need(2)) return false;
            surface.move_to(int32_t(w[i]), int32_t(w[i + 1]));
            i += 2;
            break;
        case Op::line:
            if (!need(2)) return false;
            surface.line_to(int32_t(w[i]), int32_t(w[i + 1]));
            i += 2;
            break;
        case Op::polygon: {
            if (!need(1)) return false;
            const uint32_t n = w[i++];
            if (!need(size_t(n) * 2)) return false;
            pts.resize(n);
            std::memcpy(static_cast<void*>(pts.data()), w + i, size_t(n) * sizeof(Point));
            i += size_t(n) * 2;
            surface.polygon(pts);
            break;
        }
        case Op::text_color:
            if (!need(1)) return false;
            surface.set_text_color(w[i++]);
            break;
        case Op::bk_mode:
            if (!need(1)) return false;
            surface.set_bk_mode(int32_t(w[i++]));
            break;
        case Op::text: {
            if (!need(2)) return false;
            const int32_t x = int32_t(w[i]), y = int32_t(w[i + 1]);
            i += 2;
            if (!str(s)) return false;
            surface.text_out(x, y, s);
            break;
        }
        default:
            return false;
        }
    }
    return true;
}

}  // namespace plotmint::bench
