#include "text/fonts.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "base/format.h"

namespace plotmint {

namespace {

// `v` is already truncated; anything outside int32 (or NaN) has no metafile value.
std::optional<int32_t> to_int32(double v) {
    if (!(v >= static_cast<double>(std::numeric_limits<int32_t>::min()) &&
          v <= static_cast<double>(std::numeric_limits<int32_t>::max())))
        return std::nullopt;
    return static_cast<int32_t>(v);
}

// For messages only: the nearest int32 (NaN shows as the most negative value).
int32_t saturate(double v) {
    if (std::isnan(v) || v <= static_cast<double>(std::numeric_limits<int32_t>::min()))
        return std::numeric_limits<int32_t>::min();
    if (v >= static_cast<double>(std::numeric_limits<int32_t>::max()))
        return std::numeric_limits<int32_t>::max();
    return static_cast<int32_t>(v);
}

}  // namespace

void ps_text_out(RenderContext& ctx, double x, double y, double size, double angle,
                 std::string_view fontname, std::string_view text) {
    if (text.empty()) return;
    const std::optional<FontSelection> font = select_ps_font(fontname);
    if (!font) {
        // The message has always had a bare "%d" with nothing to show; the name is what
        // the reader needs, so it takes the placeholder's place.
        ctx.log.log_line("fontname " + std::string(fontname) + " is not supported.");
        return;
    }
    ps_text_out(ctx, x, y, size, angle, *font, text);
}

void ps_text_out(RenderContext& ctx, double x, double y, double size, double angle,
                 const FontSelection& selection, std::string_view text) {
    if (text.empty()) return;

    // Half a degree up, then toward zero: -1.0 still counts as horizontal.
    const double a_degrees = std::trunc(angle + 0.5f);
    const PsFont* row = selection.font;
    if (row == nullptr) {
        ctx.log.log_line("fontname  is not supported.");
        return;
    }

    const std::optional<int32_t> height = to_int32(std::trunc(size * row->height_factor));
    if (!height) {
        ctx.log.log_line(strformat("font height is out of range. size = %g", size));
        return;
    }
    // Escapement is tenths of a degree; an angle whose escapement has no int32 value
    // cannot even be described to the font, so it is refused before any font is made.
    const std::optional<int32_t> a = to_int32(a_degrees);
    if (!a || *a > std::numeric_limits<int32_t>::max() / 10 ||
        *a < std::numeric_limits<int32_t>::min() / 10) {
        ctx.log.log_line(strformat("This angle %d is not supported.", saturate(a_degrees)));
        return;
    }
    const int32_t h = *height;

    LogFont font;
    font.height = h;
    font.width = 0;
    font.escapement = 10 * *a;
    font.orientation = 10 * *a;
    font.weight = selection.weight;
    font.char_set = selection.char_set;
    font.face_name = row->face;

    const ObjectId id = ctx.surface.create_font(font);
    ctx.surface.delete_object(ctx.surface.select_object(id));

    // The surface places text by the top left of its cell; the caller gives the start of
    // the baseline, which lies h * ascent below that corner in the direction of "up".
    const double ascent = h * row->ascent_factor;
    const PictureMapping map = ctx.mapping();
    double px, py;
    if (*a == 0) {
        px = map.x(x);
        py = map.y(y) - ascent;
    } else if (*a == 90) {
        px = map.x(x) - ascent;
        py = map.y(y);
    } else {
        ctx.log.log_line(strformat("This angle %d is not supported.", *a));
        return;
    }
    const std::optional<int32_t> tx = to_int32(std::trunc(px));
    const std::optional<int32_t> ty = to_int32(std::trunc(py));
    if (!tx || !ty) {
        ctx.log.log_line(strformat("text position is out of range. x = %g, y = %g", x, y));
        return;
    }
    ctx.surface.text_out(*tx, *ty, text);
}

void set_hershey_font(RenderContext& ctx, const PsFont& font) { ctx.hershey_font = &font; }

}  // namespace plotmint
