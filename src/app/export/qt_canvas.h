#pragma once
// Plays a picture on a QPainter the way a metafile viewer shows it: logical units stretched
// into a target rectangle, round caps and joins, alternate fill, text placed by its Dx.
#include <QColor>
#include <QFont>
#include <QPainter>
#include <QRectF>
#include <string>

#include "metafile/emf_player.h"
#include "metafile/font_geometry.h"

namespace plotmint {

class QtCanvas final : public Canvas {
public:
    explicit QtCanvas(QPainter& painter);

    void set_pen(PenStyle style, int32_t width, uint32_t color) override;
    void set_brush(bool null_brush, uint32_t color) override;
    void set_font(const LogFont& font) override;
    void set_text_color(uint32_t color) override;
    void set_bk_mode(int32_t mode) override;
    void line(Point from, Point to) override;
    void polygon(std::span<const Point> points) override;
    void text(Point reference, std::u16string_view text, std::span<const int32_t> dx) override;

    const QPen& pen() const { return pen_; }
    const QBrush& brush() const { return brush_; }

private:
    QPainter& painter_;
    QPen pen_;
    QBrush brush_;
    LogFont font_;
    QColor text_color_{Qt::black};
    int32_t bk_mode_ = 2;  // OPAQUE, as a fresh device context starts
};

QColor color_from_ref(uint32_t colorref);

// The Qt font a LOGFONT stands for, at `scale` times its size in logical units (Qt takes whole
// pixel sizes, so the caller draws at a larger size under a reduced transform). The Symbol
// face stands for Unicode faces with Greek and mathematical signs, as its text is drawn in
// Unicode (see drawn_character).
QFont qfont_for(const LogFont& font, double scale);

// The transform that stretches `frame` (logical units) over `target` (painter units).
QTransform frame_transform(const Rect& frame, const QRectF& target);

// Draws `picture` with its logical frame, margin included, stretched over `target`.
// Returns false with a reason when a record could not be played (records before it are drawn).
bool paint_picture(QPainter& painter, const EmfPicture& picture, const QRectF& target,
                   std::string* error = nullptr);

}  // namespace plotmint
