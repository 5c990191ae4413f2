#pragma once
// Where a text record's characters go and which faces draw them, as every player needs it:
// the Qt canvas and the SVG writer place text from the same numbers, so the preview and
// the exports agree.
#include <cstdint>
#include <span>
#include <string_view>

#include "metafile/surface.h"

namespace plotmint {

// The em of `font` in logical units: a positive height is the character cell, so it is scaled
// by the face's em to cell ratio; a negative one is the em itself.
double em_height(const LogFont& font);

// The height of `font`'s character cell in logical units, as GDI sizes it from lfHeight.
double cell_height(const LogFont& font);

// How far the baseline lies below a text record's reference point (the top of the cell), in
// logical units: the Windows face's ascent share of its cell, not the drawing font's.
double baseline_offset(const LogFont& font);

bool is_symbol_face(std::string_view face);

// The character a player draws for one recorded character of `font`: Symbol-face text as
// the Unicode character it stands for (0 where the face has none), other symbol-set faces'
// U+F0xx as the byte; everything else as recorded.
char16_t drawn_character(const LogFont& font, char16_t recorded);

// The freely available faces with the same metrics as the Windows face `face` (none for a
// face without one), to be listed after the Windows name so a system that has the real face
// uses it.
std::span<const char* const> twin_families(std::string_view face);

// Faces with Unicode Greek and mathematical signs that draw Symbol text, best first: Nimbus
// Roman, from the foundry of Symbol's free twin, draws the Greek in a like design, the Times
// faces follow. Windows' Symbol face is no candidate: it maps only the bytes, as its free
// twin does.
std::span<const char* const> symbol_stand_in_families();

}  // namespace plotmint
