#pragma once
// Plays a checked EMF's records onto a Canvas in logical units. The window's QPainter
// canvas, the exports and the tests are all Canvas implementations, so everything a
// person sees comes from the same records other programs receive.
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string_view>

#include "metafile/emf_reader.h"
#include "metafile/surface.h"

namespace plotmint {

class Canvas {
public:
    virtual ~Canvas() = default;
    virtual void set_pen(PenStyle style, int32_t width, uint32_t color) = 0;
    virtual void set_brush(bool null_brush, uint32_t color) = 0;
    virtual void set_font(const LogFont& font) = 0;
    virtual void set_text_color(uint32_t color) = 0;
    virtual void set_bk_mode(int32_t mode) = 0;
    virtual void line(Point from, Point to) = 0;
    virtual void polygon(std::span<const Point> points) = 0;
    // Reference point at the top left of the (unrotated) cell; dx holds one advance per
    // character in logical units; the font's escapement gives the direction.
    virtual void text(Point reference, std::u16string_view text, std::span<const int32_t> dx) = 0;
};

// Returns false (with a reason) when a record cannot be played; records before it are drawn.
bool play_emf(const EmfPicture& picture, Canvas& canvas, std::string* error = nullptr);

// Plays the EMF file at `path` as it streams through a fixed window, checking each record as
// read_emf_file would before it is played, so memory does not grow with the picture. Returns
// the picture's header (no bytes), or nullopt with a reason; records before a fault have
// been played, so a caller writes its output whole or not at all. `on_header`, when set, is
// called with the header's fields before anything reaches the canvas.
std::optional<EmfPicture> play_emf_file(const std::string& path, Canvas& canvas, std::string& error,
                                        const std::function<void(const EmfPicture&)>& on_header = {});

}  // namespace plotmint
