#pragma once
// Advance widths of the Windows faces text is drawn in, measured from their metric twins
// by tools/gen_face_advances.py. The table itself lives in the generated face_advances.cpp.
#include <array>
#include <cstdint>
#include <span>

namespace plotmint {

struct FaceAdvances {
    const char* face;        // Windows face name
    bool bold;               // measured from the bold face
    const char* measured_from;
    uint16_t units_per_em;
    // usWinAscent + usWinDescent in font units: the cell that a positive lfHeight sizes.
    double cell_units;
    // usWinAscent in font units: where the baseline lies below the top of that cell.
    double ascent_units;
    uint16_t missing_advance;  // the missing glyph's advance, for codes the face lacks
    std::array<uint16_t, 224> advances;  // codes 32..255
};

std::span<const FaceAdvances> face_advance_tables();

}  // namespace plotmint
