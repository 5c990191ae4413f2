#include "base/format.h"
#include "text/fonts.h"

namespace plotmint {

double font_width(const PsFont* font, int32_t code, LogSink& log) {
    // A rejected code or font gives 0: the pen then stays where the character began.
    const bool symbol = font != nullptr && font->char_set == kSymbolCharset;
    if (symbol) {
        if (code < 32 || code > font->last_code) {
            log.log_line("code is not correct in font_width. Stop.\n");
            log.log_line(strformat("code = %d\n", code));
            return 0.0;
        }
    } else if (code < 32 || code > 127) {
        log.log_line("code is not correct. Stop.\n");
        log.log_line(strformat("code = %d\n", code));
        return 0.0;
    }
    if (font == nullptr) {
        log.log_line("fontname is not correct. exit.\n");
        return 0.0;
    }
    return font->widths[static_cast<size_t>(code)] / font->width_divisor;
}

double font_width(std::string_view fontname, int32_t code, LogSink& log) {
    return font_width(find_ps_font(fontname), code, log);
}

}  // namespace plotmint
