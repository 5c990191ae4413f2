#include "text/ps_fonts.h"

#include <mutex>

#include "base/format.h"
#include "metafile/surface.h"
#include "text/font_width_tables.h"

namespace plotmint {

namespace {

detail::FontWidthTables g_widths;
std::once_flag g_widths_built;

// Built on first use: a static initialiser of the generated tables would run in every
// program, also those that never draw Hershey text.
const detail::FontWidthTables& widths() {
    std::call_once(g_widths_built, [] {
        for (int code = 32; code <= 127; ++code) g_widths.courier[code] = 6.00;
        detail::fill_font_width_tables(g_widths);
    });
    return g_widths;
}

// Helvetica's height factor has always been a single-precision constant.
constexpr float kHelveticaHeightFactor = 1.75f;

struct Table {
    std::array<PsFont, 5> rows;
};

const Table& table() {
    static const Table t = [] {
        const detail::FontWidthTables& w = widths();
        return Table{{{
            {"Helvetica", "Arial", kAnsiCharset, static_cast<double>(kHelveticaHeightFactor), 0.81, 6.41, w.helvetica, 127},
            {"Courier", "Courier New", kAnsiCharset, 1.93, 0.74, 5.88, w.courier, 127},
            {"Times-Roman", "Times New Roman", kAnsiCharset, 1.68, 0.81, 6.57, w.times_roman, 127},
            {"NewCenturySchlbk-Roman", "Century", kAnsiCharset, 1.79, 0.82, 6.73, w.new_century_schlbk, 127},
            {"Symbol", "Symbol", kSymbolCharset, 1.86, 0.82, 6.57, w.symbol, 254},
        }}};
    }();
    return t;
}

// The stems a name is matched against, in the order they are tried.
struct Stem {
    std::string_view stem;
    PsFontId id;
};
constexpr Stem kStems[] = {
    {"Helvetica", PsFontId::helvetica},       {"Symbol", PsFontId::symbol},
    {"Century", PsFontId::new_century_schoolbook}, {"Times", PsFontId::times_roman},
    {"Courier", PsFontId::courier},
};

}  // namespace

const PsFont& ps_font(PsFontId id) { return table().rows[static_cast<size_t>(id)]; }

std::span<const PsFont> ps_fonts() { return table().rows; }

const PsFont& nameconv(int32_t font_no, LogSink& log) {
    switch (font_no) {
        case 1: return ps_font(PsFontId::helvetica);
        case 5: return ps_font(PsFontId::courier);
        case 9: return ps_font(PsFontId::times_roman);
        case 13: return ps_font(PsFontId::new_century_schoolbook);
        case 17: return ps_font(PsFontId::symbol);
        default:
            log.log_line(strformat("Font no is not correct in nameconv. Use default font. font_no = %d\n", font_no));
            return ps_font(PsFontId::helvetica);
    }
}

const PsFont* find_ps_font(std::string_view name) {
    for (const PsFont& f : ps_fonts())
        if (f.name == name) return &f;
    return nullptr;
}

FontSelection plain(const PsFont& font) { return FontSelection{&font, 400, font.char_set}; }

std::optional<FontSelection> select_ps_font(std::string_view name) {
    for (const Stem& s : kStems) {
        if (name.find(s.stem) == std::string_view::npos) continue;
        const PsFont& f = ps_font(s.id);
        return FontSelection{&f, name.find("Bold") != std::string_view::npos ? 700 : 400,
                             name == "Symbol" ? kSymbolCharset : kAnsiCharset};
    }
    return std::nullopt;
}

}  // namespace plotmint
