#include "app/export/picture_mime.h"

#include <QBuffer>
#include <QPainter>
#include <algorithm>
#include <cmath>

#include "app/export/qt_canvas.h"
#include "metafile/svg_writer.h"

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
    MemorySink sink;
    std::string error;
    if (!write_svg(picture, sink, error)) return {};
    return QByteArray(sink.bytes.data(), static_cast<qsizetype>(sink.bytes.size()));
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
    mime->setData(QString::fromLatin1(kSvgMime), render_svg(picture));
    mime->setData(QString::fromLatin1(kPngMime), render_png(picture));
    return mime;
}

}  // namespace plotmint
