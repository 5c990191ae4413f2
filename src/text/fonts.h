#pragma once
// Text drawn with the Windows face that stands in for a PostScript font.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "text/ps_fonts.h"
#include "text/render_context.h"

namespace plotmint {

// Draws `text` (single bytes) with its baseline starting at graph point (x, y).
void ps_text_out(RenderContext& ctx, double x, double y, double size, double angle,
                 const FontSelection& font, std::string_view text);
// The same for a PostScript name, selected by select_ps_font; a name that selects no font
// logs and draws nothing.
void ps_text_out(RenderContext& ctx, double x, double y, double size, double angle,
                 std::string_view fontname, std::string_view text);

// Advance of one character as a multiple of the nominal size (Adobe widths / divisor).
// Out-of-range codes log and give 0; so does a null font.
double font_width(const PsFont* font, int32_t code, LogSink& log);
// By exact PostScript name (find_ps_font).
double font_width(std::string_view fontname, int32_t code, LogSink& log);

void set_hershey_font(RenderContext& ctx, const PsFont& font);

// Lays out one Hershey block's character numbers as runs of font text.
void hershey_text(RenderContext& ctx, int32_t x, int32_t y, int32_t size, int32_t angle10,
                  std::span<const int32_t> codes);

}  // namespace plotmint
