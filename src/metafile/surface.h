#pragma once
// The drawing calls the renderer makes, shaped like the GDI calls they stand for. The EMF
// writer records them; the recording surface lists them for tests.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "base/geometry.h"

namespace plotmint {

enum class PenStyle : uint32_t { solid = 0, dot = 2, null = 5 };

// The LOGFONT fields the renderer sets; every other field is zero.
struct LogFont {
    int32_t height = 0;
    int32_t width = 0;
    int32_t escapement = 0;
    int32_t orientation = 0;
    int32_t weight = 0;
    uint8_t italic = 0, underline = 0, strike_out = 0;
    uint8_t char_set = 0;  // 0 ANSI, 2 symbol
    uint8_t out_precision = 0, clip_precision = 0, quality = 0, pitch_and_family = 0;
    std::string face_name;
    friend bool operator==(const LogFont&, const LogFont&) = default;
};

constexpr uint8_t kAnsiCharset = 0;
constexpr uint8_t kSymbolCharset = 2;
constexpr int32_t kTransparent = 1;

// Object handles. Stock objects carry the high bit, as in an EMF's object table.
using ObjectId = uint32_t;
constexpr ObjectId kStockFlag = 0x80000000u;
constexpr ObjectId kStockWhiteBrush = kStockFlag | 0u;
constexpr ObjectId kStockBlackPen = kStockFlag | 7u;
constexpr ObjectId kStockNullPen = kStockFlag | 8u;
constexpr ObjectId kStockSystemFont = kStockFlag | 13u;
constexpr bool is_stock(ObjectId id) { return (id & kStockFlag) != 0; }

class Surface {
public:
    virtual ~Surface() = default;
    // A null pen is the stock NULL_PEN: nothing is created for it.
    virtual ObjectId create_pen(PenStyle style, int32_t width, uint32_t color) = 0;
    virtual ObjectId create_solid_brush(uint32_t color) = 0;
    virtual ObjectId create_font(const LogFont& font) = 0;
    // Returns the object of the same kind that was selected before.
    virtual ObjectId select_object(ObjectId id) = 0;
    virtual void delete_object(ObjectId id) = 0;
    virtual void move_to(int32_t x, int32_t y) = 0;
    virtual void line_to(int32_t x, int32_t y) = 0;
    virtual void polygon(std::span<const Point> points) = 0;
    virtual void set_text_color(uint32_t color) = 0;
    virtual void set_bk_mode(int32_t mode) = 0;
    // Single-byte text in the selected font's character set, reference point at the
    // top left of the cell.
    virtual void text_out(int32_t x, int32_t y, std::string_view bytes) = 0;
};

}  // namespace plotmint
