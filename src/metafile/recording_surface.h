#pragma once
// Lists every drawing call as one readable line, e.g. "create_pen solid 12 #ff0000 -> 1",
// "select 1 -> stock:7", "line_to 128 528". Rendering tests compare these listings.
#include <array>
#include <string>
#include <vector>

#include "metafile/surface.h"

namespace plotmint {

class RecordingSurface final : public Surface {
public:
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

    std::vector<std::string> calls;
    // The whole listing, one call a line.
    std::string listing() const;

private:
    enum Kind { pen, brush, font, kinds };
    struct Object {
        Kind kind;
        bool live;
    };
    static std::string name(ObjectId id);
    Kind kind_of(ObjectId id) const;
    std::vector<Object> objects_;  // index + 1 is the id
    std::array<ObjectId, kinds> selected_{kStockBlackPen, kStockWhiteBrush, kStockSystemFont};
};

std::string color_hex(uint32_t color);

}  // namespace plotmint
