#include "app/export/picture_export.h"

#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QSaveFile>
#include <QFile>
#include <QtGlobal>
#include <vector>
#include <algorithm>
#include <cmath>
#include <cstdio>

#include "app/export/qt_canvas.h"
#include "metafile/svg_writer.h"

namespace plotmint {

namespace {

QString save_error(const QSaveFile& file) {
    const QString reason = file.errorString();
    return reason.isEmpty() ? QStringLiteral("cannot write the file") : reason;
}

// Writes through a temporary file beside `path`, so a failed export leaves what was there.
bool write_whole(const QString& path, const QByteArray& bytes, QString& error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = save_error(file);
        return false;
    }
    if (file.write(bytes) != bytes.size()) {
        error = save_error(file);
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = save_error(file);
        return false;
    }
    return true;
}

// The console is the message log; Qt's notes about fonts or platforms do not belong in it.
void quiet_message_handler(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

}  // namespace

std::optional<PixelSize> png_size(const EmfPicture& picture, int dpi) {
    if (dpi <= 0) return std::nullopt;
    const double w = std::max(1.0, std::round(picture_width_mm(picture) / 25.4 * dpi));
    const double h = std::max(1.0, std::round(picture_height_mm(picture) / 25.4 * dpi));
    if (w > 32767 || h > 32767 || w * h > static_cast<double>(kMaxPngPixels)) return std::nullopt;
    return PixelSize{static_cast<int>(w), static_cast<int>(h)};
}

bool export_emf(const EmfPicture& picture, const QString& path, QString& error) {
    return write_whole(path, QByteArray(picture.bytes.data(), static_cast<qsizetype>(picture.bytes.size())), error);
}

bool export_svg(const EmfPicture& picture, const QString& path, QString& error) {
    std::string why;
    if (write_svg_file(picture, QFile::encodeName(path).toStdString(), why)) return true;
    error = QString::fromLocal8Bit(why.c_str());
    return false;
}

bool export_pdf(const EmfPicture& picture, const QString& path, QString& error) {
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = save_error(file);
        return false;
    }
    {
        QPdfWriter pdf(&file);
        pdf.setCreator(QStringLiteral("Plotmint"));
        pdf.setTitle(QStringLiteral("graph"));
        // One page the size of the picture. Pages come in whole points, so the page is rounded
        // up and the picture drawn at its exact size from the top left corner, undistorted.
        // ExactMatch keeps a size near a paper size from being snapped to it.
        const double w_pt = picture_width_mm(picture) / 25.4 * 72.0;
        const double h_pt = picture_height_mm(picture) / 25.4 * 72.0;
        const QPageSize page(QSizeF(std::ceil(w_pt - 1e-6), std::ceil(h_pt - 1e-6)), QPageSize::Point, QString(),
                             QPageSize::ExactMatch);
        pdf.setPageLayout(QPageLayout(page, QPageLayout::Portrait, QMarginsF(0, 0, 0, 0), QPageLayout::Point));
        QPainter painter;
        if (!painter.begin(&pdf)) {
            error = QStringLiteral("cannot start the PDF document");
            file.cancelWriting();
            return false;
        }
        std::string play_error;
        const double dots_per_pt = pdf.resolution() / 72.0;
        const QRectF target(0, 0, w_pt * dots_per_pt, h_pt * dots_per_pt);
        const bool played = paint_picture(painter, picture, target, &play_error);
        painter.end();
        if (!played) {
            error = QStringLiteral("cannot play the picture: ") + QString::fromStdString(play_error);
            file.cancelWriting();
            return false;
        }
    }
    if (!file.commit()) {
        error = save_error(file);
        return false;
    }
    return true;
}

bool export_png(const EmfPicture& picture, const QString& path, int dpi, QString& error) {
    const auto size = png_size(picture, dpi);
    if (!size) {
        error = QStringLiteral("a picture of %1 x %2 mm at %3 dpi is too large for an image; choose a lower resolution")
                    .arg(std::lround(picture_width_mm(picture)))
                    .arg(std::lround(picture_height_mm(picture)))
                    .arg(dpi);
        return false;
    }
    QImage image(size->width, size->height, QImage::Format_RGB32);
    if (image.isNull()) {
        error = QStringLiteral("not enough memory for an image of %1 x %2 pixels").arg(size->width).arg(size->height);
        return false;
    }
    // White rather than transparent, as the picture looks on paper and in the preview.
    image.fill(Qt::white);
    const int dots_per_metre = static_cast<int>(std::lround(dpi / 0.0254));
    image.setDotsPerMeterX(dots_per_metre);
    image.setDotsPerMeterY(dots_per_metre);
    std::string play_error;
    {
        QPainter painter(&image);
        if (!paint_picture(painter, picture, QRectF(0, 0, size->width, size->height), &play_error)) {
            error = QStringLiteral("cannot play the picture: ") + QString::fromStdString(play_error);
            return false;
        }
    }
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly)) {
        error = save_error(file);
        return false;
    }
    QImageWriter writer(&file, "png");
    if (!writer.write(image)) {
        error = writer.errorString();
        file.cancelWriting();
        return false;
    }
    if (!file.commit()) {
        error = save_error(file);
        return false;
    }
    return true;
}

bool export_picture(const EmfPicture& picture, PictureFormat format, const QString& path, int dpi, QString& error) {
    switch (format) {
        case PictureFormat::svg: return export_svg(picture, path, error);
        case PictureFormat::pdf: return export_pdf(picture, path, error);
        case PictureFormat::png: return export_png(picture, path, dpi, error);
        case PictureFormat::emf: break;
    }
    return export_emf(picture, path, error);
}

std::unique_ptr<QGuiApplication> start_headless_application() {
    if (QCoreApplication::instance()) return nullptr;
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler(quiet_message_handler);
    // QGuiApplication keeps references to these for its whole life.
    static int argc = 1;
    static char name[] = "plotmint-convert";
    static char* argv[] = {name, nullptr};
    return std::make_unique<QGuiApplication>(argc, argv);
}

}  // namespace plotmint
