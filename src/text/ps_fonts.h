#pragma once
// The PostScript fonts a graph file can name, one row each, with everything drawing text in
// them needs. Text blocks reach a row through their font number, Hershey text through the
// font it is re-set in; nothing else looks fonts up by name.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "base/log_sink.h"

namespace plotmint {

struct PsFont {
    std::string_view name;   // PostScript name
    std::string_view face;   // Windows face drawn in its place
    uint8_t char_set;        // kAnsiCharset, or kSymbolCharset for the Symbol font
    double height_factor;    // nominal size -> cell height (lfHeight)
    double ascent_factor;    // part of the cell height above the baseline
    double width_divisor;    // ties the Adobe widths to the Windows face
    // Adobe width / 100 per character code; the codes font_width accepts are 32..127, or
    // 32..254 for the Symbol font.
    const std::array<double, 256>& widths;
    int32_t last_code;
};

enum class PsFontId { helvetica, courier, times_roman, new_century_schoolbook, symbol };

const PsFont& ps_font(PsFontId id);
std::span<const PsFont> ps_fonts();

// Font number to font; an unknown number logs and gives Helvetica.
const PsFont& nameconv(int32_t font_no, LogSink& log);

// The row with exactly this PostScript name, or null.
const PsFont* find_ps_font(std::string_view name);

// A font as a PostScript name from outside the table selects it: the first row whose name
// stem (Helvetica, Symbol, Century, Times, Courier, in that order) occurs in the name, the
// weight by "Bold" and the symbol character set only for exactly "Symbol". The font numbers
// only ever give the five plain rows.
struct FontSelection {
    const PsFont* font = nullptr;
    int32_t weight = 400;
    uint8_t char_set = 0;
};
FontSelection plain(const PsFont& font);
std::optional<FontSelection> select_ps_font(std::string_view name);

}  // namespace plotmint
