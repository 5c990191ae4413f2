#pragma once
// A Canvas that lists every call as one line, so player tests read like the picture.
#include <string>
#include <vector>

#include "base/format.h"
#include "metafile/emf_player.h"
#include "metafile/recording_surface.h"

namespace plotmint::test {

class RecordingCanvas final : public Canvas {
public:
    void set_pen(PenStyle style, int32_t width, uint32_t color) override {
        const char* s = style == PenStyle::solid ? "solid" : style == PenStyle::dot ? "dot" : "null";
        calls.push_back(strformat("pen %s %d %s", s, width, color_hex(color).c_str()));
    }
    void set_brush(bool null_brush, uint32_t color) override {
        calls.push_back(null_brush ? std::string("brush null") : "brush " + color_hex(color));
    }
    void set_font(const LogFont& f) override {
        calls.push_back(strformat("font \"%s\" h=%d esc=%d weight=%d charset=%d", f.face_name.c_str(), f.height,
                                  f.escapement, f.weight, f.char_set));
    }
    void set_text_color(uint32_t color) override { calls.push_back("text_color " + color_hex(color)); }
    void set_bk_mode(int32_t mode) override { calls.push_back(strformat("bk_mode %d", mode)); }
    void line(Point from, Point to) override {
        calls.push_back(strformat("line %d,%d %d,%d", from.x, from.y, to.x, to.y));
    }
    void polygon(std::span<const Point> points) override {
        std::string s = "polygon";
        for (const Point& p : points) s += strformat(" %d,%d", p.x, p.y);
        calls.push_back(s);
    }
    void text(Point reference, std::u16string_view text, std::span<const int32_t> dx) override {
        std::string s = strformat("text %d,%d \"", reference.x, reference.y);
        for (char16_t c : text) s += c >= 0x20 && c < 0x7F ? std::string(1, static_cast<char>(c)) : strformat("\\u%04x", c);
        s += "\" dx";
        for (int32_t d : dx) s += strformat(" %d", d);
        calls.push_back(s);
    }

    std::vector<std::string> calls;
};

}  // namespace plotmint::test
