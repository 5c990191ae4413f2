#pragma once
// PostScript font numbers and names, and text drawn with the Windows face that stands in
// for a PostScript font.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "text/render_context.h"

namespace plotmint {

// Font number to PostScript name; an unknown number logs and gives "Helvetica".
std::string nameconv(int32_t font_no, LogSink& log);

// Draws `text` (single bytes) with its baseline starting at graph point (x, y).
void ps_text_out(RenderContext& ctx, double x, double y, double size, double angle,
                 std::string_view fontname, std::string_view text);

// Advance of one character as a multiple of the nominal size (Adobe widths / divisor).
// Out-of-range codes and unknown names log and give 0.
double font_width(std::string_view fontname, int32_t code, LogSink& log);

void set_hershey_font(RenderContext& ctx, std::string_view name);

// Lays out one Hershey block's character numbers as runs of font text.
void hershey_text(RenderContext& ctx, int32_t x, int32_t y, int32_t size, int32_t angle10,
                  std::span<const int32_t> codes);

}  // namespace plotmint
