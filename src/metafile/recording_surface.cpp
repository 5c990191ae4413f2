#include "metafile/recording_surface.h"

#include <stdexcept>

#include "base/format.h"

namespace plotmint {

std::string color_hex(uint32_t color) {
    return strformat("#%02x%02x%02x", color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

std::string RecordingSurface::name(ObjectId id) {
    if (is_stock(id)) return strformat("stock:%u", id & ~kStockFlag);
    return std::to_string(id);
}

RecordingSurface::Kind RecordingSurface::kind_of(ObjectId id) const {
    if (id == kStockBlackPen || id == kStockNullPen) return pen;
    if (id == kStockWhiteBrush) return brush;
    if (id == kStockSystemFont) return font;
    if (is_stock(id) || id == 0 || id > objects_.size()) throw std::logic_error("unknown object " + name(id));
    return objects_[id - 1].kind;
}

ObjectId RecordingSurface::create_pen(PenStyle style, int32_t width, uint32_t color) {
    const char* s = style == PenStyle::solid ? "solid" : style == PenStyle::dot ? "dot" : "null";
    if (style == PenStyle::null) {
        calls.push_back(strformat("create_pen null %d %s -> stock:8", width, color_hex(color).c_str()));
        return kStockNullPen;
    }
    objects_.push_back({pen, true});
    const ObjectId id = static_cast<ObjectId>(objects_.size());
    calls.push_back(strformat("create_pen %s %d %s -> %u", s, width, color_hex(color).c_str(), id));
    return id;
}

ObjectId RecordingSurface::create_solid_brush(uint32_t color) {
    objects_.push_back({brush, true});
    const ObjectId id = static_cast<ObjectId>(objects_.size());
    calls.push_back(strformat("create_brush %s -> %u", color_hex(color).c_str(), id));
    return id;
}

ObjectId RecordingSurface::create_font(const LogFont& f) {
    objects_.push_back({font, true});
    const ObjectId id = static_cast<ObjectId>(objects_.size());
    calls.push_back(strformat("create_font \"%s\" h=%d w=%d esc=%d ori=%d weight=%d charset=%d -> %u",
                              f.face_name.c_str(), f.height, f.width, f.escapement, f.orientation,
                              f.weight, f.char_set, id));
    return id;
}

ObjectId RecordingSurface::select_object(ObjectId id) {
    const Kind k = kind_of(id);
    if (!is_stock(id) && !objects_[id - 1].live) throw std::logic_error("select of deleted object " + name(id));
    const ObjectId old = selected_[k];
    selected_[k] = id;
    calls.push_back("select " + name(id) + " -> " + name(old));
    return old;
}

void RecordingSurface::delete_object(ObjectId id) {
    if (!is_stock(id)) {
        kind_of(id);
        if (!objects_[id - 1].live) throw std::logic_error("double delete of " + name(id));
        objects_[id - 1].live = false;
    }
    calls.push_back("delete " + name(id));
}

void RecordingSurface::move_to(int32_t x, int32_t y) { calls.push_back(strformat("move_to %d %d", x, y)); }

void RecordingSurface::line_to(int32_t x, int32_t y) { calls.push_back(strformat("line_to %d %d", x, y)); }

void RecordingSurface::polygon(std::span<const Point> points) {
    std::string s = "polygon";
    for (const Point& p : points) s += strformat(" %d,%d", p.x, p.y);
    calls.push_back(s);
}

void RecordingSurface::set_text_color(uint32_t color) { calls.push_back("text_color " + color_hex(color)); }

void RecordingSurface::set_bk_mode(int32_t mode) { calls.push_back(strformat("bk_mode %d", mode)); }

void RecordingSurface::text_out(int32_t x, int32_t y, std::string_view bytes) {
    std::string s = strformat("text_out %d %d \"", x, y);
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\')
            s += static_cast<char>(c);
        else
            s += strformat("\\x%02x", c);
    }
    calls.push_back(s + "\"");
}

std::string RecordingSurface::listing() const {
    std::string out;
    for (const auto& c : calls) out += c + "\n";
    return out;
}

}  // namespace plotmint
