#pragma once
// What GDI records for a TextOutA call: the UTF-16 characters the bytes stand for and one
// advance per character. Shared by the EMF writer and anything that must predict how wide
// a run of text will be drawn.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "metafile/face_advances.h"
#include "metafile/surface.h"

namespace plotmint {

// One byte as the character GDI records for it: code page 1252 for ANSI fonts (the five
// bytes 1252 leaves undefined stay U+0081 etc.), U+F000 + byte for SYMBOL_CHARSET fonts
// (bytes below 0x20 stay U+00xx).
char16_t byte_to_utf16(unsigned char byte, uint8_t char_set);
std::u16string bytes_to_utf16(std::string_view bytes, uint8_t char_set);

// The inverse for code page 1252: the byte that stands for `c`, or '?' when none does.
// Used for face names read back from a file.
unsigned char utf16_to_cp1252(char16_t c);

// The advance table for a face name (case-insensitive) and weight; an unknown face falls
// back to Arial, as font mapping on a system without the face would pick a sans face.
const FaceAdvances& face_advances_for(std::string_view face_name, int32_t weight);

// Advances in logical units, one per byte, for `bytes` drawn in `font`:
// round(advance × lfHeight / cell) for a positive height (the height is the cell),
// round(advance × −lfHeight / em) for a negative one (the height is the em). A height of 0
// stands for the default font size, taken as a 16-unit cell.
std::vector<int32_t> text_advances(const LogFont& font, std::string_view bytes);

// The cell height used for text bounds: lfHeight itself when positive; the em scaled to the
// cell when negative; 16 for 0. GDI's own tmHeight can differ from this by one.
int32_t text_cell_height(const LogFont& font);

// The font GDI's stock SYSTEM_FONT stands for, as far as text metrics are concerned.
LogFont stock_system_font();

}  // namespace plotmint
