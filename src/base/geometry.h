#pragma once
// Value types shared by every layer: points and rectangles in logical units, and the
// reference display whose pixels those units are.
#include <cstdint>

namespace plotmint {

struct Point {
    int32_t x = 0, y = 0;
    friend bool operator==(const Point&, const Point&) = default;
};

struct Rect {
    int32_t left = 0, top = 0, right = 0, bottom = 0;
    friend bool operator==(const Rect&, const Rect&) = default;
};

// The display whose metrics define a picture's units (one logical unit = one pixel).
struct ReferenceDisplay {
    int32_t horz_mm = 0;  // HORZSIZE
    int32_t vert_mm = 0;  // VERTSIZE
    int32_t horz_px = 0;  // HORZRES
    int32_t vert_px = 0;  // VERTRES
    bool has_size() const { return horz_mm > 0 && vert_mm > 0 && horz_px > 0 && vert_px > 0; }
};

// A common 24-inch 1920x1080 display; used when no screen is known.
constexpr ReferenceDisplay kDefaultDisplay{527, 296, 1920, 1080};

// Hundredths of a millimetre (the unit of an EMF's frame) per logical unit, across and down.
inline double hundredths_mm_per_unit_x(const ReferenceDisplay& d) {
    return static_cast<double>(d.horz_mm) * 100.0 / static_cast<double>(d.horz_px);
}
inline double hundredths_mm_per_unit_y(const ReferenceDisplay& d) {
    return static_cast<double>(d.vert_mm) * 100.0 / static_cast<double>(d.vert_px);
}

}  // namespace plotmint
