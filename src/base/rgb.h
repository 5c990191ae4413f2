#pragma once
#include <cstdint>

namespace plotmint {

// A colour triple as the tables hold it; components are normally 0..255, and a red of
// -1 (white) or -2 (last explicit colour) is a marker in the palettes.
struct Rgb {
    int32_t r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

// Drawing colours take the low 8 bits of each component.
constexpr uint32_t pack_color(const Rgb& c) {
    return (static_cast<uint32_t>(c.r) & 0xFFu) | ((static_cast<uint32_t>(c.g) & 0xFFu) << 8) |
           ((static_cast<uint32_t>(c.b) & 0xFFu) << 16);
}

}  // namespace plotmint
