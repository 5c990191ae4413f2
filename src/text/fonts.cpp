#include "text/fonts.h"

#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>

#include "base/format.h"

namespace plotmint {

namespace {

struct FaceRow {
    std::string_view key;  // substring of the PostScript name
    const char* face;      // the Windows face drawn in its place
    double height_factor;  // nominal size -> cell height
    double ascent_factor;  // part of the cell height above the baseline
};

// The first row whose key occurs in the name wins, so the order matters.
// Helvetica's height factor has always been a single-precision constant.
constexpr float kHelveticaHeightFactor = 1.75f;
constexpr FaceRow kFaces[] = {
    {"Helvetica", "Arial", static_cast<double>(kHelveticaHeightFactor), 0.81},
    {"Symbol", "Symbol", 1.86, 0.82},
    {"Century", "Century", 1.79, 0.82},
    {"Times", "Times New Roman", 1.68, 0.81},
    {"Courier", "Courier New", 1.93, 0.74},
};

const FaceRow* find_face(std::string_view fontname) {
    for (const FaceRow& row : kFaces)
        if (fontname.find(row.key) != std::string_view::npos) return &row;
    return nullptr;
}

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

std::string nameconv(int32_t font_no, LogSink& log) {
    switch (font_no) {
        case 1: return "Helvetica";
        case 5: return "Courier";
        case 9: return "Times-Roman";
        case 13: return "NewCenturySchlbok-Roman";  // matched through "Century" only
        case 17: return "Symbol";
        default:
            log.log_line(strformat("Font no is not correct in nameconv. Use default font. font_no = %d\n", font_no));
            return "Helvetica";
    }
}

void ps_text_out(RenderContext& ctx, double x, double y, double size, double angle,
                 std::string_view fontname, std::string_view text) {
    if (text.empty()) return;

    // Half a degree up, then toward zero: -1.0 still counts as horizontal.
    const double a_degrees = std::trunc(angle + 0.5f);

    const FaceRow* row = find_face(fontname);
    if (row == nullptr) {
        // The message has always had a bare "%d" with nothing to show; the name is what
        // the reader needs, so it takes the placeholder's place.
        ctx.log.log_line("fontname " + std::string(fontname) + " is not supported.");
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
    font.weight = fontname.find("Bold") != std::string_view::npos ? 700 : 400;
    font.char_set = fontname == "Symbol" ? kSymbolCharset : kAnsiCharset;
    font.face_name = row->face;

    const ObjectId id = ctx.surface.create_font(font);
    ctx.surface.delete_object(ctx.surface.select_object(id));

    // The surface places text by the top left of its cell; the caller gives the start of
    // the baseline, which lies h * ascent below that corner in the direction of "up".
    const double ascent = h * row->ascent_factor;
    double px, py;
    if (*a == 0) {
        px = x - ctx.xmin + ctx.margin;
        py = ctx.ymax - y + ctx.margin - ascent;
    } else if (*a == 90) {
        px = x - ctx.xmin + ctx.margin - ascent;
        py = ctx.ymax - y + ctx.margin;
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

void set_hershey_font(RenderContext& ctx, std::string_view name) {
    ctx.hershey_font.assign(name);
}

}  // namespace plotmint
