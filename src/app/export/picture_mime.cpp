#include "app/export/picture_mime.h"

#include <QBuffer>
#include <QPainter>
#include <QSvgGenerator>
#include <algorithm>
#include <cmath>

#include "app/export/qt_canvas.h"
#include "app/export/picture_export.h"
#include "app/export/symbol_font.h"

namespace plotmint {

namespace {

QSizeF frame_size(const EmfPicture& picture) {
    const Rect f = picture.logical_frame();
    return QSizeF(std::max(1.0, static_cast<double>(f.right) - f.left),
                  std::max(1.0, static_cast<double>(f.bottom) - f.top));
}

}  // namespace

QSize raster_size(const EmfPicture& picture, int max_side) {
    const QSizeF s = frame_size(picture);
    const double scale = std::min(1.0, max_side / std::max(s.width(), s.height()));
    return QSize(std::max(1, static_cast<int>(std::lround(s.width() * scale))),
                 std::max(1, static_cast<int>(std::lround(s.height() * scale))));
}

QByteArray render_svg(const EmfPicture& picture) {
    const QSizeF s = frame_size(picture);
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    QSvgGenerator svg;
    svg.setOutputDevice(&buffer);
    // One SVG user unit per logical unit; the physical size follows the metafile's frame.
    svg.setSize(QSize(static_cast<int>(std::ceil(s.width())), static_cast<int>(std::ceil(s.height()))));
    svg.setViewBox(QRectF(QPointF(0, 0), s));
    const double mm_w = (static_cast<double>(picture.frame.right) - picture.frame.left) / 100.0;
    if (mm_w > 0) svg.setResolution(std::max(1, static_cast<int>(std::lround(s.width() * 25.4 / mm_w))));
    svg.setTitle(QStringLiteral("graph"));
    QPainter painter;
    if (!painter.begin(&svg)) return {};
    paint_picture(painter, picture, QRectF(QPointF(0, 0), s));
    painter.end();
    // Symbol text is drawn in a face registered only with this program; a reader of the SVG
    // has no such face, and a serif one draws its Greek nearest to it.
    const QString symbol = unicode_symbol_family();
    if (!symbol.isEmpty()) {
        const QByteArray named = "font-family=\"" + symbol.toUtf8() + "\"";
        out.replace(named, "font-family=\"" + symbol.toUtf8() + ", serif\"");
    }
    return out;
}

QImage render_image(const EmfPicture& picture, int max_side) {
    const QSize size = raster_size(picture, max_side);
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    // White rather than transparent: many image programs paste transparency as black.
    image.fill(Qt::white);
    QPainter painter(&image);
    paint_picture(painter, picture, QRectF(QPointF(0, 0), QSizeF(size)));
    painter.end();
    return image;
}

QByteArray render_png(const EmfPicture& picture, int max_side) {
    QByteArray out;
    QBuffer buffer(&out);
    buffer.open(QIODevice::WriteOnly);
    render_image(picture, max_side).save(&buffer, "PNG");
    return out;
}

std::unique_ptr<QMimeData> picture_mime_data(const EmfPicture& picture) {
    auto mime = std::make_unique<QMimeData>();
    const QByteArray emf(picture.bytes.data(), static_cast<qsizetype>(picture.bytes.size()));
    mime->setData(QString::fromLatin1(kEmfMime), emf);
    mime->setData(QString::fromLatin1(kOfficeEmfMime), emf);
    // Whole text runs, so the pasted picture keeps words searchable and editable.
    mime->setData(QString::fromLatin1(kSvgMime), join_text_runs(render_svg(picture)));
    mime->setData(QString::fromLatin1(kPngMime), render_png(picture));
    return mime;
}

}  // namespace plotmint
