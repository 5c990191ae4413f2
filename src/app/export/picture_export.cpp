#include "app/export/picture_export.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPdfWriter>
#include <QXmlStreamReader>
#include <QXmlStreamWriter>
#include <QtGlobal>
#include <vector>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>

#include "app/export/picture_mime.h"
#include "base/platform.h"
#include "app/export/qt_canvas.h"

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

QSizeF logical_size(const EmfPicture& picture) {
    const Rect f = picture.logical_frame();
    return QSizeF(std::max(1.0, static_cast<double>(f.right) - f.left),
                  std::max(1.0, static_cast<double>(f.bottom) - f.top));
}

// The console is the message log; Qt's notes about fonts or platforms do not belong in it.
void quiet_message_handler(QtMsgType type, const QMessageLogContext&, const QString& message) {
    if (type == QtCriticalMsg || type == QtFatalMsg)
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
}

}  // namespace

double picture_width_mm(const EmfPicture& picture) {
    const double w = (static_cast<double>(picture.frame.right) - picture.frame.left) / 100.0;
    // A frame without extent says nothing; fall back to the logical size on the reference display.
    if (w > 0) return w;
    const double per_px = picture.display.horz_px > 0 ? static_cast<double>(picture.display.horz_mm) / picture.display.horz_px : 0.25;
    return logical_size(picture).width() * per_px;
}

double picture_height_mm(const EmfPicture& picture) {
    const double h = (static_cast<double>(picture.frame.bottom) - picture.frame.top) / 100.0;
    if (h > 0) return h;
    const double per_px = picture.display.vert_px > 0 ? static_cast<double>(picture.display.vert_mm) / picture.display.vert_px : 0.25;
    return logical_size(picture).height() * per_px;
}

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

namespace {

struct Glyph {
    QXmlStreamAttributes attributes;
    QString x, text;
};

bool same_but_x(const QXmlStreamAttributes& a, const QXmlStreamAttributes& b) {
    auto without_x = [](const QXmlStreamAttributes& attrs) {
        QStringList out;
        for (const QXmlStreamAttribute& at : attrs)
            if (at.qualifiedName() != u"x") out << at.qualifiedName().toString() + u'=' + at.value().toString();
        return out;
    };
    return without_x(a) == without_x(b);
}

void write_run(QXmlStreamWriter& out, const std::vector<Glyph>& run) {
    QStringList xs;
    QString text;
    for (const Glyph& g : run) {
        xs << g.x;
        text += g.text;
    }
    out.writeStartElement(QStringLiteral("text"));
    for (const QXmlStreamAttribute& at : run.front().attributes) {
        if (at.qualifiedName() == u"x")
            out.writeAttribute(QStringLiteral("x"), xs.join(u' '));
        else
            out.writeAttribute(at.qualifiedName().toString(), at.value().toString());
    }
    out.writeCharacters(text);
    out.writeEndElement();
}

}  // namespace

QByteArray join_text_runs(const QByteArray& svg) {
    QXmlStreamReader in(svg);
    // Names as written, so the output declares its namespaces exactly as the input does.
    in.setNamespaceProcessing(false);
    QByteArray joined;
    QXmlStreamWriter out(&joined);
    std::vector<Glyph> run;
    auto flush = [&] {
        if (!run.empty()) write_run(out, run);
        run.clear();
    };
    while (!in.atEnd()) {
        in.readNext();
        if (in.isStartElement() && in.name() == u"text") {
            Glyph g{in.attributes(), in.attributes().value(QStringLiteral("x")).toString(), {}};
            g.text = in.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
            if (in.hasError()) break;
            // One character a position; anything else is kept as it is.
            const bool joinable = g.text.size() == 1 && !g.x.isEmpty() && !g.x.contains(u' ');
            if (!run.empty() && (!joinable || !same_but_x(run.front().attributes, g.attributes))) flush();
            run.push_back(std::move(g));
            if (!joinable) flush();
            continue;
        }
        if (in.isWhitespace() && !run.empty()) continue;
        flush();
        if (in.tokenType() != QXmlStreamReader::Invalid) out.writeCurrentToken(in);
    }
    if (in.hasError()) return svg;
    return joined;
}

bool export_svg(const EmfPicture& picture, const QString& path, QString& error) {
    const QByteArray svg = join_text_runs(render_svg(picture));
    if (svg.isEmpty()) {
        error = QStringLiteral("the SVG renderer produced nothing");
        return false;
    }
    return write_whole(path, svg, error);
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
    ExportFile file;
    if (!file.open(path, error)) return false;
    QImageWriter writer(&file.device(), "png");
    if (!writer.write(image)) {
        error = writer.errorString();
        return false;
    }
    return file.commit(error);
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
