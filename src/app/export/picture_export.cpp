#include "app/export/picture_export.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QtGlobal>
#include <png.h>
#include <vector>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "base/platform.h"
#include "metafile/picture_size.h"
#include "app/export/qt_canvas.h"
#include "metafile/svg_writer.h"

namespace plotmint {

namespace {

// An export's file, made the way graph.emf and saved tables are: a temporary beside the
// file it replaces, renamed over it only when complete, so a failed export leaves what was
// there. A device, a FIFO or a folder at the path is refused (/dev/null must not become a
// plain file); a link is followed to a regular file, which is replaced while the link stays.
// The replaced file's permission bits are kept, and the temporary goes on SIGINT, SIGTERM
// and SIGHUP.
class ExportFile {
public:
    ~ExportFile() {
        file_.close();
        platform::discard_temporary(temp_);
    }

    bool open(const QString& path, QString& error) {
        std::string reason;
        const std::optional<std::string> target =
            platform::replace_target(QFile::encodeName(path).toStdString(), reason);
        if (!target) return fail(reason, error);
        target_ = *target;
        std::optional<platform::TempFile> temp = platform::create_temporary(target_, reason);
        if (!temp) return fail(reason, error);
        temp_ = std::move(*temp);
        // The descriptor stays ours: commit_temporary syncs and closes it.
        if (!file_.open(temp_.fd, QIODevice::WriteOnly, QFileDevice::DontCloseHandle)) {
            error = device_error();
            return false;
        }
        return true;
    }

    QIODevice& device() { return file_; }

    bool commit(QString& error) {
        if (!file_.flush()) {
            error = device_error();
            return false;
        }
        file_.close();
        platform::keep_permissions(temp_.fd, target_);
        std::string reason;
        if (!platform::commit_temporary(temp_, target_, reason)) return fail(reason, error);
        return true;
    }

    QString device_error() const {
        const QString reason = file_.errorString();
        return reason.isEmpty() ? QStringLiteral("cannot write the file") : reason;
    }

private:
    static bool fail(const std::string& reason, QString& error) {
        error = QString::fromLocal8Bit(reason.c_str());
        return false;
    }

    std::string target_;
    platform::TempFile temp_;
    QFile file_;
};

bool write_whole(const QString& path, const QByteArray& bytes, QString& error) {
    ExportFile file;
    if (!file.open(path, error)) return false;
    if (file.device().write(bytes) != bytes.size()) {
        error = file.device_error();
        return false;
    }
    return file.commit(error);
}

// The console is the message log; Qt's notes about fonts or platforms do not belong in it.
void quiet_message_handler(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

}  // namespace

namespace {

// The picture's logical frame, at least one unit each way.
QSizeF logical_size(const EmfPicture& picture) {
    const Rect f = picture.logical_frame();
    return QSizeF(std::max(1.0, static_cast<double>(f.right) - f.left),
                  std::max(1.0, static_cast<double>(f.bottom) - f.top));
}

// The size `sizing` asks for, before it is checked against what an image may be.
std::optional<std::pair<double, double>> wanted_png_size(const EmfPicture& picture, const PngSizing& sizing) {
    if (sizing.dpi > 0)
        return std::make_pair(std::max(1.0, std::round(picture_width_mm(picture) / 25.4 * sizing.dpi)),
                              std::max(1.0, std::round(picture_height_mm(picture) / 25.4 * sizing.dpi)));
    if (sizing.dpi < 0 || sizing.width < 0 || sizing.height < 0) return std::nullopt;
    const QSizeF logical = logical_size(picture);
    const double lw = logical.width(), lh = logical.height();
    double box_w = sizing.width, box_h = sizing.height;
    if (box_w == 0 && box_h == 0) (lw >= lh ? box_w : box_h) = kDefaultPngLongestSide;
    // The side that limits the scale is the box's exactly; the other follows the aspect,
    // never past its own side of the box.
    const bool by_width = box_h == 0 || (box_w != 0 && box_w / lw <= box_h / lh);
    if (by_width) {
        const double h = std::max(1.0, std::round(box_w * lh / lw));
        return std::make_pair(box_w, box_h == 0 ? h : std::min(h, box_h));
    }
    const double w = std::max(1.0, std::round(box_h * lw / lh));
    return std::make_pair(box_w == 0 ? w : std::min(w, box_w), box_h);
}

}  // namespace

std::optional<PixelSize> png_size(const EmfPicture& picture, const PngSizing& sizing) {
    const auto wanted = wanted_png_size(picture, sizing);
    if (!wanted || wanted->first > kMaxPngSide || wanted->second > kMaxPngSide) return std::nullopt;
    return PixelSize{static_cast<int>(wanted->first), static_cast<int>(wanted->second)};
}

std::optional<PixelSize> png_size(const EmfPicture& picture, int dpi) {
    if (dpi <= 0) return std::nullopt;
    return png_size(picture, PngSizing::at_dpi(dpi));
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
    ExportFile file;
    if (!file.open(path, error)) return false;
    {
        QPdfWriter pdf(&file.device());
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
            return false;
        }
        std::string play_error;
        const double dots_per_pt = pdf.resolution() / 72.0;
        const QRectF target(0, 0, w_pt * dots_per_pt, h_pt * dots_per_pt);
        const bool played = paint_picture(painter, picture, target, &play_error);
        painter.end();
        if (!played) {
            error = QStringLiteral("cannot play the picture: ") + QString::fromStdString(play_error);
            return false;
        }
    }
    return file.commit(error);
}

namespace {

// libpng reports its errors by a long jump back to the caller's setjmp. Every call into it
// goes through a member here whose frame holds nothing to destroy, so the jump skips no
// destructor; the message is kept for the caller.
class PngStream {
public:
    explicit PngStream(QIODevice& file) : file_(file) {
        png_ = png_create_write_struct(PNG_LIBPNG_VER_STRING, this, &PngStream::on_error, &PngStream::on_warning);
        if (png_) info_ = png_create_info_struct(png_);
        if (!png_ || !info_) std::snprintf(message_, sizeof message_, "not enough memory for the PNG writer");
    }
    ~PngStream() { png_destroy_write_struct(&png_, &info_); }
    PngStream(const PngStream&) = delete;
    PngStream& operator=(const PngStream&) = delete;

    bool start(int width, int height, double dots_per_metre_x, double dots_per_metre_y) {
        if (!info_) return false;
        if (setjmp(png_jmpbuf(png_))) return false;
        png_set_write_fn(png_, this, &PngStream::on_write, &PngStream::on_flush);
        png_set_IHDR(png_, info_, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
                     PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
        png_set_pHYs(png_, info_, static_cast<png_uint_32>(std::lround(dots_per_metre_x)),
                     static_cast<png_uint_32>(std::lround(dots_per_metre_y)), PNG_RESOLUTION_METER);
        png_write_info(png_, info_);
        // The rows come as QImage::Format_RGB32 holds them: one 32-bit 0xffRRGGBB a pixel.
#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
        png_set_bgr(png_);
        png_set_filler(png_, 0, PNG_FILLER_AFTER);
#else
        png_set_filler(png_, 0, PNG_FILLER_BEFORE);
#endif
        return true;
    }

    bool write_rows(const QImage& band, int rows) {
        if (setjmp(png_jmpbuf(png_))) return false;
        for (int y = 0; y < rows; ++y) png_write_row(png_, band.constScanLine(y));
        return true;
    }

    bool finish() {
        if (setjmp(png_jmpbuf(png_))) return false;
        png_write_end(png_, nullptr);
        return true;
    }

    const char* message() const { return message_; }
    bool device_failed() const { return device_failed_; }

private:
    static void on_error(png_structp png, png_const_charp text) {
        auto* self = static_cast<PngStream*>(png_get_error_ptr(png));
        if (self->message_[0] == '\0') std::snprintf(self->message_, sizeof self->message_, "%s", text);
        png_longjmp(png, 1);
    }
    static void on_warning(png_structp, png_const_charp) {}
    static void on_write(png_structp png, png_bytep data, size_t length) {
        auto* self = static_cast<PngStream*>(png_get_io_ptr(png));
        QIODevice* file = &self->file_;
        if (file->write(reinterpret_cast<const char*>(data), static_cast<qint64>(length)) != static_cast<qint64>(length)) {
            self->device_failed_ = true;
            png_error(png, "cannot write the file");
        }
    }
    static void on_flush(png_structp) {}

    QIODevice& file_;
    bool device_failed_ = false;
    png_structp png_ = nullptr;
    png_infop info_ = nullptr;
    char message_[256] = {};
};

}  // namespace

bool export_png(const EmfPicture& picture, const QString& path, int dpi, QString& error) {
    return export_png(picture, path, PngSizing::at_dpi(dpi), error);
}

bool export_png(const EmfPicture& picture, const QString& path, const PngSizing& sizing, QString& error,
                int band_rows) {
    const auto size = png_size(picture, sizing);
    if (!size) {
        const auto wanted = wanted_png_size(picture, sizing);
        if (!wanted)
            error = QStringLiteral("no image size was asked for");
        else if (sizing.dpi > 0)
            error = QStringLiteral("a picture of %1 x %2 mm at %3 dpi is too large for an image (%4 x %5 pixels; at most "
                                   "%6 a side); choose a lower resolution")
                        .arg(std::lround(picture_width_mm(picture)))
                        .arg(std::lround(picture_height_mm(picture)))
                        .arg(sizing.dpi)
                        .arg(static_cast<long long>(wanted->first))
                        .arg(static_cast<long long>(wanted->second))
                        .arg(kMaxPngSide);
        else
            error = QStringLiteral("an image of %1 x %2 pixels is too large (at most %3 a side); choose a smaller size")
                        .arg(static_cast<long long>(wanted->first))
                        .arg(static_cast<long long>(wanted->second))
                        .arg(kMaxPngSide);
        return false;
    }
    const int width = size->width, height = size->height;
    const long long budget_rows = std::max(1LL, kPngBandBytes / (4LL * width));
    const int rows = static_cast<int>(std::min<long long>(band_rows > 0 ? band_rows : budget_rows, height));
    QImage band(width, rows, QImage::Format_RGB32);
    if (band.isNull()) {
        error = QStringLiteral("not enough memory for an image of %1 x %2 pixels").arg(width).arg(rows);
        return false;
    }
    ExportFile file;
    if (!file.open(path, error)) return false;
    // The resolution asked for, or the one at which the fitted image covers the picture's
    // physical size; either way it prints at that size.
    const double dpm_x = sizing.dpi > 0 ? sizing.dpi / 0.0254 : width / (picture_width_mm(picture) / 1000.0);
    const double dpm_y = sizing.dpi > 0 ? sizing.dpi / 0.0254 : height / (picture_height_mm(picture) / 1000.0);
    PngStream png(file.device());
    if (!png.start(width, height, dpm_x, dpm_y)) {
        error = QString::fromLocal8Bit(png.message());
        return false;
    }
    const QRectF target(0, 0, width, height);
    for (int top = 0; top < height; top += rows) {
        // White rather than transparent, as the picture looks on paper and in the preview.
        band.fill(Qt::white);
        std::string play_error;
        bool played;
        {
            // A whole number of rows up, so every band is rasterised on the same pixel grid
            // as one image would be and no seam shows where two bands meet.
            QPainter painter(&band);
            painter.translate(0, -top);
            played = paint_picture(painter, picture, target, &play_error);
        }
        if (!played) {
            error = QStringLiteral("cannot play the picture: ") + QString::fromStdString(play_error);
                return false;
        }
        if (!png.write_rows(band, std::min(rows, height - top))) {
            error = png.device_failed() ? file.device_error() : QString::fromLocal8Bit(png.message());
                return false;
        }
    }
    if (!png.finish()) {
        error = png.device_failed() ? file.device_error() : QString::fromLocal8Bit(png.message());
        return false;
    }
    return file.commit(error);
}

bool export_picture(const EmfPicture& picture, PictureFormat format, const QString& path, int dpi, QString& error) {
    return export_picture(picture, format, path, PngSizing::at_dpi(dpi), error);
}

bool export_picture(const EmfPicture& picture, PictureFormat format, const QString& path, const PngSizing& sizing,
                    QString& error) {
    switch (format) {
        case PictureFormat::svg: return export_svg(picture, path, error);
        case PictureFormat::pdf: return export_pdf(picture, path, error);
        case PictureFormat::png: return export_png(picture, path, sizing, error);
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
