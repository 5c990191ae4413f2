#include <mutex>

#include "base/format.h"
#include "text/font_width_tables.h"
#include "text/fonts.h"

namespace plotmint {

namespace {

// Each divisor ties the Adobe widths of a font to the Windows face drawn in its place.
constexpr double kCourierDivisor = 5.88;
constexpr double kHelveticaDivisor = 6.41;
constexpr double kTimesRomanDivisor = 6.57;
constexpr double kSymbolDivisor = 6.57;
constexpr double kNewCenturySchlbkDivisor = 6.73;

detail::FontWidthTables g_tables;
std::once_flag g_built;

// Built on the first request, so a run without Hershey text never pays for it.
const detail::FontWidthTables& tables() {
    std::call_once(g_built, [] {
        for (int code = 32; code <= 127; ++code) g_tables.courier[code] = 6.00;
        detail::fill_font_width_tables(g_tables);
    });
    return g_tables;
}

}  // namespace

double font_width(std::string_view fontname, int32_t code, LogSink& log) {
    const detail::FontWidthTables& t = tables();

    // A rejected code or name gives 0: the pen then stays where the character began.
    if (fontname == "Symbol") {
        if (code < 32 || code > 254) {
            log.log_line("code is not correct in font_width. Stop.\n");
            log.log_line(strformat("code = %d\n", code));
            return 0.0;
        }
    } else if (code < 32 || code > 127) {
        log.log_line("code is not correct. Stop.\n");
        log.log_line(strformat("code = %d\n", code));
        return 0.0;
    }

    if (fontname == "Courier") return t.courier[code] / kCourierDivisor;
    if (fontname == "Helvetica") return t.helvetica[code] / kHelveticaDivisor;
    if (fontname == "Times-Roman") return t.times_roman[code] / kTimesRomanDivisor;
    if (fontname == "Symbol") return t.symbol[code] / kSymbolDivisor;
    if (fontname == "NewCenturySchlbk-Roman") return t.new_century_schlbk[code] / kNewCenturySchlbkDivisor;
    log.log_line("fontname is not correct. exit.\n");
    return 0.0;
}

}  // namespace plotmint
