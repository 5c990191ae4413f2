#include "app/export/qt_canvas.h"

#include <QFontMetricsF>
#include <QPainterPath>
#include <QPolygonF>
#include <algorithm>
#include <cmath>
#include <vector>

#include "app/export/symbol_font.h"
#include "metafile/font_geometry.h"
#include "metafile/text_metrics.h"

namespace plotmint {

namespace {

// Qt sizes fonts in whole pixels; text is drawn this many times larger under a transform
// reduced by the same factor, so a 35.8-unit em does not become 36.
constexpr double kTextScale = 16.0;

// Symbol text is drawn as the Unicode characters its bytes stand for, in the shapes of
// Standard Symbols PS (through its Unicode-mapped copy, see symbol_font.h); where that is not
// installed, the stand-ins follow, and Qt's own fallback supplies any sign none of them has.
const QStringList& symbol_unicode_families() {
    static const QStringList families = [] {
        QStringList out;
        const QString twin = unicode_symbol_family();
        if (!twin.isEmpty()) out << twin;
        for (const char* f : symbol_stand_in_families()) out << QString::fromLatin1(f);
        return out;
    }();
    return families;
}

double device_scale(const QPainter& painter) {
    const QTransform t = painter.combinedTransform();
    return std::sqrt(std::abs(t.determinant()));
}

// FreeType cannot render a glyph squeezed to less than a pixel one way while it is wide the
// other, and Qt's glyph cache then copies from the bitmap that was never made. Such text
// (from a picture whose frame and reference display disagree wildly) is filled as outlines,
// which the general rasteriser draws at any scale.
bool glyphs_squeezed(const QTransform& t, double pixel_size) {
    // The two scales of the linear part are its singular values.
    const double a = t.m11(), b = t.m12(), c = t.m21(), d = t.m22();
    const double sum = a * a + b * b + c * c + d * d;
    const double det = std::abs(a * d - b * c);
    const double root = std::sqrt(std::max(0.0, sum * sum / 4 - det * det));
    const double major = std::sqrt(sum / 2 + root);
    const double minor = std::sqrt(std::max(0.0, sum / 2 - root));
    return !(pixel_size * minor >= 2.0) || major > 8.0 * minor;
}

}  // namespace

QColor color_from_ref(uint32_t c) {
    return QColor(static_cast<int>(c & 0xFFu), static_cast<int>((c >> 8) & 0xFFu),
                  static_cast<int>((c >> 16) & 0xFFu));
}

QFont qfont_for(const LogFont& font, double scale) {
    QFont f;
    const QString face = QString::fromLatin1(font.face_name.data(), static_cast<qsizetype>(font.face_name.size()));
    if (is_symbol_face(font.face_name)) {
        f.setFamilies(symbol_unicode_families());
    } else {
        QStringList families{face};
        for (const char* twin : twin_families(font.face_name)) families << QString::fromLatin1(twin);
        f.setFamilies(families);
    }
    f.setPixelSize(std::max(1, static_cast<int>(std::lround(em_height(font) * scale))));
    const int weight = font.weight <= 0 ? 400 : std::clamp(font.weight, 1, 1000);
    f.setWeight(static_cast<QFont::Weight>(weight));
    f.setItalic(font.italic != 0);
    f.setUnderline(font.underline != 0);
    f.setStrikeOut(font.strike_out != 0);
    f.setKerning(false);
    f.setHintingPreference(QFont::PreferNoHinting);
    f.setStyleStrategy(QFont::PreferOutline);
    return f;
}

QTransform frame_transform(const Rect& frame, const QRectF& target) {
    const double fw = static_cast<double>(frame.right) - frame.left;
    const double fh = static_cast<double>(frame.bottom) - frame.top;
    const double sx = fw != 0 ? target.width() / fw : 1.0;
    const double sy = fh != 0 ? target.height() / fh : 1.0;
    QTransform t;
    t.translate(target.left(), target.top());
    t.scale(sx, sy);
    t.translate(-static_cast<double>(frame.left), -static_cast<double>(frame.top));
    return t;
}

QtCanvas::QtCanvas(QPainter& painter) : painter_(painter), pen_(Qt::black), brush_(Qt::white) {
    pen_.setCosmetic(true);
    pen_.setWidthF(1.0);
    font_ = stock_system_font();
}

void QtCanvas::set_pen(PenStyle style, int32_t width, uint32_t color) {
    if (style == PenStyle::null) {
        pen_ = QPen(Qt::NoPen);
        return;
    }
    QPen pen(color_from_ref(color));
    pen.setCapStyle(Qt::RoundCap);
    pen.setJoinStyle(Qt::RoundJoin);
    const double w = std::abs(static_cast<double>(width));
    // GDI never draws a pen thinner than one device pixel; a width of 0 is always one pixel.
    const bool hairline = w == 0 || w * device_scale(painter_) < 1.0;
    if (hairline) {
        pen.setCosmetic(true);
        pen.setWidthF(1.0);
    } else {
        // Qt refuses widths from 32768 on (warning once per pen, drawing one pixel wide); the
        // widest it takes is nearer to what was asked.
        pen.setWidthF(std::min(w, 32767.0));
    }
    if (style == PenStyle::dot) {
        if (hairline) {
            pen.setCapStyle(Qt::FlatCap);
            pen.setDashPattern({1.0, 1.0});
        } else {
            // Round dots one pen width across, one pen width apart (lengths are in pen widths;
            // the round caps add half a width to each end of the short dash).
            pen.setDashPattern({0.001, 1.999});
        }
    }
    pen_ = pen;
}

void QtCanvas::set_brush(bool null_brush, uint32_t color) {
    brush_ = null_brush ? QBrush(Qt::NoBrush) : QBrush(color_from_ref(color));
}

void QtCanvas::set_font(const LogFont& font) { font_ = font; }

void QtCanvas::set_text_color(uint32_t color) { text_color_ = color_from_ref(color); }

void QtCanvas::set_bk_mode(int32_t mode) { bk_mode_ = mode; }

void QtCanvas::line(Point from, Point to) {
    if (pen_.style() == Qt::NoPen) return;
    painter_.setPen(pen_);
    painter_.drawLine(QPointF(from.x, from.y), QPointF(to.x, to.y));
}

void QtCanvas::polygon(std::span<const Point> points) {
    if (points.size() < 2) return;
    QPolygonF poly;
    poly.reserve(static_cast<qsizetype>(points.size()));
    for (const Point& p : points) poly << QPointF(p.x, p.y);
    painter_.setPen(pen_);
    painter_.setBrush(brush_);
    painter_.drawPolygon(poly, Qt::OddEvenFill);
}

void QtCanvas::text(Point reference, std::u16string_view text, std::span<const int32_t> dx) {
    if (text.empty()) return;
    const QFont font = qfont_for(font_, kTextScale);
    const QFontMetricsF metrics(font);
    painter_.save();
    painter_.translate(reference.x, reference.y);
    // Escapement is in tenths of a degree, counter-clockwise; y grows downward here. Negated
    // as a double: the file may hold the one int whose negation has no int value.
    if (font_.escapement != 0) painter_.rotate(-static_cast<double>(font_.escapement) / 10.0);
    painter_.scale(1.0 / kTextScale, 1.0 / kTextScale);
    painter_.setFont(font);
    const bool outlines = glyphs_squeezed(painter_.combinedTransform(), font.pixelSize());
    // The reference point is the top of the Windows face's cell and the baseline lies its
    // ascent below, whatever the vertical metrics of the font Qt draws with: Standard Symbols
    // PS's ascent is nearly a quarter of an em short of Symbol's, which lifted its text off
    // the line.
    const double baseline = baseline_offset(font_) * kTextScale;
    const double cell = cell_height(font_) * kTextScale;
    std::vector<double> xs(text.size() + 1, 0.0);
    for (size_t i = 0; i < text.size(); ++i) {
        const double advance = i < dx.size() ? dx[i] * kTextScale
                                              : metrics.horizontalAdvance(QChar(drawn_character(font_, text[i])));
        xs[i + 1] = xs[i] + advance;
    }
    // The whole run's background first, as GDI fills it, so no cell covers a neighbour's
    // overhang.
    if (bk_mode_ != kTransparent) painter_.fillRect(QRectF(0, 0, xs.back(), cell), Qt::white);
    for (size_t i = 0; i < text.size(); ++i) {
        const char16_t code = drawn_character(font_, text[i]);
        const QString ch = QString(QChar(code));
        const double x = xs[i];
        // A byte the Symbol face has no character for is left blank, not shown as a Latin letter.
        if (code != 0) {
            if (outlines) {
                QPainterPath path;
                path.addText(QPointF(x, baseline), font, ch);
                painter_.fillPath(path, text_color_);
            } else {
                painter_.setPen(text_color_);
                painter_.drawText(QPointF(x, baseline), ch);
            }
        }
    }
    painter_.restore();
}

bool paint_picture(QPainter& painter, const EmfPicture& picture, const QRectF& target, std::string* error) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    painter.setTransform(frame_transform(picture.logical_frame(), target), true);
    QtCanvas canvas(painter);
    const bool ok = play_emf(picture, canvas, error);
    painter.restore();
    return ok;
}

}  // namespace plotmint
